// velk-play and the engine behind it, seen from outside: the messages the engine posts to each
// panel while real recordings play, what it draws into the two host windows (read back through
// the frame code strip of every picture), and the command channel.

#include "MessageLog.h"
#include "PlayProcess.h"

#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <X11/extensions/Xfixes.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <functional>
#include <map>
#include <ostream>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace velk::test {
namespace {

bool startsWith(const std::string& s, const std::string& prefix) { return s.rfind(prefix, 0) == 0; }

std::vector<Message> messagesOf(const std::vector<std::string>& lines, std::size_t from = 0) {
    std::vector<Message> out;
    for (std::size_t i = from; i < lines.size(); ++i)
        if (auto m = parseMessage(lines[i])) out.push_back(*m);
    return out;
}

std::vector<long long> valuesOf(const std::vector<Message>& messages, std::uint32_t id,
                                bool wParam) {
    std::vector<long long> out;
    for (const Message& m : messages)
        if (m.id == id && !m.text) out.push_back(wParam ? m.wParam : m.lParam);
    return out;
}

// "figure NAME VALUE" lines of the last figures block.
std::map<std::string, std::string> figuresOf(const std::vector<std::string>& lines) {
    std::map<std::string, std::string> figures;
    for (const std::string& line : lines) {
        if (line == "figures") figures.clear();
        if (!startsWith(line, "figure ")) continue;
        const auto space = line.find(' ', 7);
        figures[line.substr(7, space - 7)] = line.substr(space + 1);
    }
    return figures;
}

std::size_t indexOf(const std::vector<std::string>& lines, const std::string& prefix,
                    std::size_t from = 0) {
    for (std::size_t i = from; i < lines.size(); ++i)
        if (startsWith(lines[i], prefix)) return i;
    return std::string::npos;
}

// A recording fit for the view tests: every picture a key frame, so a seek lands exactly on
// the picture of its time.
std::string tenSecondsAllKeyFrames() {
    return recording("ten-intra.mp4", {"--duration", "10", "--front", "640x360", "--rear",
                                       "320x180", "--gop", "0.0333"});
}

// Waits until velk-play reports the playback's first position, i.e. pictures are flowing.
bool waitUntilPlaying(PlayProcess& play) {
    return play.waitForPrefix(LoggedMessage(MsgPosition, "control")).has_value();
}

// ---------------------------------------------------------------------------------------------
// One recording played to its end: the start sequence, the progress, the telemetry pairs and a
// single end message after which the playback reports nothing more.

struct EndCase {
    const char* name;
    const char* file;
    std::vector<std::string> options;
    double seconds;
    bool rear;
};

void PrintTo(const EndCase& c, std::ostream* out) { *out << c.name; }

class PlaysToOneEnd : public ::testing::TestWithParam<EndCase> {};

TEST_P(PlaysToOneEnd, ReportsStartProgressTelemetryAndOneEnd) {
    const EndCase& c = GetParam();
    const std::string file = recording(c.file, c.options);
    ASSERT_FALSE(file.empty()) << "make-recording failed";
    PlayProcess play({"--exit-at-end", "--quit-after", "60", file});
    ASSERT_EQ(play.finish(), 0) << play.tail();
    const auto& lines = play.lines();
    ASSERT_EQ(indexOf(lines, "exit time limit"), std::string::npos) << play.tail();
    EXPECT_EQ(indexOf(lines, "error"), std::string::npos) << play.tail();

    const std::size_t start = indexOf(lines, "start " + file);
    ASSERT_NE(start, std::string::npos) << play.tail();
    // The reset comes first; then the width class, the duration and the rear-picture choice.
    const std::size_t firstMessage = indexOf(lines, "msg ", start);
    ASSERT_NE(firstMessage, std::string::npos);
    EXPECT_EQ(lines[firstMessage], LoggedMessage(MsgVehicleTelemetry, "vehicle", 0, 0));
    const std::size_t speedRange = indexOf(lines, LoggedMessage(MsgSpeedRange), start);
    const std::size_t totalTime = indexOf(lines, "call ShowTotalTime ", start);
    const std::size_t viewerMode = indexOf(lines, "call SelectViewerMode ", start);
    ASSERT_NE(viewerMode, std::string::npos) << play.tail();
    EXPECT_EQ(lines[speedRange],
              LoggedMessage(MsgSpeedRange, "control", 0, 0)); // not a 1920-wide front picture
    EXPECT_LT(firstMessage, speedRange);
    EXPECT_LT(speedRange, totalTime);
    EXPECT_LT(totalTime, viewerMode);
    EXPECT_EQ(lines[viewerMode], std::string("call SelectViewerMode ") + (c.rear ? "1" : "0"));
    const long long durationUs = std::stoll(lines[totalTime].substr(19));
    EXPECT_NEAR(double(durationUs), c.seconds * 1e6, 0.1e6);

    const auto messages = messagesOf(lines, start);
    const long long wholeSeconds = durationUs / 1000000;
    const auto positions = valuesOf(messages, MsgPosition, true);
    if (wholeSeconds == 0) {
        EXPECT_TRUE(positions.empty()) << "a recording shorter than a second has no position";
    } else {
        ASSERT_FALSE(positions.empty());
        EXPECT_TRUE(std::is_sorted(positions.begin(), positions.end()));
        // The clock may run a little past the whole seconds it is divided by.
        const double bound = (durationUs / 1e6 + 0.1) * 1000.0 / double(wholeSeconds);
        EXPECT_GE(positions.front(), 0);
        EXPECT_LE(double(positions.back()), bound);
        EXPECT_GE(positions.back(), 800);
    }
    const auto seconds = valuesOf(messages, MsgElapsedSeconds, false);
    EXPECT_GE(seconds.size() + 1, std::size_t(wholeSeconds));
    for (std::size_t i = 0; i < seconds.size(); ++i) {
        EXPECT_LE(seconds[i], wholeSeconds);
        if (i > 0) {
            EXPECT_EQ(seconds[i], seconds[i - 1] + 1) << "MsgElapsedSeconds once per second";
        }
    }

    // Telemetry: each text goes to the vehicle panel and, right after, the same text to the map;
    // every text is a line the recording holds, whole and unchanged.
    const std::set<std::string> written = writtenTelemetry(file);
    ASSERT_FALSE(written.empty());
    long long pairs = 0;
    for (std::size_t i = start; i < lines.size(); ++i) {
        const auto m = parseMessage(lines[i]);
        if (!m || !m->text) continue;
        ASSERT_EQ(m->id, MsgVehicleTelemetry) << lines[i];
        EXPECT_EQ(m->receiver, "vehicle");
        EXPECT_TRUE(written.count(*m->text)) << "not in the recording: " << *m->text;
        ASSERT_LT(i + 1, lines.size());
        EXPECT_EQ(lines[i + 1], LoggedMessage(MsgMapTelemetry, "map") + "0 text " + *m->text);
        ++pairs;
        ++i;
    }
    EXPECT_GT(pairs, 0);

    // One end, and no progress or telemetry after it.
    const std::size_t end = indexOf(lines, LoggedMessage(MsgEndOfPlayback), start);
    ASSERT_NE(end, std::string::npos) << play.tail();
    EXPECT_EQ(lines[end], LoggedMessage(MsgEndOfPlayback, "control", 0, 0));
    for (const Message& m : messagesOf(lines, end + 1))
        EXPECT_TRUE(m.id != MsgPosition && m.id != MsgElapsedSeconds &&
                    m.id != MsgVehicleTelemetry && m.id != MsgMapTelemetry &&
                    m.id != MsgEndOfPlayback)
            << "message " << m.id << " after the end";

    const auto figures = figuresOf(lines);
    ASSERT_FALSE(figures.empty()) << play.tail();
    const long long shown = std::stoll(figures.at("picturesShown"));
    EXPECT_GT(shown, 0);
    EXPECT_LE(shown, std::lround(c.seconds * 30));
    EXPECT_NE(figures.at("firstPictureSeconds"), "none");
    EXPECT_EQ(std::stoll(figures.at("rearPicturesShown")) > 0, c.rear);
    EXPECT_EQ(std::stoll(figures.at("telemetryDelivered")), pairs);
}

INSTANTIATE_TEST_SUITE_P(
    Recordings, PlaysToOneEnd,
    ::testing::Values(EndCase{"FrontRearAudio",
                              "four.mp4",
                              {"--duration", "4", "--front", "640x360", "--rear", "320x180"},
                              4,
                              true},
                      EndCase{"FrontOnlySilent",
                              "two-front.mp4",
                              {"--duration", "2", "--front", "640x360", "--no-rear", "--no-audio"},
                              2,
                              false},
                      EndCase{"ShorterThanOneSecond",
                              "sub-second.mp4",
                              {"--duration", "0.6", "--front", "640x360", "--rear", "320x180"},
                              0.6,
                              true}),
    [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------------------------
// A play list: each playback ends once and the next starts only after the engine stopped; a
// file that cannot be opened is reported to the main window and passed over.

TEST(VelkPlay, PlaysAListInTurnAndPassesOverAMissingFile) {
    const std::string shortFile = recording(
        "sub-second.mp4", {"--duration", "0.6", "--front", "640x360", "--rear", "320x180"});
    ASSERT_FALSE(shortFile.empty());
    const std::string missing = ScratchFolder() + "/no-such-recording.mp4";
    PlayProcess play({"--exit-at-end", "--quit-after", "60", shortFile, missing, shortFile});
    ASSERT_EQ(play.finish(), 0) << play.tail();
    const auto& lines = play.lines();
    ASSERT_EQ(indexOf(lines, "exit end of play list"), indexOf(lines, "exit ")) << play.tail();

    std::vector<std::size_t> starts;
    for (std::size_t i = 0; i < lines.size(); ++i)
        if (startsWith(lines[i], "start ")) starts.push_back(i);
    ASSERT_EQ(starts.size(), 3u) << play.tail();
    starts.push_back(lines.size());
    const std::string played = LoggedMessage(MsgEndOfPlayback, "control", 0, 0);
    const std::string expectedEnd[] = {played, LoggedMessage(MsgOpenFailed, "main", 1, 0), played};
    for (int k = 0; k < 3; ++k) {
        SCOPED_TRACE("playback " + std::to_string(k));
        int ends = 0;
        for (std::size_t i = starts[k]; i < starts[k + 1]; ++i)
            ends += startsWith(lines[i], LoggedMessage(MsgEndOfPlayback)) ||
                    startsWith(lines[i], LoggedMessage(MsgOpenFailed));
        EXPECT_EQ(ends, 1);
        EXPECT_NE(indexOf(lines, expectedEnd[k], starts[k]), std::string::npos);
        EXPECT_LT(indexOf(lines, expectedEnd[k], starts[k]), starts[k + 1]);
        if (k < 2) {
            EXPECT_EQ(lines[starts[k + 1] - 1], "stopped") << "next only after the stop";
        }
    }
}

// ---------------------------------------------------------------------------------------------
// The command channel: every command answers, bad ones with an error and no harm done; open
// switches files, also after a file that cannot be opened.

TEST(VelkPlay, AnswersEveryCommandAndSwitchesFiles) {
    const std::string file =
        recording("four.mp4", {"--duration", "4", "--front", "640x360", "--rear", "320x180"});
    ASSERT_FALSE(file.empty());
    PlayProcess play({"--quit-after", "120", file});
    ASSERT_TRUE(waitUntilPlaying(play)) << play.tail();

    const std::string missing = ScratchFolder() + "/missing file.mp4";
    struct Step {
        std::string command;
        std::string answer;  // "ok ..." exactly, or "error" for any error line
        std::string awaited; // a line that must follow the answer, if any
    };
    const Step steps[] = {
        {"pause", "ok pause", {}},
        {"pause", "ok pause", {}},
        {"seek-by 5", "ok seek-by", {}},
        {"seek-by -5", "ok seek-by", {}},
        {"seek-fraction 100", "ok seek-fraction", {}},
        {"speed 2", "ok speed", {}},
        {"speed 1", "ok speed", {}},
        {"volume 100", "ok volume", {}},
        {"zoom", "ok zoom", {}},
        {"zoom", "ok zoom", {}},
        {"mirror", "ok mirror", {}},
        {"mirror", "ok mirror", {}},
        {"swap", "ok swap", {}},
        {"swap", "ok swap", {}},
        {"fullscreen-layout", "ok fullscreen-layout", {}},
        {"fullscreen-layout", "ok fullscreen-layout", {}},
        {"figures", "ok figures", {}},
        {"speed 9", "error", {}},
        {"volume -1", "error", {}},
        {"seek-fraction 1001", "error", {}},
        {"seek-by ahead", "error", {}},
        {"pause now", "error", {}},
        {"screenshot only-one.png", "error", {}},
        {"open", "error", {}},
        {"launch the rockets", "error", {}},
        {std::string(100000, 'x'), "error", {}},
        // A file that cannot be opened is reported to the main window; the program goes on.
        {"open " + missing, "ok open", LoggedMessage(MsgOpenFailed, "main", 1, 0)},
        {"figures", "ok figures", {}},
        {"open " + file, "ok open", "call SelectViewerMode 1"},
    };
    for (const Step& step : steps) {
        const std::string answer = play.command(step.command);
        if (step.answer == "error") {
            EXPECT_TRUE(startsWith(answer, "error ")) << step.command << " -> " << answer;
        } else {
            EXPECT_EQ(answer, step.answer) << step.command << "\n" << play.tail();
        }
        if (!step.awaited.empty()) {
            ASSERT_TRUE(play.waitForLine(step.awaited)) << step.command << "\n" << play.tail();
        }
    }
    ASSERT_TRUE(waitUntilPlaying(play)) << play.tail();
    EXPECT_EQ(play.command("stop"), "ok stop");
    EXPECT_EQ(play.command("stop"), "ok stop") << "stopping when nothing plays is harmless";
    EXPECT_EQ(play.command("quit"), "ok quit");
    EXPECT_EQ(play.finish(), 0) << play.tail();
}

TEST(VelkPlay, QuitsAtTheEndOfInputWhenAsked) {
    PlayProcess play({"--exit-on-eof", "--quit-after", "60"});
    ASSERT_TRUE(play.waitForLine("ready")) << play.tail();
    EXPECT_EQ(play.finish(), 0) << play.tail();
    EXPECT_NE(indexOf(play.lines(), "exit end of input"), std::string::npos) << play.tail();
    EXPECT_EQ(figuresOf(play.lines()).at("picturesShown"), "0");
}

// ---------------------------------------------------------------------------------------------
// Seeking: a fraction seek moves the position there, and a seek after the end that plays out
// again does not report a second end.

TEST(VelkPlay, FractionSeekMovesThePosition) {
    const std::string file = tenSecondsAllKeyFrames();
    ASSERT_FALSE(file.empty());
    PlayProcess play({"--quit-after", "120", file});
    ASSERT_TRUE(waitUntilPlaying(play)) << play.tail();
    ASSERT_EQ(play.command("seek-fraction 500"), "ok seek-fraction");
    // Before the seek the position is near the start; the first one past 400 is after it.
    const auto moved = play.waitFor([](const std::string& line) {
        const auto m = parseMessage(line);
        return m && m->id == MsgPosition && m->wParam >= 400;
    });
    ASSERT_TRUE(moved) << play.tail();
    const long long position = parseMessage(*moved)->wParam;
    EXPECT_GE(position, 495);
    EXPECT_LE(position, 600);
    EXPECT_EQ(play.command("quit"), "ok quit");
    EXPECT_EQ(play.finish(), 0) << play.tail();
}

TEST(VelkPlay, EndIsReportedOncePerPlaybackAlsoAfterASeekBack) {
    const std::string file =
        recording("three.mp4", {"--duration", "3", "--front", "640x360", "--rear", "320x180"});
    ASSERT_FALSE(file.empty());
    PlayProcess play({"--quit-after", "120", file});
    ASSERT_TRUE(play.waitForLine(LoggedMessage(MsgEndOfPlayback, "control", 0, 0))) << play.tail();
    const std::size_t afterEnd = play.mark();
    ASSERT_EQ(play.command("seek-fraction 700"), "ok seek-fraction");
    // Positions come back with the pictures; the playback then runs out to its last picture.
    ASSERT_TRUE(play.waitForPrefix(LoggedMessage(MsgPosition, "control"))) << play.tail();
    constexpr int lastFrame = 3 * 30 - 1;
    const auto frontCodeBecomes = [&play](const std::function<bool(int)>& wanted) {
        for (int attempt = 0; attempt < 600; ++attempt) {
            const auto screens = takeScreenshots(play);
            if (!screens) return false;
            if (wanted(frameCode(screens->front))) return true;
        }
        return false;
    };
    ASSERT_TRUE(frontCodeBecomes([](int code) { return code >= 0 && code < lastFrame - 5; }))
        << "the seek back did not show an earlier picture\n"
        << play.tail();
    ASSERT_TRUE(frontCodeBecomes([](int code) { return code == lastFrame; }))
        << "the replay did not reach the last picture\n"
        << play.tail();
    // Let the refresh run its end check again, then stop: every message it sent is printed
    // before "stopped".
    ASSERT_EQ(play.command("figures"), "ok figures");
    ASSERT_EQ(play.command("stop"), "ok stop");
    int ends = 0;
    for (const Message& m : messagesOf(play.lines()))
        ends += m.id == MsgEndOfPlayback;
    EXPECT_EQ(ends, 1) << play.tail(60);
    EXPECT_FALSE(valuesOf(messagesOf(play.lines(), afterEnd), MsgPosition, true).empty());
    EXPECT_EQ(play.command("quit"), "ok quit");
    EXPECT_EQ(play.finish(), 0) << play.tail();
}

// ---------------------------------------------------------------------------------------------
// What is drawn where, read back from the screen while paused: each step toggles view flags,
// seeks, and the next picture must be the frame at the new position, shown as the flags say.

struct ViewStep {
    const char* toggles; // space-separated commands sent before the seek
    int perMille;
    int frame; // 30 pictures per second of a 10 s recording
    Camera mainCamera;
    bool mainMirrored;
};

TEST(VelkPlay, PausedSeekShowsTheNewFrameWithTheViewFlags) {
    const std::string file = tenSecondsAllKeyFrames();
    ASSERT_FALSE(file.empty());
    PlayProcess play({"--quit-after", "240", file});
    ASSERT_TRUE(waitUntilPlaying(play)) << play.tail();
    ASSERT_EQ(play.command("pause"), "ok pause");
    // The picture the pause left on the screen: the same code twice in a row.
    int previous = -1;
    for (int attempt = 0, last = -2; attempt < 600 && previous < 0; ++attempt) {
        const auto screens = takeScreenshots(play);
        ASSERT_TRUE(screens) << play.tail();
        const int code = frameCode(screens->front);
        if (code >= 0 && code == last) previous = code;
        last = code;
    }
    ASSERT_GE(previous, 0) << play.tail();

    // Targets avoid whole seconds: those pictures flash white and show no camera colour.
    const ViewStep steps[] = {
        {"", 550, 165, Camera::Front, false},     {"mirror", 250, 75, Camera::Front, true},
        {"swap", 850, 255, Camera::Rear, true},   {"mirror", 350, 105, Camera::Rear, false},
        {"swap", 650, 195, Camera::Front, false},
    };
    for (const ViewStep& step : steps) {
        SCOPED_TRACE(std::string("toggles '") + step.toggles + "', seek " +
                     std::to_string(step.perMille));
        const std::string toggles = step.toggles;
        if (!toggles.empty()) {
            ASSERT_EQ(play.command(toggles), "ok " + toggles);
        }
        ASSERT_EQ(play.command("seek-fraction " + std::to_string(step.perMille)),
                  "ok seek-fraction");
        // Paused, nothing is redrawn until the seek's picture arrives: wait for it in both
        // windows (the engine presents the main one first).
        std::optional<Screens> screens;
        int front = -1, rear = -1;
        for (int attempt = 0; attempt < 600; ++attempt) {
            screens = takeScreenshots(play);
            ASSERT_TRUE(screens) << play.tail();
            front = frameCode(screens->front);
            rear = frameCode(screens->rear);
            if (front >= 0 && front != previous && rear == front) break;
        }
        EXPECT_EQ(front, step.frame) << play.tail();
        EXPECT_EQ(rear, front) << "the small picture shows the same moment";
        bool mirrored = false, rearMirrored = true;
        frameCode(screens->front, &mirrored);
        frameCode(screens->rear, &rearMirrored);
        EXPECT_EQ(mirrored, step.mainMirrored);
        EXPECT_FALSE(rearMirrored) << "the small picture is never mirrored";
        EXPECT_EQ(cameraOf(screens->front), step.mainCamera);
        EXPECT_EQ(cameraOf(screens->rear),
                  step.mainCamera == Camera::Front ? Camera::Rear : Camera::Front);
        previous = front;
    }
    EXPECT_EQ(play.command("quit"), "ok quit");
    EXPECT_EQ(play.finish(), 0) << play.tail();
}

// While paused, a swap or a mirror shows at once on the picture the pause left, not with the
// next picture: both windows are drawn again from what each texture must hold.
TEST(VelkPlay, SwapAndMirrorWhilePausedShowAtOnce) {
    const std::string file = tenSecondsAllKeyFrames();
    ASSERT_FALSE(file.empty());
    PlayProcess play({"--quit-after", "120", file});
    ASSERT_TRUE(waitUntilPlaying(play)) << play.tail();
    ASSERT_EQ(play.command("pause"), "ok pause");
    // Paused at 5.5 s: picture 165, away from the white flash of each whole second, which
    // shows neither camera's colour.
    ASSERT_EQ(play.command("seek-fraction 550"), "ok seek-fraction");
    int paused = -1;
    for (int attempt = 0, last = -2; attempt < 600 && paused < 0; ++attempt) {
        const auto screens = takeScreenshots(play);
        ASSERT_TRUE(screens) << play.tail();
        const int code = frameCode(screens->front);
        if (code >= 0 && code == last && frameCode(screens->rear) == code) paused = code;
        last = code;
    }
    ASSERT_GE(paused, 0) << play.tail();

    struct Toggle {
        const char* command;
        Camera mainCamera;
        bool mainMirrored;
    };
    const Toggle toggles[] = {{"swap", Camera::Rear, false},
                              {"mirror", Camera::Rear, true},
                              {"swap", Camera::Front, true},
                              {"mirror", Camera::Front, false}};
    for (const Toggle& t : toggles) {
        SCOPED_TRACE(std::string("after ") + t.command);
        ASSERT_EQ(play.command(t.command), std::string("ok ") + t.command);
        std::optional<Screens> screens;
        bool mirrored = false;
        // Nothing else moves while paused: the window either changes soon or never.
        for (int attempt = 0; attempt < 50; ++attempt) {
            screens = takeScreenshots(play);
            ASSERT_TRUE(screens) << play.tail();
            frameCode(screens->front, &mirrored);
            if (cameraOf(screens->front) == t.mainCamera && mirrored == t.mainMirrored) break;
        }
        EXPECT_EQ(cameraOf(screens->front), t.mainCamera);
        EXPECT_EQ(mirrored, t.mainMirrored);
        EXPECT_EQ(cameraOf(screens->rear),
                  t.mainCamera == Camera::Front ? Camera::Rear : Camera::Front);
        EXPECT_EQ(frameCode(screens->front), paused) << "still the paused picture";
        EXPECT_EQ(frameCode(screens->rear), paused);
    }
    EXPECT_EQ(play.command("quit"), "ok quit");
    EXPECT_EQ(play.finish(), 0) << play.tail();
}

// Over the pictures the pointer hides after an idle second and comes back when the mouse moves.
TEST(VelkPlay, PointerHidesWhenIdleAndComesBackWhenMoved) {
    const std::string file = tenSecondsAllKeyFrames();
    ASSERT_FALSE(file.empty());
    PlayProcess play({"--quit-after", "120", file});
    ASSERT_TRUE(waitUntilPlaying(play)) << play.tail();
    Display* display = XOpenDisplay(privateDisplay().c_str());
    ASSERT_TRUE(display);
    // Whether the pointer shows as anything but fully transparent pixels.
    const auto pointerVisible = [display] {
        XFixesCursorImage* image = XFixesGetCursorImage(display);
        if (!image) return false;
        bool visible = false;
        for (int i = 0; i < image->width * image->height && !visible; ++i)
            visible = (image->pixels[i] >> 24) != 0;
        XFree(image);
        return visible;
    };
    // Polls for up to three seconds; the state either comes or the fault is there.
    const auto becomes = [&](bool visible) {
        for (int i = 0; i < 60; ++i) {
            if (pointerVisible() == visible) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return false;
    };
    const auto moveTo = [display](int x, int y) {
        XWarpPointer(display, None, DefaultRootWindow(display), 0, 0, 0, 0, x, y);
        XFlush(display);
    };
    moveTo(300, 200); // over the main picture
    EXPECT_TRUE(becomes(false)) << "hidden after an idle second";
    for (int round = 0; round < 2; ++round) {
        moveTo(320 + round * 20, 220);
        EXPECT_TRUE(becomes(true)) << "shown again when moved, round " << round;
        EXPECT_TRUE(becomes(false)) << "hidden again when idle, round " << round;
    }
    XCloseDisplay(display);
    EXPECT_EQ(play.command("quit"), "ok quit");
    EXPECT_EQ(play.finish(), 0) << play.tail();
}

// In the full-screen layout the main picture fills the screen, the small one is no longer drawn
// and no telemetry is delivered, yet the rear pictures keep pace with the front ones: once the
// layout is left, both windows show the same moment again.
TEST(VelkPlay, FullScreenLayoutKeepsTheRearPicturesInStep) {
    const std::string file = tenSecondsAllKeyFrames();
    ASSERT_FALSE(file.empty());
    PlayProcess play({"--quit-after", "120", file});
    ASSERT_TRUE(waitUntilPlaying(play)) << play.tail();
    ASSERT_EQ(play.command("fullscreen-layout"), "ok fullscreen-layout");
    const auto nextSecond = [&play] {
        return play.waitForPrefix(LoggedMessage(MsgElapsedSeconds, "control")).has_value();
    };
    // A second later everything printed was posted with the layout in force.
    ASSERT_TRUE(nextSecond() && nextSecond()) << play.tail();
    const std::size_t inLayout = play.mark();
    const auto first = takeScreenshots(play);
    ASSERT_TRUE(nextSecond()) << play.tail();
    const auto second = takeScreenshots(play);
    ASSERT_TRUE(first && second);
    EXPECT_EQ(second->front.width(), 1920);
    const int frontBefore = frameCode(first->front), frontAfter = frameCode(second->front);
    EXPECT_GE(frontBefore, 0) << "the main picture fills the screen with its frame code";
    EXPECT_GT(frontAfter, frontBefore);
    const int rearBefore = frameCode(first->rear), rearAfter = frameCode(second->rear);
    EXPECT_TRUE(rearAfter < 0 || rearAfter == rearBefore)
        << "the small picture moved on from " << rearBefore << " to " << rearAfter;

    ASSERT_EQ(play.command("fullscreen-layout"), "ok fullscreen-layout");
    for (const Message& m : messagesOf(play.lines(), inLayout))
        EXPECT_FALSE(m.text) << "telemetry in the full-screen layout: " << *m.text;
    ASSERT_TRUE(nextSecond()) << play.tail();
    ASSERT_EQ(play.command("pause"), "ok pause");
    int front = -1, rear = -2;
    for (int attempt = 0; attempt < 600 && (front < 0 || front != rear); ++attempt) {
        const auto screens = takeScreenshots(play);
        ASSERT_TRUE(screens);
        EXPECT_EQ(screens->front.width(), 720);
        front = frameCode(screens->front);
        rear = frameCode(screens->rear);
    }
    EXPECT_GE(front, frontAfter);
    EXPECT_EQ(rear, front) << play.tail();
    EXPECT_EQ(play.command("quit"), "ok quit");
    EXPECT_EQ(play.finish(), 0) << play.tail();
}

} // namespace
} // namespace velk::test
