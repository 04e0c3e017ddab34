#include "ViewerProcess.h"

#include "ChildProcess.h"
#include "PrivateDisplay.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <sstream>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace velk::test {

namespace {

std::string viewerBinary() { return std::string(VELK_BINARY_DIR) + "/app/velk-viewer"; }

// The window the viewer shows: its title is the program's title.
const char kWindowTitle[] = "^VELK Viewer v5\\.1\\.00$";

} // namespace

QImage ScreenShot() {
    static int counter = 0;
    const std::string file = ScratchFolder() + "/screen-" + std::to_string(++counter) + ".png";
    if (RunProgram({"import", "-window", "root", file}) != 0) return {};
    QImage image(QString::fromStdString(file));
    std::remove(file.c_str());
    return image;
}

ViewerProcess::ViewerProcess(const std::vector<std::string>& arguments,
                             const std::string& runtimeFolder) {
    if (UsePrivateDisplay().empty()) return;
    static int counter = 0;
    m_runtime = runtimeFolder;
    if (m_runtime.empty()) {
        m_runtime = ScratchFolder() + "/runtime-" + std::to_string(++counter);
        mkdir(m_runtime.c_str(), 0700);
    }
    // The lock and the socket of the single copy live here: tests running side by side never
    // see each other's copy.
    setenv("XDG_RUNTIME_DIR", m_runtime.c_str(), 1);
    setenv("QT_QPA_PLATFORM", "xcb", 1);
    setenv("QTWEBENGINE_DISABLE_SANDBOX", "1", 1);
    if (!std::getenv("SDL_AUDIODRIVER")) setenv("SDL_AUDIODRIVER", "dummy", 1);
    std::vector<std::string> all{viewerBinary(), "--verbose"};
    all.insert(all.end(), arguments.begin(), arguments.end());
    const ChildProcess child = SpawnChild(all, false, true, {}, {}, -1, true);
    m_pid = child.pid;
    m_log.open(child.output);
}

ViewerProcess::~ViewerProcess() {
    m_log.close();
    if (m_pid > 0) {
        kill(m_pid, SIGKILL);
        WaitExit(m_pid);
    }
}

std::optional<std::string>
ViewerProcess::waitFor(const std::function<bool(const std::string&)>& match, int guard) {
    // The guard bounds the whole wait: a program that keeps logging other lines ends it too.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(guard);
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              deadline - std::chrono::steady_clock::now())
                              .count();
        if (left < 0) return std::nullopt;
        auto line = m_log.readLine(int(left));
        if (!line) return std::nullopt;
        if (match(*line)) return line;
    }
}

std::optional<std::string> ViewerProcess::waitForLine(const std::string& exact, int guard) {
    return waitFor([&](const std::string& line) { return line == exact; }, guard);
}

std::optional<std::string> ViewerProcess::waitForPrefix(const std::string& prefix, int guard) {
    return waitFor([&](const std::string& line) { return line.rfind(prefix, 0) == 0; }, guard);
}

void ViewerProcess::drain() {
    while (m_log.readLine(0)) {
    }
}

std::vector<std::string> ViewerProcess::linesWith(const std::string& prefix,
                                                  std::size_t from) const {
    std::vector<std::string> out;
    const auto& all = m_log.lines();
    for (std::size_t i = from; i < all.size(); ++i)
        if (all[i].rfind(prefix, 0) == 0) out.push_back(all[i]);
    return out;
}

std::string ViewerProcess::tail(std::size_t count) const {
    return m_log.tail("last lines of the viewer's log:", count);
}

int ViewerProcess::waitExit(int guardMilliseconds) {
    if (m_pid <= 0) return -1;
    for (int waited = 0; waited <= guardMilliseconds; waited += 50) {
        int status = 0;
        if (waitpid(m_pid, &status, WNOHANG) == m_pid) {
            m_pid = -1;
            drain();
            return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        }
        drain();
        usleep(50000);
    }
    kill(m_pid, SIGKILL);
    WaitExit(m_pid);
    m_pid = -1;
    return -1;
}

bool ViewerProcess::running() {
    if (m_pid <= 0) return false;
    int status = 0;
    if (waitpid(m_pid, &status, WNOHANG) == m_pid) {
        m_pid = -1;
        return false;
    }
    return true;
}

std::optional<QPoint> ViewerProcess::windowOrigin() {
    if (m_origin) return m_origin;
    std::istringstream ids(ProgramOutput(
        {"xdotool", "search", "--all", "--pid", std::to_string(m_pid), "--name", kWindowTitle}));
    std::string id;
    if (!(ids >> id)) return std::nullopt;
    std::istringstream shell(ProgramOutput({"xdotool", "getwindowgeometry", "--shell", id}));
    std::string line;
    int x = -1, y = -1;
    while (std::getline(shell, line)) {
        if (line.rfind("X=", 0) == 0) x = std::atoi(line.c_str() + 2);
        if (line.rfind("Y=", 0) == 0) y = std::atoi(line.c_str() + 2);
    }
    if (x < 0 || y < 0) return std::nullopt;
    m_origin = QPoint(x, y);
    return m_origin;
}

void ViewerProcess::click(int x, int y, int count, int button) {
    const QPoint origin = windowOrigin().value_or(QPoint(0, 0));
    // One command, so the move and the click go through one connection in that order. Not
    // "mousemove --sync": this xdotool waits for a motion that never comes when the pointer
    // already is at the point (a second click on the same button), until the guard kills it.
    RunProgram({"xdotool", "mousemove", std::to_string(origin.x() + x),
                std::to_string(origin.y() + y), "click", "--repeat", std::to_string(count),
                "--delay", "60", std::to_string(button)});
}

void ViewerProcess::key(const std::string& keys) { RunProgram({"xdotool", "key", keys}); }

void ViewerProcess::type(const std::string& text) {
    RunProgram({"xdotool", "type", "--delay", "20", text});
}

QImage ViewerProcess::grab(const QRect& r) {
    const QPoint origin = windowOrigin().value_or(QPoint(0, 0));
    return ScreenShot().copy(r.translated(origin));
}

} // namespace velk::test
