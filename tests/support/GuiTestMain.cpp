#include <QApplication>
#include <gtest/gtest.h>

// Test binaries of the libraries with windows run under a QApplication
// (offscreen in CI), so real widgets can be built, shown and clicked.
int main(int argc, char** argv)
{
    // offscreen unless asked otherwise: the build lists the tests by running
    // this binary, on machines that may have no display
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // no test reaches the desktop's sound server (nor starts one): the test
    // that plays sound runs a private server and points here to it
    qputenv("PULSE_SERVER", "unix:/nonexistent/korvane-tests");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
