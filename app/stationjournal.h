// What the station journals of its own (record/journal.h says where and how):
// its start and its end, "打开" and "关闭", the link lost and back as the
// indicator beside "打开" shows it, and every write with its outcome, named by
// the tag its window attached (link/writetag.h). All of it is noticed on the
// GUI thread and handed to the recorder (Recorder::journal), which writes it
// on its own thread; the recorder journals its faults and the clock's jumps
// itself.
//
//   start      version, data folder, database
//   open       port, device, baud rate, parity, address, whether it opened (and why not)
//   close      port
//   link-lost  the last error, the device, the last good reply
//   link-back  how long it was down: from the last good reply before to the first after
//   write      window, control, caption, register, value, the text entered, what
//              the display showed before, the outcome (answered, answered on
//              retry, failed, refused, replaced, dropped) and the results
//   end        how the station was ended: "退出", "Esc" or the signal
#pragma once

#include <QString>

namespace station {

class MainWindow;
class Recorder;

// Starts the journal of this run (its start event) and follows the window,
// the link and the writes from now on. The followers live as long as the recorder.
void startJournal(MainWindow &window, Recorder &recorder);

// The end event, the last of the run: call it once nothing more can happen
// (after the recorder's finish() and the link thread's).
void endJournal(Recorder &recorder, const MainWindow *window);

// The signal that is ending the station (SIGTERM, SIGINT, SIGHUP), for the end event.
void noteExitSignal(int signalNumber);

} // namespace station
