// Whole playbacks on real recordings: opening, messages, commands, the end and teardown.

#include "EngineFixture.h"
#include "VideoState.h"

#include <gtest/gtest.h>

#include <ostream>
#include <thread>

using namespace std::chrono_literals;

namespace velk::test {
namespace {

const std::vector<std::string> kSmall = {"--duration", "3",      "--front",
                                         "640x360",    "--rear", "320x180"};
const std::vector<std::string> kShort = {"--duration", "1.5",    "--front",
                                         "320x180",    "--rear", "160x90"};

using PlaybackTest = EngineTest;

std::size_t IndexOf(const std::vector<RecordedMessage>& log, std::uint32_t id) {
    for (std::size_t i = 0; i < log.size(); ++i)
        if (log[i].id == id) return i;
    return log.size();
}

TEST_F(PlaybackTest, ReportsOpeningProgressAndTheEndOnce) {
    ASSERT_TRUE(PlayUntil(Recording(kSmall), MsgEndOfPlayback, 20s));
    std::this_thread::sleep_for(600ms);
    const auto log = Poster().snapshot();

    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log[0].id, MsgVehicleTelemetry);
    EXPECT_EQ(log[0].target, kVehiclePanel);
    EXPECT_FALSE(log[0].text) << "the first message is the reset";
    const auto opened = IndexOf(log, kRecordedShowTotalTime);
    ASSERT_LT(opened, log.size());
    EXPECT_NEAR(static_cast<double>(log[opened].lParam), 3e6, 1e5);
    EXPECT_LT(IndexOf(log, MsgSpeedRange), opened);
    EXPECT_EQ(log[IndexOf(log, MsgSpeedRange)].wParam, 0u) << "640 wide is not full HD";
    EXPECT_EQ(log[IndexOf(log, kRecordedSelectViewerMode)].wParam, 1u);

    int lastPosition = -1;
    std::vector<std::intptr_t> seconds;
    const auto end = IndexOf(log, MsgEndOfPlayback);
    for (std::size_t i = 0; i < log.size(); ++i) {
        const auto& m = log[i];
        if (m.id == MsgPosition) {
            EXPECT_EQ(m.target, kControlPanel);
            // The sound clock is re-stamped by each audio callback; one that comes late on a
            // loaded machine (sanitizer builds) corrects it back a little, never by a jump.
            EXPECT_GE(static_cast<int>(m.wParam), lastPosition - 100)
                << "positions never jump back";
            EXPECT_LE(m.wParam, 1000u);
            lastPosition = std::max(lastPosition, static_cast<int>(m.wParam));
        }
        if (m.id == MsgElapsedSeconds) seconds.push_back(m.lParam);
        if (i > end) {
            EXPECT_TRUE(m.id != MsgPosition && m.id != MsgElapsedSeconds &&
                        m.id != MsgVehicleTelemetry && m.id != MsgMapTelemetry)
                << "message " << m.id << " after the end";
        }
    }
    EXPECT_GT(lastPosition, 900);
    ASSERT_GE(seconds.size(), 2u);
    EXPECT_LE(seconds.front(), 1);
    EXPECT_GE(seconds.back(), 2);
    for (std::size_t i = 1; i < seconds.size(); ++i)
        EXPECT_EQ(seconds[i], seconds[i - 1] + 1) << "each whole second once, in order";
    EXPECT_EQ(MessagesWithId(MsgEndOfPlayback).size(), 1u);

