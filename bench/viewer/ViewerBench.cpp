// velk-viewer-bench: the viewer's figures, each beside a reference measured in the same run.
// The viewer runs as a separate process on a private X server and is driven through it as the
// e2e journeys drive it. Prints "row NAME|VALUE|REFERENCE|REFERENCE NAME|UNIT" lines that
// run.sh turns into one table.

#include "ChildProcess.h"
#include "Journey.h"
#include "PrivateDisplay.h"
#include "ViewerProcess.h"

#include <QGuiApplication>
#include <QStyleHints>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <csignal>
#include <unistd.h>

#include <X11/Xatom.h>
#include <X11/Xlib.h>

using namespace velk::test;
namespace fs = std::filesystem;

namespace {

std::string g_build;
std::string g_out;
int g_runs = 3;

double secondsSince(Clock::time_point t) {
    return std::chrono::duration<double>(Clock::now() - t).count();
}

double median(std::vector<double> v) {
    if (v.empty()) return -1;
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

void row(const std::string& name, double value, double reference, const std::string& refName,
         const std::string& unit) {
    std::printf("row %s|%.1f|%.1f|%s|%s\n", name.c_str(), value, reference, refName.c_str(),
                unit.c_str());
    std::fflush(stdout);
}

// Whether pid shows a mapped top-level window (by _NET_WM_PID) on the display.
bool showsWindow(Display* display, int pid) {
    const Atom pidAtom = XInternAtom(display, "_NET_WM_PID", True);
    if (pidAtom == 0) return false;
    Window root, parent, *children = nullptr;
    unsigned count = 0;
    if (!XQueryTree(display, DefaultRootWindow(display), &root, &parent, &children, &count))
        return false;
    bool found = false;
    for (unsigned i = 0; i < count && !found; ++i) {
        XWindowAttributes attributes;
        if (!XGetWindowAttributes(display, children[i], &attributes) ||
            attributes.map_state != IsViewable || attributes.width < 1000)
            continue;
        Atom type;
        int format;
        unsigned long items, after;
        unsigned char* data = nullptr;
        if (XGetWindowProperty(display, children[i], pidAtom, 0, 1, False, XA_CARDINAL, &type,
                               &format, &items, &after, &data) == Success &&
            data && items == 1)
            found = int(*reinterpret_cast<unsigned long*>(data)) == pid;
        if (data) XFree(data);
    }
    if (children) XFree(children);
    return found;
}

// Seconds from the start of program to its window on the screen.
double timeToWindow(Display* display, const std::vector<std::string>& program) {
    const auto start = Clock::now();
    const ChildProcess child = SpawnChild(program, false, false);
    double seconds = -1;
    while (secondsSince(start) < 60) {
        if (showsWindow(display, child.pid)) {
            seconds = secondsSince(start);
            break;
        }
        usleep(1000);
    }
    kill(child.pid, SIGKILL);
    WaitExit(child.pid);
    return seconds;
}

long cpuTicks(int pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    std::getline(stat, line);
    std::istringstream rest(line.substr(line.rfind(')') + 2));
    std::string field;
    long utime = 0, stime = 0;
    for (int i = 3; i <= 15 && rest >> field; ++i) {
        if (i == 14) utime = std::stol(field);
        if (i == 15) stime = std::stol(field);
    }
    return utime + stime;
}

long peakKilobytes(int pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmHWM:", 0) == 0) return std::stol(line.substr(6));
    return 0;
}

// The peak memory of pid and of every process below it, in kilobytes.
long treePeakKilobytes(int pid) {
    long total = peakKilobytes(pid);
    for (int child : ChildrenOf(pid)) total += treePeakKilobytes(child);
    return total;
}

// velk-bench's figures on a recording ("bench NAME VALUE" lines).
std::map<std::string, double> engineAlone(const std::string& recording) {
    std::istringstream out(ProgramOutput(
        {g_build + "/bench/velk-bench", "--file", recording, "--speed", "1"}));
    std::map<std::string, double> figures;
    std::string tag, name;
    double value;
    while (out >> tag >> name >> value)
        if (tag == "bench") figures[name] = value;
    return figures;
}

std::string makeRecording(const std::string& name, const std::vector<std::string>& options) {
    const std::string path = g_out + "/" + name;
    if (!fs::exists(path) && !MakeRecording(path, options)) {
        std::fprintf(stderr, "velk-viewer-bench: cannot make %s\n", path.c_str());
        std::exit(1);
    }
    return path;
}

// A card folder holding the given recordings (hard links) under ory_rec/.
std::string cardWith(const std::string& name, const std::vector<std::string>& recordings) {
    const std::string root = g_out + "/" + name;
    for (const char* folder : {"ory_rec", "evt_rec", "usr_rec"})
        fs::create_directories(root + "/" + folder);
    int i = 0;
    for (const std::string& recording : recordings) {
        char file[64];
        std::snprintf(file, sizeof file, "/ory_rec/20200101_%06d_N.mp4", i++);
        if (!fs::exists(root + file)) fs::create_hard_link(recording, root + file);
    }
    return root;
}

bool waitUntil(const std::function<bool()>& done, double guardSeconds) {
    const auto start = Clock::now();
    while (secondsSince(start) < guardSeconds) {
        if (done()) return true;
        usleep(1000);
    }
    return false;
}

} // namespace

int main(int argc, char** argv) {
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string a = argv[i];
        if (a == "--build") g_build = argv[i + 1];
        if (a == "--out") g_out = argv[i + 1];
        if (a == "--runs") g_runs = std::max(1, std::atoi(argv[i + 1]));
    }
    if (g_build.empty() || g_out.empty()) {
        std::fprintf(stderr, "usage: velk-viewer-bench --build BUILD --out FOLDER [--runs N]\n");
        return 2;
    }
    if (UsePrivateDisplay().empty()) {
        std::fprintf(stderr, "velk-viewer-bench: no X server\n");
        return 1;
    }
    setenv("VELK_NETWORK", "offline", 1);
    setenv("SDL_AUDIODRIVER", "dummy", 1);
    fs::create_directories(g_out);
    Display* display = XOpenDisplay(nullptr);
    ScreenReader screen;
    int guiArgc = 1;
    QGuiApplication gui(guiArgc, argv); // for the system's double-click time, as the viewer reads it
    const int doubleClickMs = QGuiApplication::styleHints()->mouseDoubleClickInterval();
    const std::string viewer = g_build + "/app/velk-viewer";

