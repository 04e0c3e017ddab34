// velk-bench: plays one recording through the engine in this process, into two X11 windows of
// the main window's host sizes, and prints what the benchmark table needs as "bench NAME VALUE"
// lines: the engine's figures, the process's own CPU time and peak memory over the playback,
// and how the telemetry lines arrived compared with the recording's own table.
//
//   velk-bench --file REC [--speed N] [--limit SECONDS] [--seeks P1,P2,...] [--settle SECONDS]
//              [--telemetry TABLE] [--start ready|at-once]
//   velk-bench --present-only PICTURES
//
// --present-only is the reference for the drawing: the same two windows and renderers, and
// PICTURES pairs of pictures of the engine's texture sizes uploaded and presented by SDL alone at
// 30 a second, without the engine.
//
// Without --seeks it plays REC from the start to its end (message 1048) or --limit. With
// --seeks it waits for the first picture, then seeks to each per-mille position in turn,
// waiting for the first picture after each seek and --settle seconds more, and stops.
// TABLE is make-recording's --print-telemetry output for REC ("KEY<TAB>LINE").
// --start ready (the default) starts the playback once the media layer's start-up work is done,
// as a driver starts one in a viewer that is up; at-once starts it straight after the media layer
// starts, as a program that plays as it starts, and so pays for that work too.

#include "AppGlobals.h"
#include "Engine.h"
#include "PanelCalls.h"
#include "VideoState.h"
#include "WindowMessages.h"

#include <SDL.h>
#include <X11/Xlib.h>
#include <dirent.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr velk::WindowHandle kMainWindow = 1;
constexpr velk::WindowHandle kVehiclePanel = 2;
constexpr velk::WindowHandle kMapPanel = 3;
constexpr velk::WindowHandle kControlPanel = 4;

// Keeps only what the figures need, so that the bench's own memory stays small beside the
// engine's: the vehicle panel's telemetry texts and the end and failure messages.
class BenchPoster : public velk::MessagePoster, public velk::PanelCalls {
public:
    void post(velk::WindowHandle target, velk::WindowMessage message) override {
        std::lock_guard lock(m_mutex);
        if (message.id == velk::MsgVehicleTelemetry && target == kVehiclePanel && message.text)
            m_telemetry.push_back(*message.text);
        if (message.id == velk::MsgEndOfPlayback && !m_ended) {
            m_ended = true;
            m_endedAt = Clock::now();
        }
        if (message.id == velk::MsgOpenFailed) m_failed = true;
        m_changed.notify_all();
    }
    void ShowTotalTime(std::int64_t) override {}
    void SelectViewerMode(bool) override {}

    // Waits for the end or a failure until deadline; true when one came.
    bool waitForEnd(Clock::time_point deadline) {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_until(lock, deadline, [&] { return m_ended || m_failed; });
    }
    bool failed() {
        std::lock_guard lock(m_mutex);
        return m_failed;
    }
    Clock::time_point endedAt() {
        std::lock_guard lock(m_mutex);
        return m_ended ? m_endedAt : Clock::now();
    }
    std::vector<std::string> telemetry() {
        std::lock_guard lock(m_mutex);
        return m_telemetry;
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<std::string> m_telemetry;
    bool m_ended = false;
    bool m_failed = false;
    Clock::time_point m_endedAt;
};

struct Options {
    int presentOnly = 0;
    std::string file;
    int speed = 1;
    double limitSeconds = 0;
    std::vector<int> seeks;
    double settleSeconds = 0.3;
    std::string telemetryTable;
    bool startAtOnce = false;
};

[[noreturn]] void usage(const char* why) {
    std::fprintf(stderr,
                 "velk-bench: %s\nusage: velk-bench --file REC [--speed 1..4] [--limit SECONDS] "
                 "[--seeks P1,P2,...] [--settle SECONDS] [--telemetry TABLE]\n"
                 "                 [--start ready|at-once]\n"
                 "       velk-bench --present-only PICTURES\n",
                 why);
    std::exit(2);
}

Options parse(int argc, char** argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (i + 1 >= argc) usage(("missing value for " + a).c_str());
        const char* v = argv[++i];
        if (a == "--file") {
            o.file = v;
        } else if (a == "--speed") {
            o.speed = std::atoi(v);
            if (o.speed < 1 || o.speed > 4) usage("--speed must be 1 to 4");
        } else if (a == "--limit") {
            o.limitSeconds = std::atof(v);
        } else if (a == "--settle") {
            o.settleSeconds = std::atof(v);
        } else if (a == "--present-only") {
            o.presentOnly = std::atoi(v);
            if (o.presentOnly <= 0) usage("--present-only needs a number of pictures");
        } else if (a == "--start") {
            if (std::strcmp(v, "ready") != 0 && std::strcmp(v, "at-once") != 0)
                usage("--start is ready or at-once");
            o.startAtOnce = std::strcmp(v, "at-once") == 0;
        } else if (a == "--telemetry") {
            o.telemetryTable = v;
        } else if (a == "--seeks") {
            std::stringstream in(v);
            std::string item;
            while (std::getline(in, item, ',')) {
                const int p = std::atoi(item.c_str());
                if (p < 0 || p > 1000) usage("--seeks positions are per mille, 0 to 1000");
                o.seeks.push_back(p);
            }
        } else {
            usage(("unknown option " + a).c_str());
        }
    }
    if (o.file.empty() && !o.presentOnly) usage("--file is required");
    return o;
}

double cpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_utime.tv_sec + u.ru_utime.tv_usec / 1e6 + u.ru_stime.tv_sec +
           u.ru_stime.tv_usec / 1e6;
}

long statusKilobytes(const char* field) {
    std::ifstream in("/proc/self/status");
    std::string line;
    const std::string key = std::string(field) + ":";
    while (std::getline(in, line))
        if (line.compare(0, key.size(), key) == 0) return std::atol(line.c_str() + key.size());
    return -1;
}

// CPU seconds of this process's live threads, summed by the group their name puts them in:
// "decode" (the decoder threads, and the read_thread with the codec's worker threads it
// starts), "renderer" (the GL driver's own threads: llvmpipe under Xvfb) and "other".
std::unordered_map<std::string, double> threadCpuByGroup() {
    std::unordered_map<std::string, double> groups;
    const double tick = static_cast<double>(sysconf(_SC_CLK_TCK));
    DIR* dir = opendir("/proc/self/task");
    if (!dir) return groups;
    while (dirent* entry = readdir(dir)) {
        if (entry->d_name[0] == '.') continue;
        std::ifstream in(std::string("/proc/self/task/") + entry->d_name + "/stat");
        std::string stat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        const auto open = stat.find('('), close = stat.rfind(')');
        if (open == std::string::npos || close == std::string::npos) continue;
        const std::string name = stat.substr(open + 1, close - open - 1);
        std::istringstream rest(stat.substr(close + 2));
        std::string field;
        std::vector<std::string> fields;
        while (rest >> field)
            fields.push_back(field);
        if (fields.size() < 13) continue;
        // After the name: state is field 3 of stat(5); utime and stime are fields 14 and 15.
        const double cpu = (std::atof(fields[11].c_str()) + std::atof(fields[12].c_str())) / tick;
        std::string group = "other";
        if (name == "decoder" || name == "read_thread")
            group = "decode";
        else if (name.rfind("llvmpipe", 0) == 0)
            group = "renderer";
        else if (name == "player")
            group = "player";
        groups[group] += cpu;
    }
    closedir(dir);
    return groups;
}

