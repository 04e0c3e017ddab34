#include "PlayHost.h"

#include "AppGlobals.h"
#include "EventLog.h"
#include "FigureReport.h"
#include "QtMessagePoster.h"
#include "VideoHost.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QEventLoop>
#include <QFileInfo>
#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>
#include <QSocketNotifier>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace velk {

namespace {

constexpr int kStopPollMilliseconds = 100;
// A playback that has not ended this long after Stop is reported instead of waited for forever.
constexpr int kStopLimitMilliseconds = 30000;
// Input without a line end is not let to grow without bound.
constexpr qsizetype kLongestCommand = 64 * 1024;

} // namespace

// The two direct calls arrive on the engine's read_thread. They are handed to the
// user-interface thread as queued calls, so they are printed in the order in which they and the
// posted messages were sent.
class PlayHost::QueuedPanelCalls : public PanelCalls {
public:
    explicit QueuedPanelCalls(QObject* context) : m_context(context) {}
    void ShowTotalTime(std::int64_t durationMicroseconds) override {
        QMetaObject::invokeMethod(
            m_context,
            [durationMicroseconds] {
                PlayHost::printLine(
                    QStringLiteral("call ShowTotalTime %1").arg(durationMicroseconds));
            },
            Qt::QueuedConnection);
    }
    void SelectViewerMode(bool hasRearPicture) override {
        QMetaObject::invokeMethod(
            m_context,
            [hasRearPicture] {
                PlayHost::printLine(
                    QStringLiteral("call SelectViewerMode %1").arg(hasRearPicture ? 1 : 0));
            },
            Qt::QueuedConnection);
    }

private:
    QObject* m_context;
};

MessageReceiver::MessageReceiver(const char* name, Handler handler, QObject* parent)
    : QObject(parent), m_name(name), m_handler(std::move(handler)) {}

bool MessageReceiver::event(QEvent* event) {
    if (event->type() != PostedMessageEvent::eventType()) return QObject::event(event);
    m_handler(this, static_cast<PostedMessageEvent*>(event)->message);
    return true;
}

PlayHost::PlayHost(PlayOptions options) : m_options(std::move(options)) {
    setWindowTitle(QStringLiteral("velk-play"));
    setFixedSize(1080, 645);
    setAutoFillBackground(true);
    QPalette grey = palette();
    grey.setColor(QPalette::Window, QColor(100, 100, 100));
    setPalette(grey);

    // Each host sits at (0,0) inside a native panel, as in the main window. SDL keeps the
    // position a window had when it was wrapped and moves it back there (and raises it within
    // its parent) whenever the engine resizes it: the layouts therefore move the panels only.
    m_frontPanel = new QWidget(this);
    m_frontPanel->setAttribute(Qt::WA_NativeWindow);
    m_frontPanel->setGeometry(0, 42, 720, 405);
    m_frontHost = new VideoHost(m_frontPanel);
    m_frontHost->setGeometry(0, 0, 720, 405);
    m_sidePanel = new QWidget(this);
    m_sidePanel->setAttribute(Qt::WA_NativeWindow);
    m_sidePanel->setGeometry(720, 42, 360, 288);
    m_rearHost = new VideoHost(m_sidePanel);
    m_rearHost->setGeometry(0, 0, 360, 202);

    auto handler = [this](MessageReceiver* r, WindowMessage& m) { onMessage(r, m); };
    m_control = new MessageReceiver("control", handler, this);
    m_vehicle = new MessageReceiver("vehicle", handler, this);
    m_map = new MessageReceiver("map", handler, this);
    m_main = new MessageReceiver("main", handler, this);
    m_panelCalls = new QueuedPanelCalls(this);
    m_playList = m_options.files;
}

PlayHost::~PlayHost() {
    if (Globals().panelCalls == m_panelCalls) Globals().panelCalls = nullptr;
    delete m_panelCalls;
}