    // 1. Start to the main window on the screen, beside an empty Qt window's start.
    {
        std::vector<double> own, reference;
        const std::string runtime = g_out + "/runtime";
        fs::create_directories(runtime);
        fs::permissions(runtime, fs::perms::owner_all);
        setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
        setenv("QT_QPA_PLATFORM", "xcb", 1);
        for (int run = 0; run < g_runs; ++run) {
            reference.push_back(
                timeToWindow(display, {g_build + "/bench/viewer/velk-empty-window"}));
            own.push_back(timeToWindow(display, {viewer}));
        }
        row("start to main window shown", 1000 * median(own), 1000 * median(reference),
            "an empty Qt window shown", "ms");
    }

    // 2. A card folder of 10,000 recordings to filled lists, beside an empty card folder.
    {
        const std::string big = g_out + "/card-10000";
        if (!fs::exists(big + "/usr_rec/20200101_009999_U.mp4")) {
            const char* folders[] = {"ory_rec", "evt_rec", "usr_rec"};
            const char keys[] = {'N', 'E', 'U'};
            for (const char* folder : folders) fs::create_directories(big + "/" + folder);
            for (int i = 0; i < 10000; ++i) {
                const int c = i < 6000 ? 0 : i < 9000 ? 1 : 2;
                char name[96];
                std::snprintf(name, sizeof name, "%s/%s/20200101_%06d_%c.mp4", big.c_str(),
                              folders[c], i, keys[c]);
                std::ofstream(name) << "x";
            }
        }
        const std::string empty = cardWith("card-empty", {});
        std::vector<double> own, reference;
        for (int run = 0; run < g_runs; ++run) {
            auto start = Clock::now();
            {
                // The scan fills the lists before the window is up: both runs end at "ready".
                ViewerProcess p({big});
                if (p.waitForPrefix("list manual 1000") && p.waitForLine("ready"))
                    own.push_back(secondsSince(start));
            }
            start = Clock::now();
            {
                ViewerProcess p({empty});
                if (p.waitForLine("ready")) reference.push_back(secondsSince(start));
            }
        }
        row("card folder of 10,000 recordings: start to filled lists shown", 1000 * median(own),
            1000 * median(reference), "the same for an empty card folder", "ms");
    }

