#include "PrivateDisplay.h"

#include <QApplication>
#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include <unistd.h>

// The panel tests need a QApplication on a display of this process's own, with the web engine's
// OpenGL sharing asked for before the application exists. The emulation value goes to a
// configuration folder of the test's own, never the user's. Listing the tests runs nothing.
int main(int argc, char** argv) {
    bool listing = false;
    for (int i = 1; i < argc; ++i)
        listing = listing || std::strcmp(argv[i], "--gtest_list_tests") == 0;
    std::unique_ptr<QTemporaryDir> config;
    std::unique_ptr<QApplication> app;
    if (!listing) {
        config = std::make_unique<QTemporaryDir>(QDir::tempPath() + "/velk-map-config-XXXXXX");
        qputenv("XDG_CONFIG_HOME", config->path().toUtf8());
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "xcb");
        if (qgetenv("QT_QPA_PLATFORM") == "xcb") velk::test::UsePrivateDisplay();
        // Chromium's sandbox refuses to start as root; the tests may run as root.
        if (geteuid() == 0 && qEnvironmentVariableIsEmpty("QTWEBENGINE_DISABLE_SANDBOX"))
            qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
        QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
        app = std::make_unique<QApplication>(argc, argv);
    }
    ::testing::InitGoogleTest(&argc, argv);
    const int result = RUN_ALL_TESTS();
    app.reset();
    return result;
}
