#include "PrivateDisplay.h"
#include "QtMessagePoster.h"

#include <QApplication>

#include <gtest/gtest.h>

#include <cstring>
#include <memory>

// The panel tests need a QApplication on a real display (an Xvfb of this process's own) and the
// program's message channel: 1046 reaches the panel as it does in the viewer. Listing the tests,
// which the build does to register them with CTest, needs neither.
int main(int argc, char** argv) {
    bool listing = false;
    for (int i = 1; i < argc; ++i)
        listing = listing || std::strcmp(argv[i], "--gtest_list_tests") == 0;
    std::unique_ptr<QApplication> app;
    velk::QtMessagePoster poster;
    if (!listing) {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "xcb");
        if (qgetenv("QT_QPA_PLATFORM") == "xcb") velk::test::UsePrivateDisplay();
        // The playback test plays sound through SDL; no sound card is needed.
        if (qEnvironmentVariableIsEmpty("SDL_AUDIODRIVER")) qputenv("SDL_AUDIODRIVER", "dummy");
        app = std::make_unique<QApplication>(argc, argv);
        velk::SetMessagePoster(&poster);
    }
    ::testing::InitGoogleTest(&argc, argv);
    const int result = RUN_ALL_TESTS();
    velk::SetMessagePoster(nullptr);
    return result;
}
