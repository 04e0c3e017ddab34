// The viewer as a driver uses it, one test per journey: the real program on a private X server,
// clicks and keys through the X server, and what the screen, the event log, the sound and the
// files show for it. Waits are hang guards only; nothing here depends on how fast it happens.

#include "Journey.h"
#include "MessageLog.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <utility>

namespace velk::test {
namespace {

namespace fs = std::filesystem;
using namespace layout;

const std::vector<std::string> kSmall{"--front", "320x180", "--rear", "320x180"};

std::vector<std::string> with(std::vector<std::string> options,
                              const std::vector<std::string>& more) {
    options.insert(options.end(), more.begin(), more.end());
    return options;
}

// Three normal recordings, two event, one manual: every list tells its own count.
const std::string& cardFolder() {
    static const std::string root =
        CardFolder("card", {{"ory_rec/20200101_000000_N.mp4", with(kSmall, {"--duration", "3"})},
                            {"ory_rec/20200101_000100_N.mp4", with(kSmall, {"--duration", "3"})},
                            {"ory_rec/20200101_000200_N.mp4", with(kSmall, {"--duration", "3"})},
                            {"evt_rec/20200101_000300_E.mp4", with(kSmall, {"--duration", "2"})},
                            {"evt_rec/20200101_000400_E.mp4", with(kSmall, {"--duration", "2"})},
                            {"usr_rec/20200101_000500_U.mp4", with(kSmall, {"--duration", "2"})}});
    return root;
}

std::string normalPath(const std::string& root, int row) {
    static const char* const names[] = {"20200101_000000_N.mp4", "20200101_000100_N.mp4",
                                        "20200101_000200_N.mp4"};
    return root + "/ory_rec/" + names[row];
}

bool startsWith(const std::string& s, const std::string& prefix) { return s.rfind(prefix, 0) == 0; }

class Journey : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(m_screen.open()) << "no private X server"; }
    // What the screen showed when the journey failed, kept beside the test program.
    void TearDown() override {
        if (!HasFailure()) return;
        const std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        const std::string file = std::string(VELK_BINARY_DIR) + "/tests/e2e/" + name + ".png";
        if (m_screen.grab(QRect(0, 0, 1920, 1080)).save(QString::fromStdString(file)))
            std::printf("the screen at the failure: %s\n", file.c_str());
    }
    // One connection for the whole process: connections come and go with every viewer.
    static ScreenReader& screen() {
        static ScreenReader reader;
        return reader;
    }

    // Starts the viewer and waits until its window is up.
    // The fixture owns it: it is still on the screen when a failure is recorded.
    ViewerProcess* start(const std::vector<std::string>& arguments) {
        m_viewers.push_back(std::make_unique<ViewerProcess>(arguments));
        ViewerProcess* viewer = m_viewers.back().get();
        if (!viewer->waitForLine("ready")) {
            ADD_FAILURE() << "the viewer did not start\n" << viewer->tail();
            return nullptr;
        }
        if (!viewer->windowOrigin()) ADD_FAILURE() << "no main window on the screen";
        return viewer;
    }

    QImage grab(ViewerProcess& viewer, const QRect& r) {
        return m_screen.grab(r.translated(viewer.windowOrigin().value_or(QPoint())));
    }
    Picture picture(ViewerProcess& viewer, const QRect& r) { return ReadPicture(grab(viewer, r)); }
    // Reads the picture until it satisfies done (hang guard); the last one read.
    Picture waitForPicture(ViewerProcess& viewer, const QRect& r,
                           const std::function<bool(const Picture&)>& done, int guard = 15000) {
        Picture p;
        for (int waited = 0; waited < guard; waited += 20) {
            p = picture(viewer, r);
            if (done(p)) return p;
            Pause(20);
        }
        return p;
    }
    // A frame of the front picture that is readable (not a flash, not between two pictures).
    int frontFrame(ViewerProcess& viewer) {
        return waitForPicture(viewer, kFront, [](const Picture& p) { return p.frame >= 0; }).frame;
    }

    ScreenReader& m_screen = screen();
    std::vector<std::unique_ptr<ViewerProcess>> m_viewers;
};

