#include <gtest/gtest.h>

#include <QCoreApplication>

// Capture delivers its packets from the event loop, so these tests need an application.
int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