void PlayHost::closeEvent(QCloseEvent* event) {
    // The engine still draws into the hosts: the window goes only by the ordinary quit.
    event->ignore();
    requestExit(QStringLiteral("window closed"));
}

void PlayHost::printLine(const QString& line) {
    const QByteArray bytes = line.toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

void PlayHost::begin() {
    show();
    // The engine wraps the hosts' X11 windows; they must exist and be mapped before it starts.
    AppGlobals& g = Globals();
    g.frontVideoHost = WindowHandle(m_frontHost->winId());
    g.rearVideoHost = WindowHandle(m_rearHost->winId());
    g.mainWindow = QtMessagePoster::HandleOf(m_main);
    g.vehicleInfoPanel = QtMessagePoster::HandleOf(m_vehicle);
    g.mapPanel = QtMessagePoster::HandleOf(m_map);
    g.panelCalls = m_panelCalls;
    QtMessagePoster::HandleOf(m_control);
    QCoreApplication::processEvents();
    printLine(QStringLiteral("ready"));

    if (fcntl(STDIN_FILENO, F_GETFD) != -1) {
        m_input = new QSocketNotifier(STDIN_FILENO, QSocketNotifier::Read, this);
        connect(m_input, &QSocketNotifier::activated, this, [this] { readInput(); });
    }
    if (m_options.quitAfterSeconds > 0) {
        const double limit = std::min(m_options.quitAfterSeconds, 86400.0 * 20);
        QTimer::singleShot(int(limit * 1000), this,
                           [this] { requestExit(QStringLiteral("time limit reached")); });
    }
    if (!m_playList.isEmpty()) {
        m_playIndex = 0;
        startPlayback(m_playList.front());
    }
}

void PlayHost::onMessage(MessageReceiver* receiver, WindowMessage& m) {
    const QLatin1String name(receiver->name());
    printLine(MessageLine(name, m));
    // The control panel moves on at the end of a recording. A recording that cannot be opened
    // is passed over the same way, so that a play list never stalls on it.
    if ((receiver == m_control && m.id == MsgEndOfPlayback) ||
        (receiver == m_main && m.id == MsgOpenFailed)) {
        onRecordingDone();
    }
}

void PlayHost::onRecordingDone() {
    // While busy, a playback is being stopped: whatever it still reports is history. After a
    // stop, its late messages are printed but change nothing.
    if (m_busy || !m_playbackActive || m_quitting) return;
    if (m_playIndex + 1 < m_playList.size()) {
        if (!stopPlayback()) return;
        ++m_playIndex;
        startPlayback(m_playList.at(m_playIndex));
        runPendingCommands(); // those that came in during the stop
    } else if (m_options.exitAtEnd) {
        requestExit(QStringLiteral("end of play list"));
    }
}

void PlayHost::readInput() {
    char buffer[4096];
    const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) return;
    if (n <= 0) {
        // End of input (or an unreadable input, which is treated alike).
        m_input->setEnabled(false);
        if (!m_inputBuffer.isEmpty()) {
            m_pendingCommands.push_back(QString::fromUtf8(m_inputBuffer));
            m_inputBuffer.clear();
        }
        runPendingCommands();
        if (m_options.exitOnEof) requestExit(QStringLiteral("end of input"));
        return;
    }
    m_inputBuffer.append(buffer, n);
    qsizetype end;
    while ((end = m_inputBuffer.indexOf('\n')) >= 0) {
        const QByteArray line = m_inputBuffer.left(end);
        m_inputBuffer.remove(0, end + 1);
        if (m_discardingLine)
            m_discardingLine = false; // the end of a line that was too long
        else
            m_pendingCommands.push_back(QString::fromUtf8(line));
    }
    if (m_inputBuffer.size() > kLongestCommand) {
        m_inputBuffer.clear();
        if (!m_discardingLine) {
            printLine(QStringLiteral("error a command line longer than %1 bytes was dropped")
                          .arg(kLongestCommand));
        }
        m_discardingLine = true;
    }
    runPendingCommands();
}