// start on a card folder: the three lists filled, the Normal tab shown; switch tabs.
TEST_F(Journey, StartOnACardFolderShowsItsListsAndTheTabsSwitchThem) {
    const std::string card = cardFolder();
    ASSERT_FALSE(card.empty());
    auto viewer = start({card});
    ASSERT_TRUE(viewer);
    EXPECT_EQ(viewer->linesWith("list "),
              (std::vector<std::string>{"list normal 3", "list event 2", "list manual 1"}))
        << viewer->tail();
    EXPECT_TRUE(viewer->linesWith("tab ").empty());

    // Each tab shows its own list and its selected picture; the other tabs their plain one.
    const char* const words[] = {"normal", "event", "manual"};
    const int rows[] = {3, 2, 1};
    const int selected[] = {228, 232, 239}, unselected[] = {230, 235, 243};
    bool atStart = true;
    for (int c : {0, 1, 2, 0}) {
        if (!std::exchange(atStart, false)) {
            viewer->click(tab(c).x(), tab(c).y());
            ASSERT_TRUE(viewer->waitForLine(std::string("tab ") + words[c])) << viewer->tail();
            Pause(300); // the repaint after the switch
        }
        SCOPED_TRACE(words[c]);
        EXPECT_EQ(TextRows(grab(*viewer, kList)), rows[c]);
        for (int t = 0; t < 3; ++t) {
            const QImage shown = grab(*viewer, QRect(720 + 120 * t, 330, 120, 33));
            const QImage expected =
                ProgramPicture("bitmap/" + std::to_string(t == c ? selected[t] : unselected[t]) +
                               ".bmp")
                    .copy(0, 0, 120, 33);
            EXPECT_GT(ShareLike(shown, expected), 0.9) << "tab " << t;
        }
    }
}

