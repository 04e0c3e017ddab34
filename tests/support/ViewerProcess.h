#pragma once
// velk-viewer seen from outside, as a person uses it: the program as a child process on this
// test process's private X server, its event log (`--verbose`) read line by line, and the mouse
// and keyboard driven through the X server (xdotool), the screen read back with screenshots.

#include "ChildProcess.h"
#include "LineReader.h"
#include "RecordingMaker.h"
#include "ScreenReading.h"

#include <QImage>
#include <QPoint>
#include <QRect>

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace velk::test {

// The whole screen of the private display; a null image when it could not be read.
QImage ScreenShot();

class ViewerProcess {
public:
    // Starts velk-viewer --verbose with arguments. Each instance gets a runtime folder of its
    // own unless runtimeFolder names one (two copies of the program then share the lock).
    explicit ViewerProcess(const std::vector<std::string>& arguments,
                           const std::string& runtimeFolder = {});
    ~ViewerProcess();
    ViewerProcess(const ViewerProcess&) = delete;
    ViewerProcess& operator=(const ViewerProcess&) = delete;

    int pid() const { return m_pid; }
    const std::string& runtimeFolder() const { return m_runtime; }

    // Reads log lines until one satisfies match; nullopt when the log ends or none matched
    // within guardMilliseconds (a hang guard only). Every line read is kept.
    std::optional<std::string> waitFor(const std::function<bool(const std::string&)>& match,
                                       int guardMilliseconds = 60000);
    std::optional<std::string> waitForLine(const std::string& exact, int guard = 60000);
    std::optional<std::string> waitForPrefix(const std::string& prefix, int guard = 60000);
    // Reads what the program wrote so far without waiting.
    void drain();
    // Lines starting with prefix among those read so far, from index `from` on.
    std::vector<std::string> linesWith(const std::string& prefix, std::size_t from = 0) const;
    std::size_t mark() const { return m_log.lines().size(); }
    const std::vector<std::string>& lines() const { return m_log.lines(); }
    std::string tail(std::size_t count = 40) const;

    // Waits up to guardMilliseconds for the program to end; its exit status, -1 when it was
    // killed or did not end (it is then killed).
    int waitExit(int guardMilliseconds);
    bool running();

    // The main window's top-left corner on the screen (the window titled like the program).
    std::optional<QPoint> windowOrigin();
    // A left click (or count clicks) at (x, y) of the main window.
    void click(int x, int y, int count = 1, int button = 1);
    void rightClick(int x, int y) { click(x, y, 1, 3); }
    // Presses keys (xdotool key names: Return, space, Left, ...) on the focused window.
    void key(const std::string& keys);
    void type(const std::string& text);
    // The screen part that shows the main window's rectangle r (window coordinates).
    QImage grab(const QRect& r);

private:
    int m_pid = -1;
    std::string m_runtime;
    LineReader m_log; // standard output and error together
    std::optional<QPoint> m_origin;
};

} // namespace velk::test