    const auto figures = CurrentPlaybackFigures();
    EXPECT_GE(figures.picturesShown, 80) << "3 s at 30 pictures a second";
    EXPECT_GE(figures.rearPicturesShown, figures.picturesShown - 2)
        << "the rear moves with the front";
}

TEST_F(PlaybackTest, EndIsPostedOncePerPlaybackAlsoAfterSeekingBack) {
    ASSERT_TRUE(PlayUntil(Recording(kShort), MsgEndOfPlayback, 20s));
    const auto before = Poster().snapshot().size();
    RequestSeekToFraction(300);
    // Playing again after the seek shows positions again, then reaches the end a second time.
    ASSERT_TRUE(Poster().waitForMessage(MsgPosition, 10s, before));
    std::this_thread::sleep_for(2s);
    EXPECT_EQ(MessagesWithId(MsgEndOfPlayback).size(), 1u);
    EXPECT_TRUE(engineRunning) << "the playback stays open at the end";
}

struct OpeningCase {
    const char* name;
    std::vector<std::string> options;
    int speedRange;  // wParam of the speed-range message, -1 when none is expected
    int rearPicture; // SelectViewerMode argument, -1 when the recording cannot be played
};

void PrintTo(const OpeningCase& c, std::ostream* out) { *out << c.name; }

class OpeningTest : public PlaybackTest, public ::testing::WithParamInterface<OpeningCase> {};

TEST_P(OpeningTest, ChoosesStreamsAndTellsThePanels) {
    const OpeningCase& c = GetParam();
    StartPlayback(Recording(c.options));
    if (c.rearPicture < 0) {
        // Nothing playable: the engine quits by itself.
        EXPECT_TRUE(WaitEngineIdle(10s));
        EXPECT_EQ(MessagesWithId(kRecordedShowTotalTime).size(), 0u);
        return;
    }
    ASSERT_TRUE(Poster().waitForMessage(kRecordedSelectViewerMode, 10s));
    EXPECT_EQ(MessagesWithId(kRecordedSelectViewerMode)[0].wParam,
              static_cast<std::uintptr_t>(c.rearPicture));
    EXPECT_EQ(MessagesWithId(MsgSpeedRange).at(0).wParam,
              static_cast<std::uintptr_t>(c.speedRange));
    EXPECT_TRUE(Poster().waitForMessage(MsgElapsedSeconds, 10s)) << "the clock runs";
}

INSTANTIATE_TEST_SUITE_P(
    Recordings, OpeningTest,
    ::testing::Values(
        OpeningCase{
            "FullHdFront", {"--duration", "1", "--front", "1920x1080", "--rear", "320x180"}, 1, 1},
        OpeningCase{"FrontOnly", {"--duration", "2", "--front", "320x180", "--no-rear"}, 0, 0},
        OpeningCase{"AudioOnly", {"--duration", "2", "--no-front"}, 0, 0},
        OpeningCase{"NoAudio",
                    {"--duration", "2", "--front", "320x180", "--rear", "160x90", "--no-audio"},
                    0,
                    1},
        OpeningCase{"TextOnly", {"--duration", "1", "--no-front", "--no-audio"}, -1, -1}),
    [](const auto& info) { return std::string(info.param.name); });

// Each playback posts its own elapsed seconds from second 0, also when the one before it last
// posted that same second (it was stopped in its first second).
TEST_F(PlaybackTest, EveryPlaybackPostsItsFirstSecond) {
    const auto path = Recording(kShort);
    for (int playback = 0; playback < 2; ++playback) {
        ASSERT_TRUE(PlayUntil(path, MsgElapsedSeconds, 10s)) << "playback " << playback;
        EXPECT_EQ(MessagesWithId(MsgElapsedSeconds).at(0).lParam, 0) << "playback " << playback;
        ASSERT_TRUE(StopPlayback());
    }
}

TEST_F(PlaybackTest, MissingFileIsReportedAndThePlaybackWaitsToBeStopped) {
    ASSERT_TRUE(PlayUntil("/nonexistent/velk/recording.mp4", MsgOpenFailed, 10s));
    const auto failed = MessagesWithId(MsgOpenFailed);
    EXPECT_EQ(failed[0].target, kMainWindow);
    EXPECT_EQ(failed[0].wParam, 1u);
    std::this_thread::sleep_for(300ms);
    EXPECT_TRUE(engineRunning);
    EXPECT_TRUE(StopPlayback());
}

TEST_F(PlaybackTest, StopWhilePausedMakesTheNextPlaybackStartPaused) {
    const auto path = Recording(kSmall);
    ASSERT_TRUE(PlayUntil(path, MsgElapsedSeconds, 10s));
    RequestTogglePause();
    std::this_thread::sleep_for(200ms);
    ASSERT_TRUE(StopPlayback());

    ASSERT_TRUE(PlayUntil(path, kRecordedSelectViewerMode, 10s));
    std::this_thread::sleep_for(800ms);
    EXPECT_LE(CurrentPlaybackFigures().picturesShown, 1) << "starts paused";
    RequestTogglePause();
    EXPECT_TRUE(Poster().waitFor(
        [](const auto&) { return CurrentPlaybackFigures().picturesShown > 10; }, 5s));
}

TEST_F(PlaybackTest, QuitKeyEndsThePlaybackAndTheNextOneStillPlays) {
    const auto path = Recording(kShort);
    for (SDL_Keycode key : {SDLK_q, SDLK_ESCAPE}) {
        ASSERT_TRUE(PlayUntil(path, MsgElapsedSeconds, 10s));
        SDL_Event event{};
        event.type = SDL_KEYDOWN;
        event.key.keysym.sym = key;
        SDL_PushEvent(&event);
        ASSERT_TRUE(WaitEngineIdle(10s)) << "the key alone ends the playback";
    }
    EXPECT_TRUE(PlayUntil(path, MsgEndOfPlayback, 20s));
    EXPECT_GT(CurrentPlaybackFigures().picturesShown, 20);
}

TEST_F(PlaybackTest, ManyPlaybacksStoppedAtAnyMomentLeaveNothingBehind) {
    const auto path = Recording(kShort);
    ASSERT_TRUE(PlayUntil(path, MsgElapsedSeconds, 10s));
    ASSERT_TRUE(StopPlayback());
    std::this_thread::sleep_for(300ms); // let the first player thread finish ending
    const int baseline = ThreadCount();

    enum class Moment { AtOnce, Playing, Paused, Seeking, AtEnd };
    const Moment moments[] = {Moment::AtOnce, Moment::Playing, Moment::Paused, Moment::Seeking,
                              Moment::AtEnd};
    for (int i = 0; i < 50; ++i) {
        const Moment moment = moments[i % 5];
        StartPlayback(path);
        switch (moment) {
        case Moment::AtOnce:
            break;
        case Moment::Playing:
            Poster().waitForMessage(MsgElapsedSeconds, 5s);
            break;
        case Moment::Paused:
            Poster().waitForMessage(MsgElapsedSeconds, 5s);
            RequestTogglePause();
            std::this_thread::sleep_for(50ms);
            break;
        case Moment::Seeking:
            Poster().waitForMessage(kRecordedShowTotalTime, 5s);
            RequestSeekToFraction(700);
            break;
        case Moment::AtEnd:
            Poster().waitForMessage(MsgEndOfPlayback, 10s);
            break;
        }
        ASSERT_TRUE(StopPlayback()) << "playback " << i << " did not stop";
        EXPECT_EQ(engineRunning, 0);
        // A playback stopped while paused hands its space key to the next: take it back.
        SDL_FlushEvents(SDL_FIRSTEVENT, SDL_LASTEVENT);
    }
    // The player thread ends just after it reports the engine idle.
    for (int i = 0; i < 500 && ThreadCount() > baseline; ++i)
        std::this_thread::sleep_for(10ms);
    EXPECT_LE(ThreadCount(), baseline) << "no thread of a playback outlives it";
    EXPECT_TRUE(TelemetryTimelineEmpty());
}

} // namespace
} // namespace velk::test
