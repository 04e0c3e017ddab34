#include "EventLog.h"
#include "PrivateDisplay.h"

#include <QApplication>

#include <gtest/gtest.h>

#include <cstring>
#include <memory>

// The widget tests need a QApplication on a real display: an Xvfb of this process's own. Listing
// the tests, which the build does to register them with CTest, runs nothing and needs no display.
int main(int argc, char** argv) {
    bool listing = false;
    for (int i = 1; i < argc; ++i)
        listing = listing || std::strcmp(argv[i], "--gtest_list_tests") == 0;
    std::unique_ptr<QApplication> app;
    if (!listing) {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "xcb");
        if (qgetenv("QT_QPA_PLATFORM") == "xcb") velk::test::UsePrivateDisplay();
        app = std::make_unique<QApplication>(argc, argv);
    }
    // The event log goes with a failing test's output.
    velk::SetEventLogEnabled(qEnvironmentVariableIsSet("VELK_TEST_LOG"));
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