void PlayHost::runPendingCommands() {
    // Commands wait while the engine is being stopped: each one acts on a settled state.
    while (!m_busy && !m_quitting) {
        if (m_pendingCommands.empty()) {
            if (m_exitWanted) quitAndExit(0);
            return;
        }
        const QString line = m_pendingCommands.front();
        m_pendingCommands.pop_front();
        runCommand(line);
    }
}

void PlayHost::runCommand(const QString& rawLine) {
    const QString line = rawLine.trimmed();
    if (line.isEmpty() || line.startsWith(u'#')) return;
    const QStringList words = line.split(u' ', Qt::SkipEmptyParts);
    const QString& command = words.front();
    const auto ok = [&command] { printLine(QStringLiteral("ok ") + command); };
    const auto error = [](const QString& reason) { printLine(QStringLiteral("error ") + reason); };

    // The engine's command functions, taken as they are: no argument, or one whole number.
    struct EngineCommand {
        const char* name;
        void (*plain)();
        void (*withNumber)(int);
        int low, high;
    };
    static const EngineCommand engineCommands[] = {
        {"pause", RequestTogglePause, nullptr, 0, 0},
        {"swap", RequestSwapViews, nullptr, 0, 0},
        {"zoom", ToggleZoom, nullptr, 0, 0},
        {"mirror", ToggleMirror, nullptr, 0, 0},
        {"seek-by", nullptr, RequestSeekBy, -86400, 86400},
        {"seek-fraction", nullptr, RequestSeekToFraction, 0, 1000},
        {"speed", nullptr, SetSpeedFactor, 1, 4},
        {"volume", nullptr, RequestVolume, 0, 128},
    };
    for (const EngineCommand& c : engineCommands) {
        if (command != QLatin1String(c.name)) continue;
        if (c.plain) {
            if (words.size() != 1) return error(command + QStringLiteral(" takes no argument"));
            c.plain();
            return ok();
        }
        bool parsed = false;
        const int value = words.size() == 2 ? words.at(1).toInt(&parsed) : 0;
        if (!parsed || value < c.low || value > c.high) {
            return error(QStringLiteral("%1 needs one whole number from %2 to %3")
                             .arg(command)
                             .arg(c.low)
                             .arg(c.high));
        }
        c.withNumber(value);
        return ok();
    }

    if (command == u"open") {
        // The rest of the line is the path, spaces included.
        const QString path = line.mid(command.size()).trimmed();
        if (path.isEmpty()) return error(QStringLiteral("open needs a file"));
        if (!stopPlayback()) return error(QStringLiteral("open: the engine did not stop"));
        m_playList = QStringList{path};
        m_playIndex = 0;
        startPlayback(path);
        return ok();
    }
    if (words.size() == 3 && command == u"screenshot") {
        QString reason;
        if (!takeScreenshots(words.at(1), words.at(2), &reason)) return error(reason);
        return ok();
    }
    if (command == u"screenshot")
        return error(QStringLiteral("screenshot needs two files: FRONT.png REAR.png"));
    if (words.size() != 1) {
        const bool known = command == u"fullscreen-layout" || command == u"figures" ||
                           command == u"stop" || command == u"quit";
        return error(known ? command + QStringLiteral(" takes no argument")
                           : QStringLiteral("unknown command: ") + command.left(40));
    }
    if (command == u"fullscreen-layout") {
        toggleFullScreenLayout();
        return ok();
    }
    if (command == u"figures") {
        printFigures();
        return ok();
    }
    if (command == u"stop") {
        if (!stopPlayback()) return error(QStringLiteral("stop: the engine did not stop"));
        return ok();
    }
    if (command == u"quit") {
        ok();
        return quitAndExit(0);
    }
    error(QStringLiteral("unknown command: ") + command.left(40));
}

