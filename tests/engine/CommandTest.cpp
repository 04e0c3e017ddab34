// The command channel: what each command function pushes, and the seek requests it leads to.

#include "VideoState.h"

#include <gtest/gtest.h>

namespace velk {
namespace {

struct CommandTest : ::testing::Test {
    static void SetUpTestSuite() { ASSERT_EQ(SDL_Init(SDL_INIT_EVENTS), 0); }
    static void TearDownTestSuite() { SDL_Quit(); }
    void SetUp() override { SDL_FlushEvents(SDL_FIRSTEVENT, SDL_LASTEVENT); }
    static SDL_Event TakeEvent() {
        SDL_Event event{};
        SDL_PumpEvents();
        EXPECT_EQ(SDL_PeepEvents(&event, 1, SDL_GETEVENT, SDL_FIRSTEVENT, SDL_LASTEVENT), 1);
        return event;
    }
};

TEST_F(CommandTest, SeekByMapsToArrowKeys) {
    struct Case {
        int seconds;
        SDL_Keycode key;
    };
    for (Case c : {Case{10, SDLK_UP},
                   {-10, SDLK_DOWN},
                   {-5, SDLK_LEFT},
                   {5, SDLK_RIGHT},
                   {3, SDLK_RIGHT},
                   {0, SDLK_RIGHT}}) {
        RequestSeekBy(c.seconds);
        SDL_Event event = TakeEvent();
        EXPECT_EQ(event.type, SDL_KEYDOWN);
        EXPECT_EQ(event.key.keysym.sym, c.key) << "seconds " << c.seconds;
    }
}

TEST_F(CommandTest, CommandsPushTheirEventsAndStoreTheirValues) {
    RequestSeekToFraction(250);
    EXPECT_EQ(TakeEvent().type, static_cast<Uint32>(CmdSeekToFraction));
    EXPECT_EQ(seekPerMille, 250);
    RequestVolume(100);
    EXPECT_EQ(TakeEvent().type, static_cast<Uint32>(CmdSetVolume));
    EXPECT_EQ(startVolume, 100);
    RequestStop();
    EXPECT_EQ(TakeEvent().type, static_cast<Uint32>(CmdStop));
    RequestQuit();
    EXPECT_EQ(TakeEvent().type, static_cast<Uint32>(CmdQuit));
    RequestSwapViews();
    EXPECT_EQ(TakeEvent().type, static_cast<Uint32>(CmdSwapViews));
    RequestTogglePause();
    EXPECT_EQ(TakeEvent().key.keysym.sym, SDLK_SPACE);
    startVolume = 63;
}

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
