// velk-viewer: plays the recordings of the dashcam's memory card. See --help.

#include "CVELKViewerApp.h"
#include "EventLog.h"

#include <QApplication>
#include <QCommandLineParser>

#include <cstdio>
#include <cstdlib>
#include <string_view>

int main(int argc, char** argv) {
    // The engine draws into X11 windows: Qt runs on xcb, also under Wayland (through XWayland).
    if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "xcb", 1);
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "-h" || arg == "--help") {
            std::puts(
                "Usage: velk-viewer [--verbose] [--network online|offline] [PATH]\n"
                "Plays the recordings of a VELK-T / VELK-RS memory card. The card is found by its\n"
                "volume label when it is mounted; PATH opens a folder with the card's layout\n"
                "(ory_rec/, evt_rec/, usr_rec/) as the card, or plays a recording file.\n"
                "  --verbose            one line per event on standard error\n"
                "  --network MODE       take the computer as online or offline for the map\n"
                "                       (default: ask the system)");
            return 0;
        }
    }
    if (qgetenv("QT_QPA_PLATFORM") == "xcb" && qEnvironmentVariableIsEmpty("DISPLAY")) {
        std::fprintf(stderr, "velk-viewer: no X display (DISPLAY is not set)\n");
        return 1;
    }
    QApplication app(argc, argv);
    QCommandLineParser parser;
    const QCommandLineOption verbose(QStringLiteral("verbose"));
    const QCommandLineOption network(QStringLiteral("network"), QString(), QStringLiteral("MODE"));
    parser.addOptions({verbose, network});
    parser.addPositionalArgument(QStringLiteral("path"), QString());
    if (!parser.parse(QCoreApplication::arguments())) {
        std::fprintf(stderr, "velk-viewer: %s (see --help)\n", qPrintable(parser.errorText()));
        return 2;
    }
    velk::SetEventLogEnabled(parser.isSet(verbose));
    if (parser.isSet(network)) {
        const QString mode = parser.value(network);
        if (mode != QLatin1String("online") && mode != QLatin1String("offline")) {
            std::fprintf(stderr, "velk-viewer: --network takes online or offline\n");
            return 2;
        }
        qputenv("VELK_NETWORK", mode.toUtf8());
    }
    const QStringList paths = parser.positionalArguments();
    velk::CVELKViewerApp viewer;
    return viewer.Run(paths.isEmpty() ? QString() : paths.front());
}