// double-click a recording: both pictures advance in step, the sound's clicks come with the
// white flashes, the vehicle digits and the map follow the telemetry.
TEST_F(Journey, ADoubleClickedRecordingPlaysPicturesSoundAndTelemetryTogether) {
    // SDL's disk driver paces itself by sleeping a whole number of milliseconds per block: at
    // 32 kHz the engine's block of 2048 frames lasts exactly 64 ms, so the sound file keeps the
    // pace of a real device (at 48 kHz it would run 1.6 % fast, and the pictures, which follow
    // the sound only within a tolerance, would seem to fall behind it).
    constexpr int kRate = 32000;
    // Exact telemetry: each second its own speed and revolutions, a position that moves on.
    const std::string telemetry = ScratchFolder() + "/drive.txt";
    {
        std::ofstream out(telemetry);
        for (int tenth = 0; tenth < 140; ++tenth) {
            char line[200];
            std::snprintf(line, sizeof line,
                          "%d,%d,0,0,0/0,3,8,%.6f,%.6f,90/0.10,0.00,0.98,0,0,0,0,0,0/1.2.3,144,0",
                          10 + 10 * (tenth / 10), 1000 + 111 * (tenth / 10), 37.5 + 0.0005 * tenth,
                          127.0 + 0.0007 * tenth);
            std::string text = line;
            text.resize(std::max<size_t>(text.size(), 80), ' '); // shorter packets are dropped
            out << tenth << '\t' << text << '\n';
        }
    }
    const std::string card = CardFolder(
        "drive", {{"ory_rec/20200101_000000_N.mp4",
                   {"--duration", "14", "--front", "640x360", "--rear", "320x180", "--audio-rate",
                    std::to_string(kRate), "--telemetry-file", telemetry}}});
    ASSERT_FALSE(card.empty());
    TileServer tiles;
    ASSERT_TRUE(tiles.listening());
    const std::string sound = ScratchFolder() + "/drive.raw";
    ScopedEnv network("VELK_NETWORK", "online"), map("VELK_MAP_TILES", tiles.tileTemplate()),
        driver("SDL_AUDIODRIVER", "disk"), file("SDL_DISKAUDIOFILE", sound);
    auto viewer = start({card});
    ASSERT_TRUE(viewer);

    FileGrowth growth(sound);
    viewer->click(row(0).x(), row(0).y(), 2);
    ASSERT_TRUE(viewer->waitForLine("play " + card + "/ory_rec/20200101_000000_N.mp4"))
        << viewer->tail();

    // The first five seconds: when each white flash reaches the screen.
    const QPoint origin = *viewer->windowOrigin();
    const QRect patch(origin.x() + 600, origin.y() + 42 + 300, 40, 40); // clear of text
    std::vector<Clock::time_point> flashes;
    bool white = false;
    const Clock::time_point begin = Clock::now();
    while (Clock::now() - begin < std::chrono::milliseconds(5500)) {
        const QImage p = m_screen.grab(patch);
        const bool now = !p.isNull() && ColourShare(p, p.rect(), qRgb(235, 235, 235), 30) > 0.9;
        if (now && !white) flashes.push_back(Clock::now());
        white = now;
        Pause(2);
    }
    growth.stop();

    // Both pictures in step, several times over; the speed and revolutions of that second.
    int lastFrame = -1;
    for (int look = 0; look < 3; ++look) {
        waitForPicture(*viewer, kFront, [](const Picture& p) {
            return p.frame >= 0 && p.frame % 30 >= 8 && p.frame % 30 <= 20;
        });
        const QImage window = grab(*viewer, QRect(0, 0, 1080, 645));
        const Picture front = ReadPicture(window.copy(kFront));
        const Picture rear = ReadPicture(window.copy(kRear));
        SCOPED_TRACE("front frame " + std::to_string(front.frame));
        EXPECT_EQ(front.camera, Camera::Front);
        EXPECT_EQ(rear.camera, Camera::Rear);
        EXPECT_NEAR(front.frame, rear.frame, 2);
        EXPECT_NE(front.frame, lastFrame);
        lastFrame = front.frame;
        const int second = front.frame / 30;
        const QImage vehicle = window.copy(kVehicle);
        EXPECT_EQ(VehicleNumber(vehicle, false), 10 + 10 * second);
        EXPECT_EQ(VehicleNumber(vehicle, true), 1000 + 111 * second);
        Pause(400);
    }
    EXPECT_TRUE(viewer->waitForLine("device VELK-T(0x90) v1.2.03", 5000)) << viewer->tail();

    // The sound: one click each second, each heard with its flash. SDL's disk driver writes a
    // block as soon as the engine has filled it; a sound device plays it after the block it is
    // playing, one block later, and the engine's clock counts on that, so does this.
    const std::vector<std::int16_t> samples = ReadSound(sound);
    const std::vector<long> clicks = ClickFrames(samples, 5000, kRate);
    ASSERT_GE(clicks.size(), 4u) << samples.size() / 2 << " frames of sound";
    // One click a second of sound. A device that ran dry once on a loaded machine (the engine
    // then plays a block of silence) moves one click by that block; more than one such gap, or
    // a spacing that is off without one, is a fault.
    int irregular = 0;
    for (size_t i = 1; i < clicks.size(); ++i) {
        const long spacing = clicks[i] - clicks[i - 1];
        if (std::abs(spacing - kRate) > kRate / 100) {
            ++irregular;
            EXPECT_GT(spacing, kRate) << "click " << i << " came early";
        }
    }
    EXPECT_LE(irregular, 1) << "clicks out of their one-second spacing";
    const auto& steps = growth.steps();
    std::vector<double> offsets; // flash minus click, milliseconds
    for (size_t i = 1; i < clicks.size(); ++i) {
        const long byte = clicks[i] * kAudioFrameBytes;
        auto written = std::find_if(steps.begin(), steps.end(),
                                    [&](const FileGrowth::Step& s) { return s.size > byte; });
        if (written == steps.end() || written == steps.begin()) continue;
        const long blockStart = std::prev(written)->size;
        const double bytesPerSecond = double(kRate) * kAudioFrameBytes;
        const double blockMs = 1000.0 * double(written->size - blockStart) / bytesPerSecond;
        const auto heard =
            written->at + std::chrono::microseconds(long(
                              1000 * blockMs + 1e6 * double(byte - blockStart) / bytesPerSecond));
        double best = 1e9;
        for (const auto& flash : flashes) {
            const double ms = std::chrono::duration<double, std::milli>(flash - heard).count();
            if (std::fabs(ms) < std::fabs(best)) best = ms;
        }
        // A flash picture the engine dropped for being late leaves its click without a partner.
        if (std::fabs(best) < 500) offsets.push_back(best);
    }
    ASSERT_GE(offsets.size(), 3u) << flashes.size() << " flashes seen, " << clicks.size()
                                  << " clicks heard";
    std::string all;
    for (double ms : offsets)
        all += std::to_string(int(std::lround(ms))) + " ";
    std::vector<double> sorted = offsets;
    std::sort(sorted.begin(), sorted.end());
    RecordProperty("flashMinusClickMs", all);
    EXPECT_LE(std::fabs(sorted[sorted.size() / 2]), 40.0) << "flash minus click, ms: " << all;
    for (double ms : offsets)
        EXPECT_LE(std::fabs(ms), 150.0) << "flash minus click, ms: " << all;

    // The map: chosen by its bar, it follows the drive's positions in order, over real tiles.
    const std::size_t before = viewer->mark();
    viewer->click(kMapBarInViewerMode.x(), kMapBarInViewerMode.y());
    ASSERT_TRUE(viewer->waitForLine("mode map")) << viewer->tail();
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(viewer->waitForPrefix("mapmove ", 20000))
            << viewer->linesWith(LoggedMessage(MsgMapTelemetry), before).size()
            << " positions reached the map\n"
            << viewer->tail();
    }
    int lastTenth = -1;
    for (const std::string& line : viewer->linesWith("mapmove ", before)) {
        double latitude = 0, longitude = 0;
        ASSERT_EQ(std::sscanf(line.c_str(), "mapmove %lf %lf", &latitude, &longitude), 2) << line;
        const int tenth = int(std::lround((latitude - 37.5) / 0.0005));
        EXPECT_NEAR(longitude, 127.0 + 0.0007 * tenth, 1e-6) << line;
        EXPECT_GE(tenth, 0);
        if (lastTenth >= 0 && tenth < lastTenth) {
            EXPECT_LT(tenth, 10) << "back to the start only in a new playback: " << line;
        }
        lastTenth = tenth;
    }
    double tileShare = 0;
    for (int waited = 0; waited < 15000 && tileShare <= 0.3; waited += 200) {
        tileShare =
            ColourShare(grab(*viewer, kMap), QRect(0, 0, 360, 202), TileServer::kTileColour, 10);
        Pause(200);
    }
    EXPECT_GT(tileShare, 0.3) << tiles.served() << " tiles served";
}

