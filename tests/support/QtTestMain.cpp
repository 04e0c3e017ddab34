// The main of every test program that needs widgets: a QApplication on an X server of the
// process's own, the program's message channel, sound through SDL's silent driver, the web
// engine usable as root, and a configuration folder of the test's own (never the user's).
// Listing the tests, which the build does to register them with CTest, needs none of it.
// VELK_TEST_LOG=1 writes the program's event log with a test's output.

#include "EventLog.h"
#include "PrivateDisplay.h"
#include "QtMessagePoster.h"

#include <QApplication>
#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include <unistd.h>

int main(int argc, char** argv) {
    bool listing = false;
    for (int i = 1; i < argc; ++i)
        listing = listing || std::strcmp(argv[i], "--gtest_list_tests") == 0;
    std::unique_ptr<QTemporaryDir> config;
    std::unique_ptr<QApplication> app;
    velk::QtMessagePoster poster;
    if (!listing) {
        config = std::make_unique<QTemporaryDir>(QDir::tempPath() + "/velk-test-config-XXXXXX");
        qputenv("XDG_CONFIG_HOME", config->path().toUtf8());
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "xcb");
        if (qgetenv("QT_QPA_PLATFORM") == "xcb") velk::test::UsePrivateDisplay();
        if (qEnvironmentVariableIsEmpty("SDL_AUDIODRIVER")) qputenv("SDL_AUDIODRIVER", "dummy");
        // Chromium's sandbox refuses to start as root; the tests may run as root.
        if (geteuid() == 0 && qEnvironmentVariableIsEmpty("QTWEBENGINE_DISABLE_SANDBOX"))
            qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
        // The web engine shares OpenGL contexts: asked for before the application exists.
        QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
        app = std::make_unique<QApplication>(argc, argv);
        velk::SetMessagePoster(&poster);
        velk::SetEventLogEnabled(qEnvironmentVariableIsSet("VELK_TEST_LOG"));
    }
    ::testing::InitGoogleTest(&argc, argv);
    const int result = RUN_ALL_TESTS();
    velk::SetMessagePoster(nullptr);
    app.reset();
    return result;
}
