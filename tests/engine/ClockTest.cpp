// Clocks, the picture delay rule, audio correction, speed and the small pure rules around them.

#include "VideoState.h"

#include <gtest/gtest.h>

namespace velk {
namespace {

struct SpeedFactorGuard {
    explicit SpeedFactorGuard(int factor) { speedFactor = factor; }
    ~SpeedFactorGuard() { speedFactor = 1; }
};

struct ClockTest : ::testing::Test {
    VideoState state;
    void SetUp() override {
        ResetClock(&state.audioClock, &state.audioPackets.serial);
        ResetClock(&state.videoClock, &state.frontPackets.serial);
        ResetClock(&state.externalClock, nullptr);
        state.audioStreamIndex = 0; // audio is the master
        state.frontStreamIndex = 1;
    }
    // Sets audio and video clocks so that video - audio = diff, at the same instant.
    void SetVideoAhead(double diff) {
        const double now = NowSeconds();
        StampClockAt(&state.audioClock, 20.0, 0, now);
        StampClockAt(&state.videoClock, 20.0 + diff, 0, now);
    }
};

TEST_F(ClockTest, ReadsNaNUntilSetOnTheCurrentSerial) {
    EXPECT_TRUE(std::isnan(ReadClock(&state.audioClock)));
    StampClock(&state.audioClock, 10.0, 0);
    EXPECT_NEAR(ReadClock(&state.audioClock), 10.0, 0.01);
    state.audioPackets.serial = 1; // a seek raised the queue's serial
    EXPECT_TRUE(std::isnan(ReadClock(&state.audioClock)));
}

TEST_F(ClockTest, RunsAtItsSpeedAndStandsStillWhenPaused) {
    struct Case {
        double speed;
        double expected;
    };
    for (Case c : {Case{1.0, 10.5}, Case{0.9, 10.45}}) {
        state.audioClock.clockSpeed = c.speed;
        StampClockAt(&state.audioClock, 10.0, 0, NowSeconds() - 0.5);
        EXPECT_NEAR(ReadClock(&state.audioClock), c.expected, 0.005) << "speed " << c.speed;
    }
    SetClockPaused(&state.audioClock, 1);
    const double first = ReadClock(&state.audioClock);
    EXPECT_EQ(ReadClock(&state.audioClock), first);
}

TEST_F(ClockTest, PictureDelayFollowsTheMaster) {
    struct Case {
        double delay;
        double videoAhead;
        double expected;
    };
    const Case cases[] = {
        {0.04, -0.20, 0.0},    // video behind: show at once
        {0.04, 0.05, 0.09},    // video ahead, short delay: the difference is added
        {0.20, 0.15, 0.35},    // video ahead, long delay: the difference is added
        {0.04, 0.005, 0.04},   // within the threshold: unchanged
        {0.033, 0.012, 0.045}, // a little ahead: waits just that much
        {0.04, 20.0, 0.04},    // beyond the gap limit: not corrected
    };
    state.pictureGapLimit = 10.0;
    for (const Case& c : cases) {
        SetVideoAhead(c.videoAhead);
        EXPECT_NEAR(PictureDelay(c.delay, &state), c.expected, 1e-3)
            << "delay " << c.delay << " video ahead " << c.videoAhead;
    }
}

TEST_F(ClockTest, PictureDurationFromTimesOrOwnDuration) {
    QueuedFrame a, b;
    a.serial = b.serial = 1;
    a.pts = 1.0;
    a.duration = 0.04;
    b.pts = 1.0 + 1.0 / 30;
    EXPECT_NEAR(PictureDuration(&state, &a, &b), 1.0 / 30, 1e-9);
    b.pts = a.pts;
    EXPECT_DOUBLE_EQ(PictureDuration(&state, &a, &b), 0.04);
    b.serial = 2;
    EXPECT_DOUBLE_EQ(PictureDuration(&state, &a, &b), 0.0);
}

TEST_F(ClockTest, WantedSampleCountDividesBySpeed) {
    for (auto [factor, expected] : {std::pair{1, 1024}, {2, 512}, {3, 341}, {4, 256}}) {
        SpeedFactorGuard guard(factor);
        EXPECT_EQ(WantedSampleCount(&state, 1024), expected) << "factor " << factor;
    }
}

TEST_F(ClockTest, AudioAheadOfAnotherMasterIsCorrectedAfterAveraging) {
    state.syncMode = MasterClock::Video;
    state.driftWeight = std::exp(std::log(0.01) / kAudioDiffAverageCount);
    state.driftThreshold = 0.02;
    state.audioSource.sampleRate = 48000;
    int wanted = 0;
    for (int i = 0; i <= kAudioDiffAverageCount; ++i) {
        const double now = NowSeconds();
        StampClockAt(&state.videoClock, 20.0, 0, now);
        StampClockAt(&state.audioClock, 20.05, 0, now);
        wanted = WantedSampleCount(&state, 1024);
        if (i < kAudioDiffAverageCount) {
            EXPECT_EQ(wanted, 1024) << "still averaging at " << i;
        }
    }
    EXPECT_EQ(wanted, 1126) << "1024 + 2400 is clamped to 110 percent";
}

TEST_F(ClockTest, ExternalClockSpeedsUpWithFullBuffersAndTheFactor) {
    SpeedFactorGuard guard(2);
    state.audioStreamIndex = -1;
    state.frontPackets.packetCount = 11;
    AdjustExternalClockSpeed(&state);
    EXPECT_NEAR(ClockSpeed(&state.externalClock), 2.002, 1e-9);

    state.frontPackets.packetCount = 2;
    AdjustExternalClockSpeed(&state);
    EXPECT_NEAR(ClockSpeed(&state.externalClock), 2.001, 1e-9) << "low buffer: one step down";
}

TEST(AudioTimestamps, FrameWithoutTimestampContinuesFromThePrevious) {
    StreamDecoder decoder;
    InitDecoder(&decoder, nullptr, avcodec_alloc_context3(nullptr), nullptr, nullptr);
    decoder.codecContext->pkt_timebase = AVRational{1, 48000};
    AVFrame* frame = av_frame_alloc();
    frame->sample_rate = 48000;
    frame->nb_samples = 1024;
    frame->pts = 48000;
    StampAudioFrame(&decoder, frame);
    EXPECT_EQ(frame->pts, 48000);
    frame->pts = AV_NOPTS_VALUE;
    StampAudioFrame(&decoder, frame);
    EXPECT_EQ(frame->pts, 49024);
    av_frame_free(&frame);
    avcodec_free_context(&decoder.codecContext);
}

TEST(EarlyDrop, OnlyTrustedLatePicturesOfTheCurrentSerialAreDropped) {
    struct Case {
        double picture, master;
        int packetSerial, clockSerial;
        double slack;
        bool dropped;
    };
    const double picture = 1.0 / 30;
    const Case cases[] = {
        {10.0, 10.2, 1, 1, 0, true},         // 0.2 s late
        {10.0, 21.0, 1, 1, 0, false},        // 11 s late: too far to be trusted
        {10.1, 10.0, 1, 1, 0, false},        // early
        {10.0, 10.2, 2, 1, 0, false},        // picture from a newer serial than the clock
        {10.0, NAN, 1, 1, 0, false},         // master undefined
        {10.0, 10.02, 1, 1, picture, false}, // late within the slack: still queued
        {10.0, 10.05, 1, 1, picture, true},  // late beyond it
    };
    for (const Case& c : cases)
        EXPECT_EQ(IsLateEnoughToDrop(LatenessBehindMaster(c.picture, c.master, c.packetSerial,
                                                          c.clockSerial),
                                     c.slack, MasterClock::Audio),
                  c.dropped)
            << c.picture << " vs " << c.master << " slack " << c.slack;
}

TEST(SmallRules, VolumeStepsPositionsAndAudioBuffers) {
    EXPECT_EQ(SteppedVolume(0, +1), 1) << "-1000 dB rounds to 0, so one step up";
    EXPECT_EQ(SteppedVolume(1, -1), 0);
    EXPECT_EQ(SteppedVolume(128, +1), 128);
    EXPECT_GT(SteppedVolume(63, +1), 63);
    EXPECT_LT(SteppedVolume(63, -1), 63);

    struct Position {
        double clock;
        std::int64_t durationUs;
        int expected;
    };
    for (Position p : {Position{30.0, 60000000, 500},
                       {59.9, 60000000, 998},
                       {59.5, 59900000, 1000},
                       {0.5, 900000, -1},
                       {NAN, 60000000, -1},
                       {-1.0, 60000000, -1},
                       {1e12, 60000000, -1}})
        EXPECT_EQ(PositionPerMille(p.clock, p.durationUs), p.expected)
            << p.clock << " s of " << p.durationUs;

    EXPECT_EQ(DesiredAudioBufferSamples(44100), 2048);
    EXPECT_EQ(DesiredAudioBufferSamples(8000), 512);
    EXPECT_EQ(DesiredAudioBufferSamples(48000), 2048);
}

} // namespace
} // namespace velk
