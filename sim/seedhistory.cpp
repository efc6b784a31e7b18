#include "sim/seedhistory.h"

#include "common/datenum.h"
#include "record/sampledb.h"
#include "record/samplestore.h"
#include "sim/controllermodel.h"
#include "sim/registerbank.h"
#include "sim/registermap.h"

#include <QSqlQuery>

namespace station::sim {

namespace {

constexpr char kConnection[] = "seed";
constexpr float kOutputOn = 100.0f;
// Rows between two checkpoints while seeding: each row adds two pages to the
// -wal, so it stays below 2000 pages (8 MB) however many rows are seeded.
constexpr int kCheckpointRows = 1000;

} // namespace

std::array<float, 10> liveSampleOf(const RegisterBank &bank)
{
    std::array<float, 10> sample{};
    for (int i = 0; i < 8; ++i)
        sample[std::size_t(i)] = float(bank.input(reg::kPv1 + i));
    sample[8] = bank.discrete(reg::kOutput1) ? kOutputOn : 0.0f;
    sample[9] = bank.discrete(reg::kOutput2) ? kOutputOn : 0.0f;
    return sample;
}

int seedHistory(ControllerModel &model, const RegisterBank &bank, const QString &databasePath, int seconds,
                const QDateTime &end)
{
    int stored = 0;
    sampledb::Connection connection(QString::fromLatin1(kConnection), databasePath);
    if (!connection.open())
        return 0;
    QSqlDatabase db = connection.database();
    sampledb::upgradeSchema(db);  // an older file gains w_live and w_utc, as the recorder does
    // A past made up at start: no sync per row.
    QSqlQuery(db).exec(QStringLiteral("PRAGMA synchronous=NORMAL"));
    const sampledb::PointerRead read = sampledb::readPointer(db);
    std::int32_t pointer = read.pointer.value_or(0);
    if (pointer < 0 || pointer >= sampledb::kRingSize)
        pointer = 0;
    for (int k = seconds; k >= 1; --k) {
        model.step(1.0);
        const QDateTime t = end.addSecs(-k);
        sampledb::Sample sample;
        sample.id = pointer + 1;
        sample.date = dayNumber(t.date());
        sample.time = dayFraction(t.time());
        sample.values = liveSampleOf(bank);
        sample.live = true;  // the simulated controller answered every second of it
        sample.utc = t.toSecsSinceEpoch();
        if (sampledb::saveSample(db, sample) != sampledb::SaveResult::Saved)
            break;
        pointer = sample.id % sampledb::kRingSize;
        ++stored;
        // The station's connections leave checkpoints to the recorder; here
        // the seeding does them, or the -wal would hold every row seeded.
        if (stored % kCheckpointRows == 0)
            connection.checkpoint(sampledb::Checkpoint::Passive);
    }
    connection.checkpoint(sampledb::Checkpoint::Truncate);
    return stored;
}

} // namespace station::sim