void PlayHost::startPlayback(const QString& path) {
    AppGlobals& g = Globals();
    g.currentFilePath = path.toStdString();
    g.currentFileName = QFileInfo(path).fileName().toStdString();
    if (!StartPlayerThread(QtMessagePoster::HandleOf(m_control))) {
        printLine(QStringLiteral("error the player thread did not start for ") + path);
        return;
    }
    g.playing = true;
    m_everStarted = true;
    m_playbackActive = true;
    printLine(QStringLiteral("start ") + path);
}

bool PlayHost::stopPlayback() {
    if (!m_playbackActive) return true;
    Globals().playing = false;
    RequestStop();
    if (!waitForEngineIdle()) return false;
    m_playbackActive = false;
    printLine(QStringLiteral("stopped"));
    return true;
}

bool PlayHost::waitForEngineIdle() {
    if (!m_everStarted) return true;
    ++m_busy;
    int waited = 0;
    while (engineRunning.load() != 0 && waited < kStopLimitMilliseconds) {
        QEventLoop loop;
        QTimer::singleShot(kStopPollMilliseconds, &loop, &QEventLoop::quit);
        loop.exec();
        waited += kStopPollMilliseconds;
    }
    // The player thread posts everything before it clears engineRunning: deliver what it sent
    // while this wait still holds back the reactions to it.
    QCoreApplication::sendPostedEvents();
    --m_busy;
    return engineRunning.load() == 0;
}

void PlayHost::requestExit(const QString& reason) {
    if (m_exitWanted || m_quitting) return;
    printLine(QStringLiteral("exit ") + reason);
    m_exitWanted = true;
    runPendingCommands();
}

void PlayHost::quitAndExit(int code) {
    m_quitting = true;
    if (m_everStarted) RequestQuit();
    if (!waitForEngineIdle()) {
        printLine(QStringLiteral("error the engine did not stop after quit"));
        printFigures();
        // Engine threads still run and use the hosts and receivers: leave without tearing down.
        std::fflush(stdout);
        ::_exit(3);
    }
    m_playbackActive = false;
    printFigures();
    QCoreApplication::exit(code);
}

void PlayHost::printFigures() {
    printLine(QStringLiteral("figures"));
    for (const std::string& line : FigureLines(CurrentPlaybackFigures()))
        printLine(QString::fromStdString(line));
    printLine(QStringLiteral("end figures"));
}

void PlayHost::toggleFullScreenLayout() {
    const QRect screen(0, 0, Globals().screenWidth, Globals().screenHeight);
    if (!m_fullScreen) {
        m_normalGeometry = geometry();
        setFixedSize(screen.size());
        setGeometry(screen);
        m_frontPanel->setGeometry(screen);
        m_frontHost->setGeometry(screen);
        // Unlike the main window, which hides the side panel, the rear host stays in sight in
        // the bottom-right corner: one can see that the engine no longer draws a picture there.
        m_sidePanel->move(screen.width() - 360, screen.height() - 288);
        m_sidePanel->raise();
    } else {
        m_frontPanel->setGeometry(0, 42, 720, 405);
        m_frontHost->setGeometry(0, 0, 720, 405);
        m_sidePanel->move(720, 42);
        setFixedSize(m_normalGeometry.size());
        setGeometry(m_normalGeometry);
    }
    m_fullScreen = !m_fullScreen;
    ToggleFullScreenLayout();
}

bool PlayHost::takeScreenshots(const QString& frontPath, const QString& rearPath, QString* error) {
    QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen) {
        *error = QStringLiteral("screenshot: no screen");
        return false;
    }
    // The engine draws with its own renderer: only the X server knows these pixels.
    const std::pair<VideoHost*, QString> shots[] = {{m_frontHost, frontPath},
                                                    {m_rearHost, rearPath}};
    for (const auto& [host, path] : shots) {
        const QPixmap pixels = screen->grabWindow(host->winId());
        if (pixels.isNull()) {
            *error = QStringLiteral("screenshot: could not grab the window for ") + path;
            return false;
        }
        if (!pixels.save(path, "PNG")) {
            *error = QStringLiteral("screenshot: could not write ") + path;
            return false;
        }
    }
    return true;
}

} // namespace velk
