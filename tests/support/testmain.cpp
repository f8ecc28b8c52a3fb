// Shared main of the test programs: a Qt application object for event loops
// and queues (a widget application for the programs that test widgets), and a
// private CORVANE_HOME so no test can touch the user's files.
#include <QCoreApplication>
#include <QTemporaryDir>
#ifdef CORVANE_WIDGET_TESTS
#include <QApplication>
#endif

#include <gtest/gtest.h>

int main(int argc, char **argv)
{
    QTemporaryDir home;
    qputenv("CORVANE_HOME", home.path().toLocal8Bit());
#ifdef CORVANE_WIDGET_TESTS
    // Widget tests never open windows on the user's display, also when run
    // outside CTest (test discovery at build time runs them bare).
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
#else
    QCoreApplication app(argc, argv);
#endif
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
