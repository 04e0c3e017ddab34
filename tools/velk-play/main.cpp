// velk-play: plays recordings through the engine in a window laid out like the main window.
// See --help for the command and output formats.

#include "AppGlobals.h"
#include "Engine.h"
#include "PlayHost.h"
#include "QtMessagePoster.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QScreen>

#include <cstdio>
#include <cstdlib>
#include <string_view>

namespace {

const char kDescription[] = R"(Plays the recordings named on the command line through the playback
engine, one after another, in a 1080x645 window laid out like the main window (front host
720x405 at (0,42), rear host 360x202 at (720,42)). At the end of a recording (message 1048) or
when a recording cannot be opened (1049), the playback is stopped, and once the engine has
stopped the next file starts; after the last file the playback stays open unless --exit-at-end
is given. "open FILE" replaces the play list with FILE. Closing the window quits like "quit".

Commands, one per line on standard input; each answers "ok <command>" or "error <reason>":
  pause                 toggle pause
  seek-by N             relative seek (10: +10 s, -10: -10 s, -5: -5 s, any other: +5 s)
  seek-fraction N       seek to N thousandths of the duration (0..1000)
  speed N               playback speed factor (1..4)
  volume N              volume (0..128)
  swap                  swap the main and the small picture
  zoom | mirror | fullscreen-layout   toggle the view flag (the full-screen layout also
                        fills the screen with the front host and moves the rear host to the
                        bottom-right corner, where it stays visible)
  stop                  stop the playback and wait until the engine has stopped
  open FILE             stop, wait, then play FILE (the rest of the line; spaces allowed)
  figures               print the figures of the current or last playback
  screenshot FRONT.png REAR.png   save the pixels of the two host windows (paths without spaces)
  quit                  quit the engine, wait for it, print the figures and exit 0
Empty lines and lines starting with # are ignored.

Output, one line each, flushed at once:
  ready                                   the window and the media layer are up
  start PATH                              a playback of PATH was started
  stopped                                 a stopped playback's engine has ended
  msg ID RECEIVER WPARAM LPARAM           a message the engine posted
  msg ID RECEIVER WPARAM text TEXT        a message with its own text (1046/1047 telemetry);
                                          backslash, CR and LF escaped as \\ \r \n, other
                                          bytes outside printable ASCII as \xHH
  call ShowTotalTime MICROSECONDS         the read thread's direct call to the control panel
  call SelectViewerMode 0|1               the read thread's direct call to the map panel
  ok COMMAND | error REASON               the answer to a command
  exit REASON                             quitting: end of play list, time limit, end of input
  figures                                 followed by "figure NAME VALUE" lines, then
  end figures                             (printed by "figures" and always at exit)
RECEIVER is control (progress owner), vehicle, map or main. Figure names: picturesShown,
rearPicturesShown, droppedBeforeQueue, droppedAtDisplay, firstPictureSeconds,
videoMinusAudio{Count,Median,MedianAbs,P95Abs,Max,Min} (seconds, video clock minus audio clock
at each shown picture; Max = most ahead, Min = most behind), seekToPicture{Count,Median,
MedianAbs,P95Abs,Max,Min} (seconds from a seek request to its first picture),
telemetryDelivered; a value that does not exist is "none".

Exit status: 0 after a quit; 1 without an X display or when the media layer cannot start
("SDL Init error");
2 for a bad command line; 3 when the engine did not stop within 30 s of the quit.)";

// Both the help and the real run use this parser; the help needs no display.
struct Parser {
    QCommandLineParser parser;
    QCommandLineOption exitAtEnd{QStringLiteral("exit-at-end"),
                                 QStringLiteral("Quit after the end of the last file.")};
    QCommandLineOption exitOnEof{QStringLiteral("exit-on-eof"),
                                 QStringLiteral("Quit when standard input ends.")};
    QCommandLineOption quitAfter{QStringLiteral("quit-after"),
                                 QStringLiteral("Quit after SECONDS at the latest."),
                                 QStringLiteral("SECONDS")};
    Parser() {
        parser.setApplicationDescription(QString::fromUtf8(kDescription));
        parser.addHelpOption();
        parser.addOptions({exitAtEnd, exitOnEof, quitAfter});
        parser.addPositionalArgument(QStringLiteral("files"), QStringLiteral("Recordings to play."),
                                     QStringLiteral("[FILE...]"));
    }
};

bool helpAsked(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "-h" || arg == "--help" || arg == "--help-all" || arg == "-?") return true;
    }
    return false;
}

} // namespace

int main(int argc, char** argv) {
    if (helpAsked(argc, argv)) {
        QCoreApplication help(argc, argv);
        Parser p;
        p.parser.process(help); // prints and exits
        return 0;
    }
    // The engine wraps X11 windows: Qt must run on xcb, also under Wayland (through XWayland).
    if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "xcb", 1);
    if (std::string_view(std::getenv("QT_QPA_PLATFORM")) == "xcb" && !std::getenv("DISPLAY")) {
        std::fprintf(stderr, "velk-play: no X display (DISPLAY is not set)\n");
        return 1;
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("velk-play"));
    QApplication::setQuitOnLastWindowClosed(false);

    Parser p;
    if (!p.parser.parse(QCoreApplication::arguments())) {
        std::fprintf(stderr, "velk-play: %s (see --help)\n", qPrintable(p.parser.errorText()));
        return 2;
    }
    velk::PlayOptions options;
    options.files = p.parser.positionalArguments();
    options.exitAtEnd = p.parser.isSet(p.exitAtEnd);
    options.exitOnEof = p.parser.isSet(p.exitOnEof);
    if (p.parser.isSet(p.quitAfter)) {
        bool ok = false;
        options.quitAfterSeconds = p.parser.value(p.quitAfter).toDouble(&ok);
        if (!ok || options.quitAfterSeconds <= 0) {
            std::fprintf(stderr, "velk-play: --quit-after needs a number of seconds above 0\n");
            return 2;
        }
    }

    if (velk::StartMediaLayer() < 0) {
        std::fprintf(stderr, "SDL Init error\n");
        return 1;
    }
    velk::AppGlobals& g = velk::Globals();
    g.renderDriverIndex = -1; // no "direct3d" driver on this platform: SDL chooses
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        g.screenWidth = screen->geometry().width();
        g.screenHeight = screen->geometry().height();
    }

    velk::QtMessagePoster poster;
    velk::SetMessagePoster(&poster);
    int code = 0;
    {
        velk::PlayHost host(options);
        host.begin();
        code = QApplication::exec();
    }
    velk::SetMessagePoster(nullptr);
    return code;
}