    // The recording of the playback figures, and the engine alone on it.
    const std::string recording = makeRecording(
        "viewer-bench-20s.mp4", {"--duration", "20", "--front", "1280x720", "--rear", "640x360"});
    const std::string shortOne = makeRecording(
        "viewer-bench-4s.mp4", {"--duration", "4", "--front", "1280x720", "--rear", "640x360"});
    auto engine = engineAlone(recording);
    const double engineFirst = engine["firstPictureSeconds"];
    const double engineCpu = engine["wallSeconds"] > 0
                                 ? engine["cpuSeconds"] / engine["wallSeconds"]
                                 : -1;

    const auto frontFrame = [&](ViewerProcess& p) {
        const QPoint origin = p.windowOrigin().value_or(QPoint());
        return ReadPicture(screen.grab(layout::kFront.translated(origin))).frame;
    };
    const QPoint firstRow = layout::row(0);

    // 3. Double click to the first picture; 5. CPU per second of playback at 1x.
    {
        const std::string card = cardWith("card-one", {recording});
        std::vector<double> own;
        double cpu = -1;
        for (int run = 0; run < g_runs; ++run) {
            ViewerProcess p({card});
            if (!p.waitForLine("ready") || !p.windowOrigin()) continue;
            p.click(firstRow.x(), firstRow.y(), 2);
            const auto clicked = Clock::now();
            if (waitUntil([&] { return frontFrame(p) >= 0; }, 30)) own.push_back(secondsSince(clicked));
            if (run > 0) continue;
            // One second in, against the end: no screen reads meanwhile, only the log.
            usleep(1000000);
            const long ticks0 = cpuTicks(p.pid());
            const auto t0 = Clock::now();
            if (p.waitForPrefix("msg 1048 ", 60000)) {
                const double wall = secondsSince(t0);
                cpu = double(cpuTicks(p.pid()) - ticks0) / double(sysconf(_SC_CLK_TCK)) / wall;
            }
        }
        row("double click to first picture", 1000 * median(own), 1000 * engineFirst,
            "engine alone: start to first picture", "ms");
        row("CPU per second of playback at 1x", 100 * cpu, 100 * engineCpu,
            "engine alone (velk-bench), goal <= 1.15x", "% of a core");
    }

    // 4. End of a recording to the next one's first picture.
    {
        const std::string card = cardWith("card-two", {shortOne, shortOne});
        std::vector<double> own;
        for (int run = 0; run < g_runs; ++run) {
            ViewerProcess p({card});
            if (!p.waitForLine("ready") || !p.windowOrigin()) continue;
            p.click(firstRow.x(), firstRow.y(), 2);
            if (!p.waitForPrefix("msg 1048 ", 60000)) continue;
            const auto ended = Clock::now();
            // The next recording starts from its frame 0, the last one showed frame 119.
            if (waitUntil([&] {
                    const int f = frontFrame(p);
                    return f >= 0 && f < 15;
                }, 30))
                own.push_back(secondsSince(ended));
        }
        row("end of a recording to the next one's first picture", 1000 * median(own),
            doubleClickMs + 1000 * engineFirst,
            "double-click wait + engine alone's first picture", "ms");
    }

    // 6. Peak memory, the map panel shown and not: a one-camera recording keeps the map up.
    {
        const std::string oneCamera = makeRecording(
            "viewer-bench-map.mp4", {"--duration", "10", "--front", "1280x720", "--no-rear"});
        const std::string card = cardWith("card-map", {oneCamera});
        const auto peak = [&](bool online) {
            TileServer tiles;
            if (online) {
                setenv("VELK_NETWORK", "online", 1);
                setenv("VELK_MAP_TILES", tiles.tileTemplate().c_str(), 1);
            }
            long kilobytes = -1;
            {
                ViewerProcess p({card});
                if (p.waitForLine("ready") && p.windowOrigin()) {
                    p.click(firstRow.x(), firstRow.y(), 2);
                    if (p.waitForPrefix(online ? "mapmove " : "msg 1045 ", 60000)) {
                        usleep(5000000);
                        kilobytes = treePeakKilobytes(p.pid());
                    }
                }
            }
            setenv("VELK_NETWORK", "offline", 1);
            unsetenv("VELK_MAP_TILES");
            return kilobytes;
        };
        const long without = peak(false);
        const long with = peak(true);
        auto engineMap = engineAlone(oneCamera);
        row("peak memory, map panel not shown (offline)", without / 1024.0,
            engineMap["peakKilobytes"] / 1024.0, "engine alone (velk-bench)", "MiB");
        row("peak memory, map panel shown (with its web engine)", with / 1024.0,
            without / 1024.0, "the viewer without the map", "MiB");
    }
    XCloseDisplay(display);
    return 0;
}
