#include "PlayProcess.h"

#include "ChildProcess.h"
#include "PrivateDisplay.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>

#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

namespace velk::test {

namespace {

// Only a guard against a hung program: no test result depends on how long anything takes.
constexpr int kSilenceGuardMilliseconds = 60000;

std::string g_scratch;

void cleanUp() {
    if (!g_scratch.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(g_scratch, ignored);
    }
}

void registerCleanUp() {
    static std::once_flag once;
    std::call_once(once, [] {
        std::signal(SIGPIPE, SIG_IGN); // a dead child must fail a test, not kill the runner
        std::atexit(cleanUp);
    });
}

std::string binary(const char* name) { return std::string(VELK_BINARY_DIR) + "/tools/" + name; }

} // namespace

std::string scratchFolder() {
    registerCleanUp();
    if (g_scratch.empty()) {
        char pattern[] = "/tmp/velkplay-XXXXXX";
        if (mkdtemp(pattern)) g_scratch = pattern;
    }
    return g_scratch;
}

std::string privateDisplay() {
    registerCleanUp();
    const std::string display = UsePrivateDisplay();
    if (display.empty()) return {};
    setenv("SDL_AUDIODRIVER", "dummy", 1);
    setenv("QT_QPA_PLATFORM", "xcb", 1);
    return display;
}

std::string recording(const std::string& name, const std::vector<std::string>& options) {
    static std::map<std::string, std::string> made;
    if (auto it = made.find(name); it != made.end()) return it->second;
    const std::string path = scratchFolder() + "/" + name;
    std::vector<std::string> arguments{binary("make-recording"), "--out", path,
                                       "--print-telemetry"};
    arguments.insert(arguments.end(), options.begin(), options.end());
    const ChildProcess maker = SpawnChild(
        arguments, false, false, scratchFolder() + "/make-recording.log", path + ".telemetry");
    if (maker.pid < 0 || WaitExit(maker.pid) != 0) return {};
    made[name] = path;
    return path;
}

std::set<std::string> writtenTelemetry(const std::string& recordingPath) {
    std::set<std::string> payloads;
    std::ifstream in(recordingPath + ".telemetry");
    for (std::string line; std::getline(in, line);)
        if (const auto tab = line.find('\t'); tab != std::string::npos)
            payloads.insert(line.substr(tab + 1));
    return payloads;
}

std::optional<Message> parseMessage(const std::string& line) {
    std::istringstream in(line);
    std::string word;
    Message m;
    if (!(in >> word) || word != "msg" || !(in >> m.id >> m.receiver >> m.wParam >> word))
        return std::nullopt;
    if (word == "text") {
        // The text is the rest of the line after exactly one space.
        const auto at = line.find(" text ");
        m.text = line.substr(at + 6);
        return m;
    }
    char* end = nullptr;
    m.lParam = std::strtoll(word.c_str(), &end, 10);
    if (*end) return std::nullopt;
    return m;
}

PlayProcess::PlayProcess(const std::vector<std::string>& arguments) {
    if (privateDisplay().empty()) return;
    std::vector<std::string> all{binary("velk-play")};
    all.insert(all.end(), arguments.begin(), arguments.end());
    const ChildProcess child = SpawnChild(all, true, true, scratchFolder() + "/velk-play.log");
    m_pid = child.pid;
    m_input = child.input;
    m_output = child.output;
}

PlayProcess::~PlayProcess() {
    if (m_input >= 0) close(m_input);
    if (m_output >= 0) close(m_output);
    if (m_pid > 0) {
        kill(m_pid, SIGKILL);
        WaitExit(m_pid);
    }
}

std::optional<std::string> PlayProcess::readLine() {
    if (m_output < 0) return std::nullopt;
    for (;;) {
        if (const auto end = m_buffer.find('\n'); end != std::string::npos) {
            std::string line = m_buffer.substr(0, end);
            m_buffer.erase(0, end + 1);
            m_lines.push_back(line);
            return line;
        }
        pollfd p{m_output, POLLIN, 0};
        const int ready = poll(&p, 1, kSilenceGuardMilliseconds);
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) {
            m_lines.push_back("[test: no output for a minute]");
            return std::nullopt;
        }
        char chunk[4096];
        const ssize_t n = read(m_output, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            close(m_output);
            m_output = -1;
            return std::nullopt;
        }
        m_buffer.append(chunk, size_t(n));
    }
}

std::optional<std::string>
PlayProcess::waitFor(const std::function<bool(const std::string&)>& match) {
    while (auto line = readLine())
        if (match(*line)) return line;
    return std::nullopt;
}

std::optional<std::string> PlayProcess::waitForLine(const std::string& exact) {
    return waitFor([&](const std::string& line) { return line == exact; });
}

std::optional<std::string> PlayProcess::waitForPrefix(const std::string& prefix) {
    return waitFor([&](const std::string& line) { return line.rfind(prefix, 0) == 0; });
}

std::string PlayProcess::command(const std::string& line) {
    if (m_input < 0) return "error [test: input closed]";
    const std::string sent = line + "\n";
    if (write(m_input, sent.data(), sent.size()) != ssize_t(sent.size()))
        return "error [test: could not write the command]";
    const std::string name = line.substr(0, line.find(' '));
    const auto answer = waitFor([&](const std::string& l) {
        return l == "ok " + name || l.rfind("ok " + name + " ", 0) == 0 ||
               l.rfind("error ", 0) == 0;
    });
    return answer ? *answer : "error [test: no answer]";
}

int PlayProcess::finish() {
    if (m_input >= 0) {
        close(m_input);
        m_input = -1;
    }
    while (readLine()) {
    }
    if (m_pid <= 0) return -1;
    // The output closes as the program exits; a program that closed it and still runs is hung.
    for (int i = 0; i < 300; ++i) {
        int status = 0;
        const int done = waitpid(m_pid, &status, WNOHANG);
        if (done == m_pid) {
            m_pid = -1;
            return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        }
        usleep(100000);
    }
    kill(m_pid, SIGKILL);
    WaitExit(m_pid);
    m_pid = -1;
    return -1;
}

std::string PlayProcess::tail(std::size_t count) const {
    std::string out =
        "last lines of velk-play (stderr in " + scratchFolder() + "/velk-play.log):\n";
    for (std::size_t i = m_lines.size() > count ? m_lines.size() - count : 0; i < m_lines.size();
         ++i)
        out += "  " + m_lines[i] + "\n";
    return out;
}

std::optional<Screens> takeScreenshots(PlayProcess& play) {
    static int counter = 0;
    ++counter;
    const std::string front = scratchFolder() + "/front-" + std::to_string(counter) + ".png";
    const std::string rear = scratchFolder() + "/rear-" + std::to_string(counter) + ".png";
    if (play.command("screenshot " + front + " " + rear) != "ok screenshot") return std::nullopt;
    Screens s{QImage(QString::fromStdString(front)), QImage(QString::fromStdString(rear))};
    std::remove(front.c_str());
    std::remove(rear.c_str());
    if (s.front.isNull() || s.rear.isNull()) return std::nullopt;
    return s;
}

} // namespace velk::test
