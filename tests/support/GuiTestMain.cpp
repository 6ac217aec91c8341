#include <QApplication>
#include <gtest/gtest.h>

// Test binaries of the libraries with windows run under a QApplication
// (offscreen in CI), so real widgets can be built, shown and clicked.
int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
