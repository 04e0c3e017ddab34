#pragma once
// What the journeys share: fast reads of the X server's pixels, the sound the viewer wrote, a
// card folder or a real card image, a map tile server on 127.0.0.1, and the main window's
// layout in the coordinates a person clicks.

#include "ViewerProcess.h"

#include <QImage>
#include <QPoint>
#include <QRect>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <vector>

struct _XDisplay; // Xlib's display, kept out of every file that includes this

namespace velk::test {

using Clock = std::chrono::steady_clock;

// Main window layout (window coordinates).
namespace layout {
inline const QRect kFront(0, 42, 720, 405);
inline const QRect kRear(720, 85, 360, 202); // the side panel's video host, below its top bar
inline const QRect kMap(720, 128, 360, 202); // the map in map mode, below the two bars
inline const QPoint kMapBarInViewerMode(900, 42 + 245 + 21);
inline const QRect kVehicle(0, 522, 720, 123);
inline const QRect kList(720, 364, 360, 281);
inline QPoint tab(int category) { return {720 + 120 * category + 60, 347}; }
inline QPoint row(int index) { return {800, 364 + 20 * index + 10}; }
inline QPoint titleButton(int x, int width = 47) { return {x + width / 2, 21}; }
inline const QPoint kZoom = titleButton(759);
inline const QPoint kMirror = titleButton(806);
inline const QPoint kSwitch = titleButton(853);
inline const QPoint kVersion = titleButton(900);
inline const QPoint kFullScreen = titleButton(990, 38);
inline const QPoint kClose = titleButton(1028, 38);
inline QPoint controlButton(int x) { return {x + 19, 447 + 27 + 19}; }
inline const QPoint kOpen = controlButton(17);
inline const QPoint kPrevious = controlButton(101);
inline const QPoint kNext = controlButton(377);
// A slider's point for position p of max: the groove runs the slider's width less its handle.
QPoint sliderPoint(const QRect& slider, int p, int max);
inline const QRect kSeekSlider(50, 447, 620, 20);
inline const QRect kSpeedSlider(507, 447 + 38, 90, 20);
inline const QRect kVolumeSlider(621, 447 + 38, 99, 20);
} // namespace layout

// Pixels straight from the X server (XGetImage): a few milliseconds for a small area, fast
// enough to see a single picture of a recording come and go.
class ScreenReader {
public:
    ScreenReader();
    ~ScreenReader();
    ScreenReader(const ScreenReader&) = delete;
    ScreenReader& operator=(const ScreenReader&) = delete;
    bool open() const { return m_display != nullptr; }
    QImage grab(const QRect& screenRect);

private:
    ::_XDisplay* m_display = nullptr;
};

// What the viewer shows in a picture area: frame code (-1 unreadable) and camera.
struct Picture {
    int frame = -1;
    bool mirrored = false;
    Camera camera = Camera::Unknown;
};
Picture ReadPicture(const QImage& area);

// Rows of the list area that show text (a row with a file name in it).
int TextRows(const QImage& listArea);
// Index of the highlighted (selected) row in the list area, -1 when none.
int SelectedRow(const QImage& listArea);
// Share of the pixels of rect in image within tolerance of colour.
double ColourShare(const QImage& image, const QRect& rect, QRgb colour, int tolerance);
// Share of the pixels of image that match picture (same size) within a small tolerance.
double ShareLike(const QImage& image, const QImage& picture);
// One of the program's pictures as the build drew it (png/N.png, bitmap/N.bmp).
QImage ProgramPicture(const std::string& kindAndNumber);
// The number the vehicle panel's speed digits (or, with rpm, the revolution digits) show in a
// grab of the panel; -1 when a digit matches no picture.
int VehicleNumber(const QImage& vehiclePanel, bool rpm);

// The sound SDL's disk driver wrote: signed 16-bit stereo frames (the engine asks for S16 and
// refuses any other format; rate and channels are the recording's, 48 kHz stereo by default).
constexpr int kAudioRate = 48000;
constexpr int kAudioFrameBytes = 4;
std::vector<std::int16_t> ReadSound(const std::string& path);
// First frame of each click (2 kHz burst, far above the hum) in channel 0.
std::vector<long> ClickFrames(const std::vector<std::int16_t>& sound, int threshold,
                              int rate = kAudioRate);

// Follows a growing file from a thread of its own: when each size was first seen.
class FileGrowth {
public:
    explicit FileGrowth(std::string path);
    ~FileGrowth();
    void stop();
    struct Step {
        Clock::time_point at;
        long size;
    };
    // Steps in order; valid after stop().
    const std::vector<Step>& steps() const { return m_steps; }

private:
    std::string m_path;
    std::atomic<bool> m_stop{false};
    std::vector<Step> m_steps;
    std::thread m_thread;
};

// Sets an environment variable for the programs this test starts; restores it at the end.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const std::string& value);
    ~ScopedEnv();

private:
    std::string m_name;
    std::optional<std::string> m_old;
};

// A card folder: recordings by relative path (e.g. "ory_rec/20200101_000000_N.mp4") with their
// make-recording options; the three folders always exist. Made once per key.
std::string CardFolder(const std::string& key,
                       const std::vector<std::pair<std::string, std::vector<std::string>>>& files);

// Map tiles for the web map, on 127.0.0.1 only: every GET of /Z/X/Y.png is one light-green
// tile. Serves on a thread of its own; stops after kMostRequests or when destroyed.
class TileServer {
public:
    static constexpr int kMostRequests = 3000;
    static constexpr QRgb kTileColour = 0xffb4e6b4;
    TileServer();
    ~TileServer();
    bool listening() const { return m_listener >= 0; }
    std::string tileTemplate() const;
    int served() const { return m_served.load(); }

private:
    void serve();
    int m_listener = -1;
    int m_port = 0;
    int m_wake[2] = {-1, -1};
    std::string m_tile;
    std::atomic<int> m_served{0};
    std::thread m_thread;
};

// A card as the kernel sees one: an ext4 image with a label, made from a folder, on a loop
// device mounted at a folder. Unmounts (lazily, like a card pulled out) and detaches whatever
// it mounted when it goes, also after a failed assertion.
class CardImage {
public:
    // Why this process cannot mount (not root, no mount namespace of its own); empty when it can.
    static std::string CannotMount();
    CardImage(const std::string& label, const std::string& contents);
    ~CardImage();
    bool mount(const std::string& folder);
    // Pulls the card: the file system leaves the mount table at once, open files or not.
    bool pull();
    const std::string& error() const { return m_error; }

private:
    std::string m_image;
    std::string m_mounted;
    std::string m_error;
};
void EnterPrivateMountNamespace();

// The ids of the top-level windows of pid named exactly title.
std::vector<std::string> WindowsOf(int pid, const std::string& title);
// Waits (hang guard) for such a window; its id or empty.
std::string WaitForWindow(int pid, const std::string& title, int guardMilliseconds = 15000);
// Focuses a window (there is no window manager) and presses keys in it.
void KeysTo(const std::string& window, const std::string& keys);
void TypeTo(const std::string& window, const std::string& text);
// Answers the message box of pid titled title with Enter, as a person does; true once it is gone.
bool AnswerBox(int pid, const std::string& title);
// The thread names of a process (/proc/PID/task/*/comm).
std::vector<std::string> ThreadNames(int pid);
// Process ids whose parent is pid.
std::vector<int> ChildrenOf(int pid);
void Pause(int milliseconds);

} // namespace velk::test
