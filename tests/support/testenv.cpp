#include "tests/support/testenv.h"

#include "common/datadir.h"

#include <QDir>
#include <QTemporaryDir>
#include <cstdlib>

namespace station::test {

void initTestEnvironment()
{
    // CTest sets STATION_TEST_DATA_HOME to a folder of the build tree; a test run by
    // hand gets a temporary folder that disappears with the process.
    QString home = qEnvironmentVariable("STATION_TEST_DATA_HOME");
    if (home.isEmpty()) {
        static QTemporaryDir temporary;
        home = temporary.path();
    } else {
        QDir(home).removeRecursively();
    }
    QDir().mkpath(home);
    qputenv("XDG_DATA_HOME", QDir(home).absolutePath().toLocal8Bit());
    // The configuration too (a successful "打开" is kept there for --resume).
    qputenv("XDG_CONFIG_HOME", QDir(home).absoluteFilePath(QStringLiteral("config")).toLocal8Bit());
    useStationApplicationName();
}

} // namespace station::test
