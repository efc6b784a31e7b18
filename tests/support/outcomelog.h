// The outcomes of the writes as the journal gets them (link/writeoutcome.h),
// with the tags the windows attached (link/writetag.h), collected on the GUI
// thread for the writes queued after construction.
#pragma once

#include "link/linkthread.h"
#include "link/writeoutcome.h"
#include "link/writetag.h"

#include <QList>
#include <QObject>
#include <QTest>

namespace station::test {

class OutcomeLog : public QObject {
public:
    OutcomeLog()
    {
        // Outcomes of earlier writes are not this log's.
        link::linkThread().drain();
        link::writeOutcomes().deliver();
        connect(&link::writeOutcomes(), &link::WriteOutcomes::finished, this,
                [this](const link::WriteReport &report) { reports.append(report); });
    }

    // The tag of outcome n (0 the first), once it has come; an empty tag when
    // it did not come within two seconds or carried none.
    link::WriteTag tag(int n)
    {
        if (!QTest::qWaitFor([this, n] { return reports.size() > n; }, 2000))
            return {};
        return reports[n].tag.value<link::WriteTag>();
    }

    // The outcomes that have come for register reg, in order.
    QList<link::WriteOutcome> of(int reg) const
    {
        QList<link::WriteOutcome> out;
        for (const auto &r : reports)
            if (r.reg == reg)
                out.append(r.outcome);
        return out;
    }

    QList<link::WriteReport> reports;
};

} // namespace station::test
