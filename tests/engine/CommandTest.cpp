// The command functions, judged by what they do to a playing recording: a pause stops the clock
// and the pictures, each seek lands where its mapping says, the volume sets the level of the
// sound that reaches the device, a stop or quit ends the playback; and the seek requests they
// lead to.

#include "ChildProcess.h"
#include "EngineFixture.h"
#include "VideoState.h"

#include <gtest/gtest.h>

#include <SDL.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <thread>

using namespace std::chrono_literals;

namespace velk {
namespace test {
namespace {

// Every picture a key frame, so that a seek lands on the picture of its time.
const std::vector<std::string> kThirtySeconds = {"--duration", "30",     "--front", "320x180",
                                                 "--rear",     "160x90", "--gop",   "0.0333"};

using CommandEffect = EngineTest;

// The whole seconds the playback reported, in order.
std::vector<std::intptr_t> ElapsedSeconds() {
    std::vector<std::intptr_t> seconds;
    for (const auto& m : MessagesWithId(MsgElapsedSeconds))
        seconds.push_back(m.lParam);
    return seconds;
}

// Waits for a second reported after the first `from` that satisfies wanted; nullopt when none
// came within the guard.
std::optional<std::intptr_t> NextSecond(std::size_t from,
                                        const std::function<bool(std::intptr_t)>& wanted,
                                        std::chrono::milliseconds guard = 15s) {
    std::optional<std::intptr_t> found;
    Poster().waitFor(
        [&](const std::vector<RecordedMessage>& log) {
            std::size_t seen = 0;
            for (const auto& m : log) {
                if (m.id != MsgElapsedSeconds || seen++ < from) continue;
                if (wanted(m.lParam)) {
                    found = m.lParam;
                    return true;
                }
            }
            return false;
        },
        guard);
    return found;
}

TEST_F(CommandEffect, PauseStopsTheClockAndThePicturesAndASecondPausePlaysOn) {
    ASSERT_TRUE(PlayUntil(Recording(kThirtySeconds), MsgElapsedSeconds));
    ASSERT_TRUE(NextSecond(0, [](std::intptr_t s) { return s >= 1; }));
    RequestTogglePause();
    std::this_thread::sleep_for(300ms); // the pictures already on their way are shown
    const auto pausedPictures = CurrentPlaybackFigures().picturesShown;
    const auto pausedSeconds = ElapsedSeconds();
    std::this_thread::sleep_for(1500ms);
    EXPECT_EQ(CurrentPlaybackFigures().picturesShown, pausedPictures) << "no picture while paused";
    EXPECT_EQ(ElapsedSeconds(), pausedSeconds) << "the clock stands while paused";

    RequestTogglePause();
    const auto next = NextSecond(pausedSeconds.size(), [](std::intptr_t) { return true; });
    ASSERT_TRUE(next) << "the clock runs again";
    EXPECT_EQ(*next, pausedSeconds.back() + 1) << "it goes on from where it stood";
    EXPECT_GT(CurrentPlaybackFigures().picturesShown, pausedPictures);
}

// Seeks while playing, one after another: each lands on the second its command names. From a
// second s the clock stands somewhere in [s, s + 1) when the command is taken, so a seek by n
// seconds shows second s + n or s + n + 1 first.
struct SeekStep {
    const char* name;
    std::function<void()> command;
    int relative;      // seconds from the last reported one, when absolute < 0
    int absolute = -1; // the second the seek lands on, for a fraction seek
};

TEST_F(CommandEffect, EachSeekLandsWhereItsMappingSays) {
    const SeekStep steps[] = {
        {"seek by -5", [] { RequestSeekBy(-5); }, -5},
        {"seek by 10", [] { RequestSeekBy(10); }, 10},
        {"seek by 3 is +5", [] { RequestSeekBy(3); }, 5},
        {"seek by -10", [] { RequestSeekBy(-10); }, -10},
        {"seek by 0 is +5", [] { RequestSeekBy(0); }, 5},
        {"seek by 5", [] { RequestSeekBy(5); }, 5},
        // 30 s x 750 / 1000 = 22.5 s.
        {"fraction 750", [] { RequestSeekToFraction(750); }, 0, 22},
        {"fraction 100", [] { RequestSeekToFraction(100); }, 0, 3},
    };
    ASSERT_TRUE(PlayUntil(Recording(kThirtySeconds), MsgElapsedSeconds));
    RequestSeekToFraction(333); // 10 s: room for the steps on both sides
    auto last = NextSecond(0, [](std::intptr_t s) { return s >= 10 && s <= 11; });
    ASSERT_TRUE(last) << "the start at 10 s";
    for (const SeekStep& step : steps) {
        SCOPED_TRACE(step.name);
        const std::size_t from = ElapsedSeconds().size();
        const std::intptr_t before = ElapsedSeconds().back();
        step.command();
        const std::intptr_t low = step.absolute >= 0 ? step.absolute : before + step.relative;
        // The first second that is not the clock's own next one is where the seek landed.
        const auto landed =
            NextSecond(from, [&](std::intptr_t s) { return s != before && s != before + 1; });
        ASSERT_TRUE(landed) << "no second reported after the seek from " << before;
        EXPECT_GE(*landed, low) << "from " << before;
        EXPECT_LE(*landed, low + 1) << "from " << before;
    }
}

TEST_F(CommandEffect, StopAndQuitEachEndThePlaybackAndTheNextOnePlays) {
    const auto path = Recording(kThirtySeconds);
    for (const auto& [name, command] :
         {std::pair<const char*, void (*)()>{"stop", RequestStop}, {"quit", RequestQuit}}) {
        SCOPED_TRACE(name);
        ASSERT_TRUE(PlayUntil(path, MsgElapsedSeconds));
        command();
        EXPECT_TRUE(WaitEngineIdle(10s)) << "the command alone ends the playback";
    }
    EXPECT_TRUE(PlayUntil(path, MsgElapsedSeconds));
}

// SDL's disk driver as the sound device while it lives: what the engine plays goes to a file
// at the pace of a real device. The driver the process had comes back afterwards.
class DiskSound {
public:
    explicit DiskSound(const std::string& file) {
        if (const char* current = SDL_GetCurrentAudioDriver()) m_previous = current;
        setenv("SDL_DISKAUDIOFILE", file.c_str(), 1);
        m_ok = SDL_AudioInit("disk") == 0;
    }
    ~DiskSound() {
        // The device must be closed before its driver goes.
        if (engineRunning) StopPlayback();
        SDL_AudioInit(m_previous.empty() ? nullptr : m_previous.c_str());
        unsetenv("SDL_DISKAUDIOFILE");
    }
    DiskSound(const DiskSound&) = delete;
    DiskSound& operator=(const DiskSound&) = delete;
    bool ok() const { return m_ok; }

private:
    std::string m_previous;
    bool m_ok = false;
};

// The loudest sample of the 16-bit sound between two byte offsets of the file.
int Peak(const std::vector<std::int16_t>& samples, std::uintmax_t fromByte, std::uintmax_t toByte) {
    int peak = 0;
    for (std::size_t i = fromByte / 2; i < toByte / 2 && i < samples.size(); ++i)
        peak = std::max(peak, std::abs(int(samples[i])));
    return peak;
}

TEST_F(CommandEffect, VolumeSetsTheLevelOfTheSoundThatReachesTheDevice) {
    const std::string sound = ScratchFolder() + "/volume.raw";
    const std::string path = Recording(kThirtySeconds);
    DiskSound device(sound);
    ASSERT_TRUE(device.ok()) << SDL_GetError();
    ASSERT_TRUE(PlayUntil(path, MsgElapsedSeconds));

    struct Level {
        int volume;
        std::uintmax_t from = 0, to = 0; // bytes of the file played at this volume
    };
    Level levels[] = {{SDL_MIX_MAXVOLUME}, {32}, {0}, {SDL_MIX_MAXVOLUME}};
    for (Level& level : levels) {
        RequestVolume(level.volume);
        std::this_thread::sleep_for(1s); // the blocks filled before the change are played
        level.from = std::filesystem::file_size(sound);
        std::this_thread::sleep_for(1500ms); // at least one click: one each whole second
        level.to = std::filesystem::file_size(sound);
    }
    ASSERT_TRUE(StopPlayback());

    std::vector<std::int16_t> samples(std::filesystem::file_size(sound) / 2);
    std::ifstream(sound, std::ios::binary)
        .read(reinterpret_cast<char*>(samples.data()), std::streamsize(samples.size() * 2));
    int peaks[std::size(levels)];
    for (std::size_t i = 0; i < std::size(levels); ++i) {
        ASSERT_GT(levels[i].to, levels[i].from)
            << "the device played nothing at volume " << levels[i].volume;
        peaks[i] = Peak(samples, levels[i].from, levels[i].to);
    }
    EXPECT_GT(peaks[0], 5000) << "the clicks at full volume";
    // The mixer scales each sample by volume / 128.
    EXPECT_NEAR(double(peaks[1]) / peaks[0], 32.0 / 128, 0.03) << peaks[1] << " / " << peaks[0];
    EXPECT_EQ(peaks[2], 0) << "volume 0 is silence";
    EXPECT_NEAR(double(peaks[3]) / peaks[0], 1.0, 0.1) << "full volume again: " << peaks[3];
}

} // namespace
} // namespace test

namespace {

struct SeekRequestTest : ::testing::Test {
    VideoState state;
    void SetUp() override {
        byteSeekMode = 0;
        ResetClock(&state.audioClock, &state.audioPackets.serial);
        ResetClock(&state.videoClock, &state.frontPackets.serial);
        ResetClock(&state.externalClock, nullptr);
        state.audioStreamIndex = 0;
        state.durationUs = 60000000;
        state.startTimeUs = 0;
        state.containerReady = 1;
    }
    void TearDown() override { byteSeekMode = -1; }
};

TEST_F(SeekRequestTest, FractionSeekAsksForTheTimeOfThatShare) {
    SeekToFraction(&state, 500);
    EXPECT_EQ(state.seekRequested, 1);
    EXPECT_EQ(state.seekTarget, 30000000);
    EXPECT_EQ(state.seekRelative, 0);
    EXPECT_EQ(state.seekFlags & AVSEEK_FLAG_BYTE, 0);
}

TEST_F(SeekRequestTest, RelativeSeekWithoutClockStartsFromTheLastTarget) {
    state.seekTarget = 12000000;
    SeekRelative(&state, 5.0);
    EXPECT_EQ(state.seekTarget, 17000000);
    EXPECT_EQ(state.seekRelative, 5000000);

    SeekRelative(&state, 5.0);
    EXPECT_EQ(state.seekTarget, 17000000) << "a request while one is pending is dropped";

    state.seekRequested = 0;
    StampClock(&state.audioClock, 2.0, 0);
    SeekRelative(&state, -5.0);
    EXPECT_EQ(state.seekTarget, 0) << "never before the start of the recording";
    EXPECT_EQ(state.seekRelative, -5000000);
}

} // namespace
} // namespace velk
