#include <QCoreApplication>
#include <gtest/gtest.h>

// Every test binary runs with a Qt application, so queued calls onto the
// main thread work as they do in the programs.
int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