// pause, ±5 s, a click on the seek bar, speed 4x, volume, mirror, zoom, swap, full screen and
// back, version box.
TEST_F(Journey, TheControlsActOnTheRecordingAsItPlays) {
    const std::string card = CardFolder(
        "controls", {{"ory_rec/20200101_000000_N.mp4",
                      // Every picture a key frame, for exact seeks, with the bits to keep its
                      // frame code sharp.
                      with(kSmall, {"--duration", "30", "--gop", "0.0333", "--front-bitrate",
                                    "3000", "--rear-bitrate", "3000", "--device", "t"})}});
    ASSERT_FALSE(card.empty());
    const std::string sound = ScratchFolder() + "/controls.raw";
    ScopedEnv driver("SDL_AUDIODRIVER", "disk"), file("SDL_DISKAUDIOFILE", sound);
    auto viewer = start({card});
    ASSERT_TRUE(viewer);
    viewer->click(row(0).x(), row(0).y(), 2);
    ASSERT_TRUE(viewer->waitForPrefix(LoggedMessage(MsgElapsedSeconds, "control", 0, 1)))
        << viewer->tail();

    // Space pauses (the picture stays) and plays on.
    viewer->key("space");
    ASSERT_TRUE(viewer->waitForLine("pause 1"));
    Pause(300);
    const int paused = frontFrame(*viewer);
    Pause(700);
    EXPECT_EQ(frontFrame(*viewer), paused);
    viewer->key("space");
    ASSERT_TRUE(viewer->waitForLine("pause 0"));
    EXPECT_GT(
        waitForPicture(*viewer, kFront, [&](const Picture& p) { return p.frame > paused; }).frame,
        paused);

    // Right and Left: five seconds on and back.
    int from = frontFrame(*viewer);
    viewer->key("Right");
    EXPECT_GE(
        waitForPicture(*viewer, kFront, [&](const Picture& p) { return p.frame >= from + 140; })
            .frame,
        from + 140);
    from = frontFrame(*viewer);
    viewer->key("Left");
    EXPECT_LE(
        waitForPicture(*viewer, kFront,
                       [&](const Picture& p) { return p.frame >= 0 && p.frame <= from - 120; })
            .frame,
        from - 120);

    // A click on the middle of the seek bar: the middle of the recording.
    const QPoint middle = sliderPoint(kSeekSlider, 500, 1000);
    viewer->click(middle.x(), middle.y());
    const int atMiddle = waitForPicture(*viewer, kFront, [](const Picture& p) {
                             return p.frame >= 420 && p.frame <= 500;
                         }).frame;
    EXPECT_NEAR(atMiddle, 450, 50);

    // 4x: the pictures run at about four times the pace of the clock on the wall.
    viewer->click(kSpeedSlider.right() - 1, kSpeedSlider.center().y()); // its far end

    ASSERT_TRUE(viewer->waitForLine("speed 4")) << viewer->tail();
    Pause(300);
    const auto t0 = Clock::now();
    const int f0 = frontFrame(*viewer);
    Pause(1000);
    const int f1 = frontFrame(*viewer);
    const double seconds = std::chrono::duration<double>(Clock::now() - t0).count();
    EXPECT_GT((f1 - f0) / seconds, 2.5 * 30) << f0 << " to " << f1 << " in " << seconds << " s";
    const QPoint slowest = sliderPoint(kSpeedSlider, 0, 350);
    viewer->click(slowest.x() - 1, slowest.y());
    ASSERT_TRUE(viewer->waitForLine("speed 1")) << viewer->tail();

    // Volume 0: the sound goes on, silent.
    const std::size_t soundBefore = fs::file_size(sound);
    const QPoint silent = sliderPoint(kVolumeSlider, 0, 128);
    viewer->click(silent.x() - 1, silent.y());
    ASSERT_TRUE(viewer->waitForLine("volume 0")) << viewer->tail();
    Pause(1500);
    {
        const std::vector<std::int16_t> samples = ReadSound(sound);
        ASSERT_GT(samples.size() * 2, soundBefore + 48000 * 4);
        int loudBefore = 0, loudAfter = 0;
        // Half a second for the blocks already filled when the volume changed.
        const size_t change = soundBefore / 2, settled = change + kAudioRate;
        for (size_t i = 0; i < samples.size(); ++i) {
            const int level = std::abs(int(samples[i]));
            if (i < change) loudBefore = std::max(loudBefore, level);
            if (i > settled) loudAfter = std::max(loudAfter, level);
        }
        EXPECT_GT(loudBefore, 5000);
        EXPECT_EQ(loudAfter, 0);
    }

    // Mirror, zoom and swap: each turns the front picture one way and back again.
    viewer->click(kMirror.x(), kMirror.y());
    EXPECT_TRUE(waitForPicture(*viewer, kFront, [](const Picture& p) {
                    return p.frame >= 0 && p.mirrored;
                }).mirrored);
    viewer->click(kMirror.x(), kMirror.y());
    EXPECT_FALSE(waitForPicture(*viewer, kFront, [](const Picture& p) {
                     return p.frame >= 0 && !p.mirrored;
                 }).mirrored);

    // Back to a fifth of the recording: room for what follows.
    const QPoint fifth = sliderPoint(kSeekSlider, 200, 1000);
    viewer->click(fifth.x(), fifth.y());
    waitForPicture(*viewer, kFront,
                   [](const Picture& p) { return p.frame >= 150 && p.frame <= 210; });
    viewer->click(kZoom.x(), kZoom.y());
    // Zoomed in, the frame code at the picture's top edge is out of the panel.
    Pause(500);
    int readable = 0;
    for (int look = 0; look < 5; ++look, Pause(100)) {
        const Picture p = picture(*viewer, kFront);
        readable += p.frame >= 0;
        EXPECT_NE(p.camera, Camera::Rear);
    }
    EXPECT_EQ(readable, 0);
    // Zooming out brings the frame code back, and the playback goes on from where it was:
    // the rear picture (never zoomed) keeps the clock's pace across it.
    const auto rear = [&] {
        return waitForPicture(*viewer, kRear, [](const Picture& p) { return p.frame >= 0; }).frame;
    };
    const auto z0 = Clock::now();
    const int r0 = rear();
    viewer->click(kZoom.x(), kZoom.y());
    Pause(1500);
    const int r1 = rear();
    const double zs = std::chrono::duration<double>(Clock::now() - z0).count();
    EXPECT_GE(r1, r0) << "the recording ran out";
    EXPECT_LT((r1 - r0) / zs, 1.5 * 30)
        << "zooming out, the pictures went from " << r0 << " to " << r1 << " in " << zs << " s";
    EXPECT_GE(frontFrame(*viewer), 0) << "still zoomed in";

    // Enter on the window (not in the list, where it plays a row): full screen; Escape once the
    // two-second guard has passed: back.
    viewer->click(60, 21);
    viewer->key("Return");
    ASSERT_TRUE(viewer->waitForLine("fullscreen 1")) << viewer->tail();
    Picture whole;
    for (int waited = 0; waited < 10000 && whole.frame < 0; waited += 50) {
        whole = ReadPicture(m_screen.grab(QRect(0, 0, 1920, 1080)));
        Pause(50);
    }
    EXPECT_GE(whole.frame, 0) << "the front picture fills the screen";
    EXPECT_EQ(whole.camera, Camera::Front);
    Pause(3100);
    viewer->key("Escape");
    ASSERT_TRUE(viewer->waitForLine("fullscreen 0")) << viewer->tail();
    EXPECT_GE(frontFrame(*viewer), 0);
    EXPECT_EQ(TextRows(grab(*viewer, kList)), 1) << "the list is back";

    // The version box names the device of the recording's telemetry.
    viewer->click(kVersion.x(), kVersion.y());
    EXPECT_TRUE(viewer->waitForLine("version VELK Viewer v5.1.00 VELK-T(0x90) v1.2.03"))
        << viewer->tail();
    EXPECT_TRUE(AnswerBox(viewer->pid(), "velk-viewer"));
    EXPECT_TRUE(viewer->running());

    // Switch camera: the rear picture large, and back.
    viewer->click(kSwitch.x(), kSwitch.y());
    const Picture swapped = waitForPicture(
        *viewer, kFront, [](const Picture& p) { return p.camera == Camera::Rear && p.frame >= 0; });
    EXPECT_EQ(swapped.camera, Camera::Rear);
    EXPECT_EQ(
        waitForPicture(*viewer, kRear, [](const Picture& p) { return p.camera == Camera::Front; })
            .camera,
        Camera::Front);
    Pause(600);
    viewer->click(kSwitch.x(), kSwitch.y());
    const Picture back = waitForPicture(
        *viewer, kFront, [](const Picture& p) { return p.camera == Camera::Front && p.frame >= 0; });
    EXPECT_EQ(back.camera, Camera::Front);
    // One playback all along: none of the steps ran the recording out or started it again.
    EXPECT_GE(back.frame, swapped.frame);
    viewer->drain();
    EXPECT_EQ(viewer->linesWith("play ").size(), 1u) << viewer->tail();
}