// Uploads and presents pictures of the engine's texture sizes into both windows, 30 a second,
// with SDL alone; prints its CPU figures.
int presentOnly(Window front, Window rear, int pictures) {
    SDL_SetHint(SDL_HINT_VIDEO_FOREIGN_WINDOW_OPENGL, "1");
    SDL_SetHint(SDL_HINT_RENDER_SCALE_QUALITY, "linear");
    SDL_Window* windows[2] = {SDL_CreateWindowFrom(reinterpret_cast<void*>(front)),
                              SDL_CreateWindowFrom(reinterpret_cast<void*>(rear))};
    const int sizes[2][2] = {{720, 405}, {360, 202}};
    SDL_Renderer* renderers[2] = {};
    SDL_Texture* textures[2] = {};
    std::vector<std::uint8_t> planes[2];
    for (int i = 0; i < 2; ++i) {
        if (!windows[i]) return 1;
        renderers[i] = SDL_CreateRenderer(windows[i], -1,
                                          SDL_RENDERER_ACCELERATED | SDL_RENDERER_PRESENTVSYNC |
                                              SDL_RENDERER_TARGETTEXTURE);
        if (!renderers[i]) return 1;
        textures[i] = SDL_CreateTexture(renderers[i], SDL_PIXELFORMAT_YV12,
                                        SDL_TEXTUREACCESS_STREAMING, sizes[i][0], sizes[i][1]);
        if (!textures[i]) return 1;
        planes[i].resize(static_cast<std::size_t>(sizes[i][0] * sizes[i][1] * 3 / 2));
    }
    const double cpuBefore = cpuSeconds();
    auto groupsBefore = threadCpuByGroup();
    double upload = 0, present = 0;
    const auto start = Clock::now();
    for (int n = 0; n < pictures; ++n) {
        for (int i = 0; i < 2; ++i) {
            const int w = sizes[i][0], h = sizes[i][1];
            std::uint8_t* y = planes[i].data();
            std::memset(y, 16 + n % 200, planes[i].size());
            const double t0 = velk::ThreadCpuSeconds();
            SDL_UpdateYUVTexture(textures[i], nullptr, y, w, y + w * h, w / 2,
                                 y + w * h + (w / 2) * (h / 2), w / 2);
            const double t1 = velk::ThreadCpuSeconds();
            SDL_SetRenderDrawColor(renderers[i], 0, 0, 0, 255);
            SDL_RenderClear(renderers[i]);
            SDL_RenderSetLogicalSize(renderers[i], i ? 1280 : 1920, i ? 720 : 1080);
            SDL_RenderClear(renderers[i]);
            SDL_RenderCopy(renderers[i], textures[i], nullptr, nullptr);
            SDL_RenderPresent(renderers[i]);
            upload += t1 - t0;
            present += velk::ThreadCpuSeconds() - t1;
        }
        std::this_thread::sleep_until(start + std::chrono::microseconds(33333 * (n + 1)));
    }
    auto groupsAfter = threadCpuByGroup();
    std::printf("bench presentOnlyPictures %d\n", pictures);
    std::printf("bench presentOnlyCpuSeconds %.3f\n", cpuSeconds() - cpuBefore);
    std::printf("bench presentOnlyUploadCpuSeconds %.3f\n", upload);
    std::printf("bench presentOnlyPresentCpuSeconds %.3f\n", present);
    std::printf("bench presentOnlyRendererThreadsCpuSeconds %.3f\n",
                groupsAfter["renderer"] - groupsBefore["renderer"]);
    std::printf("bench presentOnlyPeakKilobytes %ld\n", statusKilobytes("VmHWM"));
    for (int i = 0; i < 2; ++i) {
        SDL_DestroyTexture(textures[i]);
        SDL_DestroyRenderer(renderers[i]);
        SDL_DestroyWindow(windows[i]);
    }
    return 0;
}

// Nearest-rank quantile.
double quantile(std::vector<double> v, double q) {
    if (v.empty()) return NAN;
    std::sort(v.begin(), v.end());
    const auto rank = static_cast<std::size_t>(std::ceil(q * double(v.size())));
    return v[std::clamp<std::size_t>(rank, 1, v.size()) - 1];
}

void printDistribution(const char* name, const std::vector<double>& values) {
    std::vector<double> magnitudes;
    for (double v : values)
        magnitudes.push_back(std::fabs(v));
    std::printf("bench %sCount %zu\n", name, values.size());
    std::printf("bench %sMedian %.6f\n", name, quantile(values, 0.5));
    std::printf("bench %sP95 %.6f\n", name, quantile(values, 0.95));
    std::printf("bench %sP95Abs %.6f\n", name, quantile(magnitudes, 0.95));
    std::printf("bench %sMax %.6f\n", name,
                values.empty() ? NAN : *std::max_element(values.begin(), values.end()));
    std::printf("bench %sMin %.6f\n", name,
                values.empty() ? NAN : *std::min_element(values.begin(), values.end()));
}

