#include "PlayProcess.h"

#include "PrivateDisplay.h"
#include "RecordingMaker.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>

#include <sys/wait.h>
#include <unistd.h>

namespace velk::test {

namespace {

// Only a guard against a hung program: no test result depends on how long anything takes.
constexpr int kSilenceGuardMilliseconds = 60000;

std::string velkPlayLog() { return ScratchFolder() + "/velk-play.log"; }

} // namespace

std::string privateDisplay() {
    const std::string display = UsePrivateDisplay();
    if (display.empty()) return {};
    setenv("SDL_AUDIODRIVER", "dummy", 1);
    setenv("QT_QPA_PLATFORM", "xcb", 1);
    return display;
}

std::string recording(const std::string& name, const std::vector<std::string>& options) {
    static std::map<std::string, std::string> made;
    if (auto it = made.find(name); it != made.end()) return it->second;
    const std::string path = ScratchFolder() + "/" + name;
    std::vector<std::string> arguments{"--out", path, "--print-telemetry"};
    arguments.insert(arguments.end(), options.begin(), options.end());
    const ProgramRun maker = RunMakeRecording(arguments);
    if (maker.status != 0) {
        std::fprintf(stderr, "make-recording failed for %s: %s\n", name.c_str(),
                     maker.errors.c_str());
        return {};
    }
    std::ofstream(path + ".telemetry", std::ios::binary) << maker.output;
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
    std::vector<std::string> all{VELK_PLAY};
    all.insert(all.end(), arguments.begin(), arguments.end());
    const ChildProcess child = SpawnChild(all, true, true, velkPlayLog());
    m_pid = child.pid;
    m_input = child.input;
    m_output.open(child.output);
}

PlayProcess::~PlayProcess() {
    if (m_input >= 0) close(m_input);
    m_output.close();
    if (m_pid > 0) {
        kill(m_pid, SIGKILL);
        WaitExit(m_pid);
    }
}

std::optional<std::string> PlayProcess::readLine() {
    auto line = m_output.readLine(kSilenceGuardMilliseconds);
    if (!line && !m_output.ended()) m_output.note("[test: no output for a minute]");
    return line;
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
    return m_output.tail("last lines of velk-play (stderr in " + velkPlayLog() + "):", count);
}

std::optional<Screens> takeScreenshots(PlayProcess& play) {
    static int counter = 0;
    ++counter;
    const std::string front = ScratchFolder() + "/front-" + std::to_string(counter) + ".png";
    const std::string rear = ScratchFolder() + "/rear-" + std::to_string(counter) + ".png";
    if (play.command("screenshot " + front + " " + rear) != "ok screenshot") return std::nullopt;
    Screens s{QImage(QString::fromStdString(front)), QImage(QString::fromStdString(rear))};
    std::remove(front.c_str());
    std::remove(rear.c_str());
    if (s.front.isNull() || s.rear.isNull()) return std::nullopt;
    return s;
}

} // namespace velk::test
