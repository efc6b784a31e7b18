// Set-up every test binary runs before its first test: the station's
// application name and a private data folder, so no test ever touches the
// operator's real data.
#pragma once

#include <QString>

namespace station::test {

// Points XDG_DATA_HOME at a fresh temporary folder (unless CTest already gave
// one below the build tree), XDG_CONFIG_HOME at its config/, and sets the
// station's application name.
void initTestEnvironment();

} // namespace station::test

// QTEST_MAIN with the station's test environment. Widgets tests use the
// offscreen platform unless QT_QPA_PLATFORM says otherwise.
#define STATION_TEST_MAIN(TestObject)                                   \
    int main(int argc, char **argv)                                     \
    {                                                                   \
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))             \
            qputenv("QT_QPA_PLATFORM", "offscreen");                    \
        QApplication app(argc, argv);                                   \
        station::test::initTestEnvironment();                           \
        app.setAttribute(Qt::AA_Use96Dpi, true);                        \
        TestObject tc;                                                  \
        QTEST_SET_MAIN_SOURCE_PATH                                      \
        return QTest::qExec(&tc, argc, argv);                           \
    }

// The same for tests that need no widgets.
#define STATION_TEST_MAIN_CORE(TestObject)                              \
    int main(int argc, char **argv)                                     \
    {                                                                   \
        QCoreApplication app(argc, argv);                               \
        station::test::initTestEnvironment();                           \
        TestObject tc;                                                  \
        QTEST_SET_MAIN_SOURCE_PATH                                      \
        return QTest::qExec(&tc, argc, argv);                           \
    }
