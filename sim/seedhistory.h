// A recorded past for the demo: the controller model run for a few minutes of
// simulated time, one sample per second stored through the recorder's own
// saving code, so the station's chart shows curves and real dates as soon as
// it starts.
#pragma once

#include <QDateTime>
#include <QString>

#include <array>

namespace station::sim {

class ControllerModel;
class RegisterBank;

// The live sample the station's poller would build from the bank: input
// registers 1..8, then 100 for each of discrete inputs 1 and 2 that is on.
std::array<float, 10> liveSampleOf(const RegisterBank &bank);

// Steps model by one second `seconds` times and stores each second's live
// sample as the row after the database's pointer, dated so that the last row
// is the second before `end`. The file at databasePath is created when missing;
// rows already in it stay, the ring going on after them. Returns the number of
// rows stored (fewer than `seconds` only when the database failed; the reason
// is on lcRecord).
int seedHistory(ControllerModel &model, const RegisterBank &bank, const QString &databasePath, int seconds,
                const QDateTime &end);

} // namespace station::sim