// the end of a recording plays the next; next/previous wrap.
TEST_F(Journey, TheListPlaysOnAndNextAndPreviousGoRound) {
    const std::string card = cardFolder();
    auto viewer = start({card});
    ASSERT_TRUE(viewer);
    const auto nextPlay = [&] {
        const auto line = viewer->waitForPrefix("play ");
        return line ? line->substr(5) : std::string("(none)\n" + viewer->tail());
    };
    viewer->click(row(2).x(), row(2).y(), 2);
    EXPECT_EQ(nextPlay(), normalPath(card, 2)) << viewer->tail();
    // At its end the list goes round to its first row, which it selects.
    EXPECT_EQ(nextPlay(), normalPath(card, 0)) << viewer->tail();
    Pause(300);
    EXPECT_EQ(SelectedRow(grab(*viewer, kList)), 0);
    viewer->click(kPrevious.x(), kPrevious.y());
    EXPECT_EQ(nextPlay(), normalPath(card, 2)) << viewer->tail();
    Pause(300);
    EXPECT_EQ(SelectedRow(grab(*viewer, kList)), 2);
    viewer->click(kNext.x(), kNext.y());
    EXPECT_EQ(nextPlay(), normalPath(card, 0)) << viewer->tail();
    EXPECT_GE(frontFrame(*viewer), 0);
}

