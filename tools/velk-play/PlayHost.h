#pragma once
// The window that stands in for the main window while the engine is exercised on its own: the
// two video hosts where the main window has them, one receiver object per panel the engine
// talks to, a play list, and a line-based command channel on standard input. Everything here
// runs on the user-interface thread; the engine reaches it only through posted messages and
// the queued panel calls.

#include "Engine.h"
#include "PanelCalls.h"

#include <QByteArray>
#include <QObject>
#include <QRect>
#include <QString>
#include <QStringList>
#include <QWidget>

#include <deque>
#include <functional>

class QSocketNotifier;

namespace velk {

class VideoHost;

struct PlayOptions {
    QStringList files;
    bool exitAtEnd = false;
    bool exitOnEof = false;
    double quitAfterSeconds = 0; // 0: no limit
};

// Stands for one panel: the handle the engine posts to, and the name printed with each message.
class MessageReceiver : public QObject {
public:
    using Handler = std::function<void(MessageReceiver* receiver, WindowMessage& message)>;
    MessageReceiver(const char* name, Handler handler, QObject* parent);
    const char* name() const { return m_name; }
    bool event(QEvent* event) override;

private:
    const char* m_name;
    Handler m_handler;
};

class PlayHost : public QWidget {
public:
    explicit PlayHost(PlayOptions options);
    ~PlayHost() override;

    // Shows the window, publishes the host windows and receivers, starts the first recording
    // and the command reader. Call once, with the event loop about to run.
    void begin();

    // Writes one line to standard output and flushes it.
    static void printLine(const QString& line);

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    class QueuedPanelCalls;

    void onMessage(MessageReceiver* receiver, WindowMessage& message);
    void onRecordingDone();
    void readInput();
    void runPendingCommands();
    void runCommand(const QString& line);
    void startPlayback(const QString& path);
    // Stops the playback this program started, if any; false when the engine did not stop.
    bool stopPlayback();
    bool waitForEngineIdle();
    // Quits as soon as no wait is in progress.
    void requestExit(const QString& reason);
    void quitAndExit(int code);
    void printFigures();
    // The main window's full-screen layout: the front host fills the screen and the engine's
    // flag scales the picture to match.
    void toggleFullScreenLayout();
    bool takeScreenshots(const QString& frontPath, const QString& rearPath, QString* error);

    PlayOptions m_options;
    QWidget* m_frontPanel = nullptr;
    QWidget* m_sidePanel = nullptr;
    VideoHost* m_frontHost = nullptr;
    VideoHost* m_rearHost = nullptr;
    MessageReceiver* m_control = nullptr;
    MessageReceiver* m_vehicle = nullptr;
    MessageReceiver* m_map = nullptr;
    MessageReceiver* m_main = nullptr;
    QueuedPanelCalls* m_panelCalls = nullptr;

    QSocketNotifier* m_input = nullptr;
    QByteArray m_inputBuffer;
    bool m_discardingLine = false; // dropping the rest of an overlong line
    std::deque<QString> m_pendingCommands;

    QStringList m_playList;
    int m_playIndex = -1;
    bool m_everStarted = false;    // engineRunning means something only after the first start
    bool m_playbackActive = false; // a playback was started and not yet stopped by us
    int m_busy = 0;                // inside a wait for the engine: commands and ends are held
    bool m_fullScreen = false;
    QRect m_normalGeometry;
    bool m_exitWanted = false;
    bool m_quitting = false;
};

} // namespace velk
