#include "EngineTestSupport.h"

#include "PrivateDisplay.h"
#include "RecordingMaker.h"

#include <dirent.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <initializer_list>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace velk::test {

namespace fs = std::filesystem;

namespace {

// make-recording's output for these arguments; a failure ends the test with the tool's message.
std::string RunTool(const std::vector<std::string>& arguments) {
    const ProgramRun run = RunMakeRecording(arguments);
    if (run.status != 0)
        throw std::runtime_error("make-recording failed (" + std::to_string(run.status) +
                                 "): " + run.errors);
    return run.output;
}

std::vector<std::string> With(std::vector<std::string> options,
                              std::initializer_list<std::string> more) {
    options.insert(options.end(), more);
    return options;
}

} // namespace

std::string Recording(const std::vector<std::string>& options, const std::string& ext) {
    std::string key;
    for (const auto& o : options)
        key += o + "\x1f";
    const fs::path dir = fs::path(VELK_BINARY_DIR) / "test-recordings";
    fs::create_directories(dir);
    std::ostringstream name;
    name << std::hex << std::hash<std::string>{}(key) << "." << ext;
    const fs::path path = dir / name.str();
    if (!fs::exists(path)) {
        // Made under a private name and renamed, so parallel tests never read a half file.
        const fs::path partial =
            dir / (name.str() + ".part" + std::to_string(getpid()) + "." + ext);
        RunTool(With(options, {"--out", partial.string()}));
        fs::rename(partial, path);
    }
    return path.string();
}

std::vector<std::pair<int, std::string>>
RecordingTelemetry(const std::vector<std::string>& options) {
    const std::string scratch = ScratchFolder() + "/telemetry-table.mp4";
    const std::string table = RunTool(With(options, {"--print-telemetry", "--out", scratch}));
    fs::remove(scratch);
    std::vector<std::pair<int, std::string>> lines;
    std::istringstream in(table);
    std::string line;
    while (std::getline(in, line)) {
        auto tab = line.find('\t');
        if (tab == std::string::npos) continue;
        lines.emplace_back(std::stoi(line.substr(0, tab)), line.substr(tab + 1));
    }
    return lines;
}

RecordingPoster& Poster() {
    static RecordingPoster poster;
    return poster;
}

void SetUpEngineEnvironment() {
    static bool done = false;
    if (done) return;
    done = true;
    SetMessagePoster(&Poster());
    AppGlobals& g = Globals();
    g.panelCalls = &Poster();
    g.mainWindow = kMainWindow;
    g.vehicleInfoPanel = kVehiclePanel;
    g.mapPanel = kMapPanel;
    UsePrivateDisplay();
    if (StartMediaLayer() < 0) throw std::runtime_error("SDL Init error");
    // The graphics library it loads in the background keeps its driver's threads for the
    // process: they are part of every case's baseline, not threads a playback left.
    AwaitMediaLayer();
}

namespace {
// engineRunning is 1 before the first playback of the process; only a started one ends.
bool g_anyPlaybackStarted = false;
} // namespace

void StartPlayback(const std::string& path) {
    g_anyPlaybackStarted = true;
    Poster().clear();
    Globals().currentFilePath = path;
    StartPlayerThread(kControlPanel);
}

bool WaitEngineIdle(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (g_anyPlaybackStarted && engineRunning != 0) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

bool StopPlayback(std::chrono::milliseconds timeout) {
    RequestStop();
    return WaitEngineIdle(timeout);
}

std::vector<RecordedMessage> MessagesWithId(std::uint32_t id) {
    std::vector<RecordedMessage> out;
    for (auto& m : Poster().snapshot())
        if (m.id == id) out.push_back(m);
    return out;
}

int ThreadCount() {
    int count = 0;
    if (DIR* dir = opendir("/proc/self/task")) {
        while (dirent* entry = readdir(dir))
            if (entry->d_name[0] != '.') ++count;
        closedir(dir);
    }
    return count;
}

} // namespace velk::test