// open a file by hand from another folder: the lists become that folder.
TEST_F(Journey, AFileOpenedByHandMakesItsFolderTheLists) {
    const std::string other = CardFolder("other", {{"a_N.mp4", with(kSmall, {"--duration", "3"})},
                                                   {"b_E.avi", with(kSmall, {"--duration", "2"})}});
    ASSERT_FALSE(other.empty());
    std::ofstream(other + "/notes.txt") << "not a recording\n";
    auto viewer = start({cardFolder()});
    ASSERT_TRUE(viewer);
    const std::size_t before = viewer->mark();
    viewer->click(kOpen.x(), kOpen.y());
    const std::string dialog = WaitForWindow(viewer->pid(), "Open");
    ASSERT_FALSE(dialog.empty()) << "no file dialog";
    TypeTo(dialog, other + "/a_N.mp4");
    KeysTo(dialog, "Return");
    ASSERT_TRUE(viewer->waitForLine("play " + other + "/a_N.mp4")) << viewer->tail();
    EXPECT_EQ(viewer->linesWith("list ", before),
              (std::vector<std::string>{"list normal 1", "list event 1", "list manual 0"}));
    EXPECT_GE(frontFrame(*viewer), 0);
    const QImage list = grab(*viewer, kList);
    EXPECT_EQ(TextRows(list), 1);
    EXPECT_EQ(SelectedRow(list), 0);
}