// Delivered telemetry against the recording's table: a line counts when it is the next one of
// the table after the last counted line (in order) and was not delivered before (once).
void printTelemetry(const std::string& tablePath, const std::vector<std::string>& delivered) {
    std::ifstream in(tablePath);
    if (!in) {
        std::fprintf(stderr, "velk-bench: cannot read %s\n", tablePath.c_str());
        return;
    }
    std::vector<std::string> table;
    std::string line;
    while (std::getline(in, line)) {
        const auto tab = line.find('\t');
        if (tab != std::string::npos) table.push_back(line.substr(tab + 1));
    }
    std::unordered_map<std::string, std::size_t> indexOf;
    for (std::size_t i = 0; i < table.size(); ++i)
        indexOf.emplace(table[i], i);
    std::vector<bool> seen(table.size(), false);
    long inOrderOnce = 0, repeated = 0, outOfOrder = 0, unknown = 0;
    long last = -1;
    for (const auto& text : delivered) {
        auto it = indexOf.find(text);
        if (it == indexOf.end()) {
            ++unknown;
            continue;
        }
        const long at = static_cast<long>(it->second);
        if (seen[at]) {
            ++repeated;
        } else if (at < last) {
            ++outOfOrder;
            seen[at] = true;
        } else {
            ++inOrderOnce;
            seen[at] = true;
            last = at;
        }
    }
    std::printf("bench telemetryTableLines %zu\n", table.size());
    std::printf("bench telemetryPosted %zu\n", delivered.size());
    std::printf("bench telemetryInOrderOnce %ld\n", inOrderOnce);
    std::printf("bench telemetryRepeated %ld\n", repeated);
    std::printf("bench telemetryOutOfOrder %ld\n", outOfOrder);
    std::printf("bench telemetryUnknown %ld\n", unknown);
    for (std::size_t i = 0; i < table.size(); ++i)
        if (!seen[i]) {
            std::printf("bench telemetryFirstMissingIndex %zu\n", i);
            break;
        }
}

} // namespace

