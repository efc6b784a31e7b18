// A run of reads that go out one after another through the link thread, each
// stored on the GUI thread before the next is posted: the polling cycle and the
// program editor's block read.
//
//   read 1 posted -> link thread: exchange -> GUI thread: apply(reply 1),
//   yield (the observer, then one queued hop, so window events pending at that
//   moment run first) -> read 2 posted -> ... -> apply(reply n) -> finished
//
// Only one read of a chain is on the link thread's queue at a time, so a write
// posted by a window while the chain runs goes out between two of its reads.
// stop() ends the chain: its read that has not gone out yet is taken off the
// queue, the reply of one already on the line is not applied, and nothing more
// is posted. A chain never nests: start() while running does nothing.
#pragma once

#include "link/linkthread.h"

#include <QObject>

#include <functional>
#include <vector>

namespace station::link {

class ReadChain : public QObject {
    Q_OBJECT
public:
    struct Step {
        Request request;
        // Runs on the GUI thread with the reply, good or failed.
        std::function<void(const Reply &)> apply;
    };

    explicit ReadChain(QObject *parent = nullptr);
    ~ReadChain() override;

    // Starts the chain; finished runs on the GUI thread after the last step's
    // apply, unless the chain was stopped. False when a chain is running.
    bool start(std::vector<Step> steps, std::function<void()> finished);
    void stop();
    bool isRunning() const { return m_running; }

    // Called on the GUI thread at every yield, between two reads (tests watch
    // the yields through it; it may stop the chain).
    void setYield(std::function<void()> atYield) { m_atYield = std::move(atYield); }

private:
    void postStep();
    void onReply(quint64 run, const Reply &reply);

    std::vector<Step> m_steps;
    std::function<void()> m_finished;
    std::function<void()> m_atYield;
    std::size_t m_next = 0;
    quint64 m_run = 0;  // which start() a reply belongs to
    bool m_running = false;
};

} // namespace station::link