// select three rows, Backup to a folder: the progress window fills and the copies are identical.
TEST_F(Journey, ThreeRowsBackedUpAreCopiedWholeWithTheProgressShown) {
    const std::string card = cardFolder();
    const std::string target = ScratchFolder() + "/backup target";
    fs::create_directories(target);
    auto viewer = start({card});
    ASSERT_TRUE(viewer);
    viewer->click(row(0).x(), row(0).y());
    RunProgram({"xdotool", "keydown", "shift"});
    viewer->click(row(2).x(), row(2).y());
    RunProgram({"xdotool", "keyup", "shift"});
    viewer->rightClick(row(1).x(), row(1).y());
    Pause(500);
    // The menu's one item lies just below and right of the pointer.
    viewer->click(row(1).x() + 25, row(1).y() + 12);
    const std::string chooser = WaitForWindow(viewer->pid(), "Select Directory");
    ASSERT_FALSE(chooser.empty()) << "no folder dialog\n" << viewer->tail();
    TypeTo(chooser, target);
    KeysTo(chooser, "Return");
    ASSERT_TRUE(viewer->waitForLine("backup done")) << viewer->tail();
    EXPECT_TRUE(viewer->linesWith("backup failed").empty());
    EXPECT_FALSE(viewer->linesWith("backup 100").empty());

    for (int r = 0; r < 3; ++r) {
        const std::string source = normalPath(card, r);
        const fs::path copy = fs::path(target) / fs::path(source).filename();
        SCOPED_TRACE(copy.string());
        ASSERT_TRUE(fs::exists(copy));
        std::ifstream a(source, std::ios::binary), b(copy, std::ios::binary);
        const std::string x((std::istreambuf_iterator<char>(a)), {});
        const std::string y((std::istreambuf_iterator<char>(b)), {});
        EXPECT_EQ(x.size(), y.size());
        EXPECT_TRUE(x == y);
    }
    EXPECT_EQ(std::distance(fs::directory_iterator(target), fs::directory_iterator()), 3);

    // The progress window: its bar full to the end, then "Done" hides it.
    const std::string progress = WaitForWindow(viewer->pid(), "Backup");
    ASSERT_FALSE(progress.empty());
    std::istringstream geometry(
        ProgramOutput({"xdotool", "getwindowgeometry", "--shell", progress}));
    int x = 0, y = 0;
    for (std::string line; std::getline(geometry, line);) {
        if (startsWith(line, "X=")) x = std::stoi(line.substr(2));
        if (startsWith(line, "Y=")) y = std::stoi(line.substr(2));
    }
    Pause(300);
    const QImage window = m_screen.grab(QRect(x, y, 464, 63));
    const QRect bar(11, 11, 443, 21);
    const QRgb start = window.pixel(bar.left() + 20, bar.center().y());
    const QRgb end = window.pixel(bar.right() - 20, bar.center().y());
    EXPECT_GT(ColourShare(window, QRect(bar.right() - 25, bar.top() + 5, 10, 10), start, 12), 0.9)
        << std::hex << start << " at the start, " << end << " at the end";
    EXPECT_GT(qAbs(qGray(start) - qGray(window.pixel(2, 2))), 20) << "the bar is empty";
    RunProgram({"xdotool", "mousemove", std::to_string(x + 378 + 37), std::to_string(y + 36 + 11),
                "click", "1"});
    for (int waited = 0; waited < 5000 && !WindowsOf(viewer->pid(), "Backup").empty();
         waited += 100)
        Pause(100);
    EXPECT_TRUE(WindowsOf(viewer->pid(), "Backup").empty());
}

// a card (ext4 image on a loop device, as root) mounted while running is listed; unmounted
// while playing: the playback stops, the lists empty.
TEST_F(Journey, ACardMountedIsListedAndPulledOutStopsThePlayback) {
    if (const std::string why = CardImage::CannotMount(); !why.empty()) GTEST_SKIP() << why;
    CardImage card("VELK-T", cardFolder());
    ASSERT_TRUE(card.error().empty()) << card.error();
    auto viewer = start({});
    ASSERT_TRUE(viewer);
    EXPECT_TRUE(viewer->linesWith("list ").empty()) << viewer->tail();

    const std::string mountPoint = ScratchFolder() + "/media/card";
    ASSERT_TRUE(card.mount(mountPoint)) << card.error();
    ASSERT_TRUE(viewer->waitForLine("card " + mountPoint + "/")) << viewer->tail();
    ASSERT_TRUE(viewer->waitForLine("list manual 1")) << viewer->tail();
    EXPECT_EQ(viewer->linesWith("list "),
              (std::vector<std::string>{"list normal 3", "list event 2", "list manual 1"}));
    Pause(300);
    EXPECT_EQ(TextRows(grab(*viewer, kList)), 3);

    viewer->click(row(1).x(), row(1).y(), 2);
    ASSERT_TRUE(viewer->waitForLine("play " + normalPath(mountPoint, 1))) << viewer->tail();
    ASSERT_TRUE(viewer->waitForPrefix(LoggedMessage(MsgElapsedSeconds, "control")))
        << viewer->tail();
    // The threads of one playback. (Threads named "player" also include the helpers the
    // graphics library starts from the first player thread, which stay for the program's run.)
    const auto engineThreads = [&] {
        int n = 0;
        for (const std::string& name : ThreadNames(viewer->pid()))
            n += name == "read_thread" || name == "decoder" || startsWith(name, "SDLAudioP");
        return n;
    };
    EXPECT_GT(engineThreads(), 0);

    const std::size_t before = viewer->mark();
    ASSERT_TRUE(card.pull());
    ASSERT_TRUE(viewer->waitForLine("nocard")) << viewer->tail();
    ASSERT_TRUE(viewer->waitForLine("list manual 0")) << viewer->tail();
    EXPECT_EQ(viewer->linesWith("list ", before),
              (std::vector<std::string>{"list normal 0", "list event 0", "list manual 0"}));
    for (int waited = 0; waited < 10000 && engineThreads() > 0; waited += 100)
        Pause(100);
    std::string threads;
    for (const std::string& name : ThreadNames(viewer->pid()))
        threads += name + ",";
    EXPECT_EQ(engineThreads(), 0) << "the playback goes on; threads: " << threads;
    viewer->drain();
    const std::size_t stopped = viewer->mark();
    Pause(1200);
    viewer->drain();
    EXPECT_TRUE(viewer->linesWith(LoggedMessage(MsgElapsedSeconds), stopped).empty());
    EXPECT_TRUE(viewer->linesWith("play ", before).empty());
    EXPECT_EQ(TextRows(grab(*viewer, kList)), 0);
    EXPECT_TRUE(viewer->running());
}