int main(int argc, char** argv) {
    const Options options = parse(argc, argv);

    // Two native windows stand in for the main window's video hosts, as the panels' native
    // child widgets do; the engine wraps them with SDL.
    Display* display = XOpenDisplay(nullptr);
    if (!display) {
        std::fprintf(stderr, "velk-bench: no X display (set DISPLAY, e.g. start Xvfb)\n");
        return 1;
    }
    const int screen = DefaultScreen(display);
    auto makeHost = [&](int x, int y, unsigned w, unsigned h) {
        Window win = XCreateSimpleWindow(display, RootWindow(display, screen), x, y, w, h, 0,
                                         BlackPixel(display, screen), BlackPixel(display, screen));
        XMapWindow(display, win);
        return win;
    };
    const Window front = makeHost(0, 42, 720, 405);
    const Window rear = makeHost(720, 42, 360, 202);
    XSync(display, False);

    BenchPoster poster;
    velk::SetMessagePoster(&poster);
    velk::AppGlobals& g = velk::Globals();
    g.panelCalls = &poster;
    g.mainWindow = kMainWindow;
    g.vehicleInfoPanel = kVehiclePanel;
    g.mapPanel = kMapPanel;
    g.frontVideoHost = front;
    g.rearVideoHost = rear;
    g.screenWidth = DisplayWidth(display, screen);
    g.screenHeight = DisplayHeight(display, screen);
    if (velk::StartMediaLayer() < 0) {
        std::fprintf(stderr, "velk-bench: SDL Init error\n");
        return 1;
    }
    velk::SetSpeedFactor(options.speed);
    if (options.presentOnly) {
        velk::AwaitMediaLayer(); // its windows and renderers need the library being loaded
        const int rc = presentOnly(front, rear, options.presentOnly);
        std::fflush(stdout);
        velk::StopMediaLayer();
        XDestroyWindow(display, front);
        XDestroyWindow(display, rear);
        XCloseDisplay(display);
        return rc;
    }

    if (!options.startAtOnce) velk::AwaitMediaLayer();
    const double cpuBefore = cpuSeconds();
    const auto startedAt = Clock::now();
    g.currentFilePath = options.file;
    if (!velk::StartPlayerThread(kControlPanel)) {
        std::fprintf(stderr, "velk-bench: cannot start the player thread\n");
        return 1;
    }
    const auto deadline = options.limitSeconds > 0
                              ? startedAt + std::chrono::duration_cast<Clock::duration>(
                                                std::chrono::duration<double>(options.limitSeconds))
                              : Clock::time_point::max();

    bool completed = true;
    if (options.seeks.empty()) {
        completed = poster.waitForEnd(deadline);
    } else {
        auto waitUntil = [&](auto pred, Clock::time_point until) {
            while (!pred()) {
                if (Clock::now() > until || poster.failed()) return false;
                std::this_thread::sleep_for(2ms);
            }
            return true;
        };
        completed = waitUntil([] { return velk::CurrentPlaybackFigures().picturesShown > 0; },
                              std::min(deadline, startedAt + 20s));
        for (std::size_t i = 0; completed && i < options.seeks.size(); ++i) {
            const std::size_t before = velk::CurrentPlaybackFigures().seekToPictureSeconds.size();
            velk::RequestSeekToFraction(options.seeks[i]);
            completed = waitUntil(
                [&] { return velk::CurrentPlaybackFigures().seekToPictureSeconds.size() > before; },
                std::min(deadline, Clock::now() + 10s));
            if (!completed) std::fprintf(stderr, "velk-bench: no picture after seek %zu\n", i);
            std::this_thread::sleep_for(std::chrono::duration<double>(options.settleSeconds));
        }
    }
    const auto endedAt = options.seeks.empty() && completed ? poster.endedAt() : Clock::now();
    const double cpuUsed = cpuSeconds() - cpuBefore;
    const velk::PlaybackFigures figures = velk::CurrentPlaybackFigures();
    const long peakKb = statusKilobytes("VmHWM");
    auto threadCpu = threadCpuByGroup();
    const long anonKb = statusKilobytes("RssAnon");
    const long fileKb = statusKilobytes("RssFile");

    velk::RequestStop();
    for (int i = 0; i < 2000 && velk::engineRunning; ++i)
        std::this_thread::sleep_for(10ms);
    const bool stopped = velk::engineRunning == 0;

    const double wall = std::chrono::duration<double>(endedAt - startedAt).count();
    std::printf("bench completed %d\n", completed ? 1 : 0);
    std::printf("bench openFailed %d\n", poster.failed() ? 1 : 0);
    std::printf("bench stopped %d\n", stopped ? 1 : 0);
    std::printf("bench speed %d\n", options.speed);
    std::printf("bench wallSeconds %.3f\n", wall);
    std::printf("bench cpuSeconds %.3f\n", cpuUsed);
    std::printf("bench peakKilobytes %ld\n", peakKb);
    // What the memory at the end is: the process's own (heap, frames, queues) or mapped files
    // (libraries, among them the GL driver's).
    std::printf("bench anonKilobytes %ld\n", anonKb);
    std::printf("bench fileKilobytes %ld\n", fileKb);
    std::printf("bench picturesShown %lld\n", static_cast<long long>(figures.picturesShown));
    std::printf("bench rearPicturesShown %lld\n",
                static_cast<long long>(figures.rearPicturesShown));
    std::printf("bench droppedBeforeQueue %lld\n",
                static_cast<long long>(figures.droppedBeforeQueue));
    std::printf("bench droppedAtDisplay %lld\n", static_cast<long long>(figures.droppedAtDisplay));
    std::printf("bench firstPictureSeconds %.6f\n", figures.firstPictureSeconds);
    std::printf("bench telemetryDelivered %lld\n",
                static_cast<long long>(figures.telemetryDelivered));
    std::printf("bench decodeThreadsCpuSeconds %.3f\n", threadCpu["decode"]);
    std::printf("bench rendererThreadsCpuSeconds %.3f\n", threadCpu["renderer"]);
    std::printf("bench scaleCpuSeconds %.3f\n", figures.scaleCpuSeconds);
    std::printf("bench uploadCpuSeconds %.3f\n", figures.uploadCpuSeconds);
    std::printf("bench presentCpuSeconds %.3f\n", figures.presentCpuSeconds);
    std::printf("bench drawings %lld\n", static_cast<long long>(figures.drawings));
    // The longest wait between two shown pictures once the first second has passed.
    double gap = 0;
    const auto& shown = figures.shownAtSeconds;
    for (std::size_t i = 1; i < shown.size(); ++i)
        if (shown[i - 1] - shown.front() >= 1.0) gap = std::max(gap, shown[i] - shown[i - 1]);
    std::printf("bench shownGapMaxAfterFirstSecond %.6f\n", gap);
    printDistribution("videoMinusAudio", figures.videoMinusAudio);
    printDistribution("videoMinusAudioFirstSecond", figures.videoMinusAudioFirstSecond);
    printDistribution("videoMinusAudioAfterSeek", figures.videoMinusAudioAfterSeek);
    printDistribution("frontMinusRear", figures.frontMinusRear);
    printDistribution("seekToPicture", figures.seekToPictureSeconds);
    if (!options.telemetryTable.empty()) printTelemetry(options.telemetryTable, poster.telemetry());
    std::fflush(stdout);

    if (stopped) velk::StopMediaLayer();
    velk::SetMessagePoster(nullptr);
    XDestroyWindow(display, front);
    XDestroyWindow(display, rear);
    XCloseDisplay(display);
    // A playback that would not stop leaves its threads running: leave without running the
    // static destructors they may still use.
    if (!stopped) std::_Exit(3);
    return completed ? 0 : 4;
}
