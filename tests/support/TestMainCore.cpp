#include <QCoreApplication>
#include <gtest/gtest.h>

// Engine tests need an event loop for timers, sockets and queued signals, but no widgets.
int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