// a damaged recording in the list: the message, and the next recording still plays.
TEST_F(Journey, ADamagedRecordingIsNamedAndTheNextOneStillPlays) {
    const std::string card = CardFolder(
        "damaged", {{"ory_rec/20200101_000000_N.mp4", with(kSmall, {"--duration", "3"})},
                    {"ory_rec/20200101_000100_N.mp4", with(kSmall, {"--duration", "3"})},
                    {"ory_rec/20200101_000200_N.mp4", with(kSmall, {"--duration", "3"})}});
    ASSERT_FALSE(card.empty());
    // The middle one cut short as by a power loss: the start of the file, no index.
    const std::string damaged = card + "/ory_rec/20200101_000100_N.mp4";
    fs::resize_file(damaged, 4096);
    auto viewer = start({card});
    ASSERT_TRUE(viewer);
    viewer->click(row(1).x(), row(1).y(), 2);
    ASSERT_TRUE(viewer->waitForLine("message The file is corrupted and connot be opened."))
        << viewer->tail();
    ASSERT_TRUE(AnswerBox(viewer->pid(), "velk-viewer"));

    viewer->click(kNext.x(), kNext.y());
    ASSERT_TRUE(viewer->waitForLine("play " + card + "/ory_rec/20200101_000200_N.mp4"))
        << viewer->tail();
    const int first = frontFrame(*viewer);
    EXPECT_GE(first, 0);
    EXPECT_GT(
        waitForPicture(*viewer, kFront, [&](const Picture& p) { return p.frame > first; }).frame,
        first);
    EXPECT_EQ(viewer->linesWith("message ").size(), 1u) << viewer->tail();
}

// start a second copy: the message; close the first with its close button: the process ends
// within 5 s, no thread or child process left.
TEST_F(Journey, ASecondCopyIsToldOffAndTheCloseButtonEndsEverything) {
    TileServer tiles; // the map's web engine runs in child processes of its own
    ASSERT_TRUE(tiles.listening());
    ScopedEnv network("VELK_NETWORK", "online"), map("VELK_MAP_TILES", tiles.tileTemplate());
    auto first = start({cardFolder()});
    ASSERT_TRUE(first);

    ViewerProcess second({}, first->runtimeFolder());
    ASSERT_TRUE(second.waitForLine("message ORLIK Viewer is alraedy running!!")) << second.tail();
    ASSERT_FALSE(WaitForWindow(second.pid(), "velk-viewer").empty());
    EXPECT_TRUE(WindowsOf(second.pid(), "VELK Viewer v5.1.00").empty());
    EXPECT_TRUE(AnswerBox(second.pid(), "velk-viewer"));
    EXPECT_EQ(second.waitExit(10000), 0) << second.tail();

    first->click(row(0).x(), row(0).y(), 2);
    ASSERT_TRUE(first->waitForPrefix(LoggedMessage(MsgElapsedSeconds, "control"))) << first->tail();
    std::vector<int> children;
    for (int waited = 0; waited < 20000 && children.empty(); waited += 200) {
        children = ChildrenOf(first->pid());
        Pause(200);
    }
    EXPECT_FALSE(children.empty()) << "no web engine process to see ended";
    std::vector<int> all = children; // and theirs: the web engine's zygote starts the renderers
    for (int child : children)
        for (int grandchild : ChildrenOf(child))
            all.push_back(grandchild);

    const int pid = first->pid();
    first->click(kClose.x(), kClose.y());
    EXPECT_EQ(first->waitExit(5000), 0) << first->tail();
    EXPECT_FALSE(fs::exists("/proc/" + std::to_string(pid)));
    const auto alive = [&] {
        std::vector<int> left;
        for (int p : all) {
            std::ifstream stat("/proc/" + std::to_string(p) + "/stat");
            std::string line;
            // A zombie is an ended process that its new parent has not reaped yet.
            if (std::getline(stat, line) && line.substr(line.rfind(')') + 2, 1) != "Z")
                left.push_back(p);
        }
        return left;
    };
    for (int waited = 0; waited < 5000 && !alive().empty(); waited += 100)
        Pause(100);
    EXPECT_TRUE(alive().empty()) << alive().size() << " processes of the viewer left";
}

} // namespace
} // namespace velk::test
