#pragma once
// Test side of velk-play: a private X server, recordings made by make-recording, and the
// program itself as a child process whose output lines are read and whose input takes commands.

#include "ChildProcess.h"
#include "LineReader.h"
#include "ScreenReading.h"

#include <QImage>

#include <cstdint>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace velk::test {

// One Xvfb per test process, so that parallel tests never see each other's windows in their
// screenshots. Started on first use, stopped at process exit.
std::string privateDisplay();

// Makes (once per process) a recording with make-recording's options and returns its path.
std::string recording(const std::string& name, const std::vector<std::string>& options);

// The telemetry payloads make-recording wrote into a recording made by recording().
std::set<std::string> writtenTelemetry(const std::string& recordingPath);

// One parsed "msg ..." line.
struct Message {
    std::uint32_t id = 0;
    std::string receiver;
    long long wParam = 0;
    long long lParam = 0;
    std::optional<std::string> text;
};
std::optional<Message> parseMessage(const std::string& line);

class PlayProcess {
public:
    explicit PlayProcess(const std::vector<std::string>& arguments);
    ~PlayProcess();
    PlayProcess(const PlayProcess&) = delete;
    PlayProcess& operator=(const PlayProcess&) = delete;

    // Reads lines until one satisfies `match` and returns it; nullopt at the end of the output
    // or when the program stays silent for the hang guard (a minute). Every line read is kept.
    std::optional<std::string> waitFor(const std::function<bool(const std::string&)>& match);
    std::optional<std::string> waitForLine(const std::string& exact);
    std::optional<std::string> waitForPrefix(const std::string& prefix);

    // Sends a command and returns its answer line ("ok ..." or "error ...").
    std::string command(const std::string& line);

    // Closes the input and reads the output to its end; returns the exit status (-1 when the
    // program had to be killed or did not exit normally).
    int finish();

    const std::vector<std::string>& lines() const { return m_output.lines(); }
    std::string tail(std::size_t count = 30) const; // the last lines, for failure messages
    std::size_t mark() const { return m_output.lines().size(); }

private:
    std::optional<std::string> readLine();

    int m_pid = -1;
    int m_input = -1;
    LineReader m_output;
};

// The two host windows as they are on the screen.
struct Screens {
    QImage front;
    QImage rear;
};
std::optional<Screens> takeScreenshots(PlayProcess& play);

// The frame code of a screenshot (-1 when unreadable) and the camera it shows.
inline int frameCode(const QImage& image, bool* mirrored = nullptr) {
    return FrameCode(image, mirrored);
}
inline Camera cameraOf(const QImage& image) { return CameraOf(image); }

} // namespace velk::test
