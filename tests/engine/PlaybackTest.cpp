// Whole playbacks on real recordings: start, messages, commands, end and teardown.

#include "EngineTestSupport.h"

#include <gtest/gtest.h>

#include <thread>

using namespace std::chrono_literals;

namespace velk::test {
namespace {

const std::vector<std::string> kSmall = {"--duration", "3", "--front", "640x360", "--rear",
                                         "320x180"};

class PlaybackTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { SetUpEngineEnvironment(); }
    void TearDown() override {
        if (engineRunning) StopPlayback();
    }
};

TEST_F(PlaybackTest, PlaysToTheEndAndReportsOnce) {
    StartPlayback(Recording(kSmall));
    ASSERT_TRUE(Poster().waitForMessage(MsgEndOfPlayback, 20s));
    std::this_thread::sleep_for(500ms);
    auto log = Poster().snapshot();
    ASSERT_GE(log.size(), 4u);
    EXPECT_EQ(log[0].id, MsgVehicleTelemetry);
    EXPECT_EQ(log[0].lParam, 0);
    EXPECT_EQ(MessagesWithId(MsgEndOfPlayback).size(), 1u);
    auto figures = CurrentPlaybackFigures();
    EXPECT_GT(figures.picturesShown, 60);
    for (auto& m : log) std::printf("%u %lu %ld %s\n", m.id, (unsigned long)m.wParam, (long)m.lParam, m.text ? m.text->c_str() : "");
    std::printf("shown %ld dropped %ld/%ld first %.3f\n", (long)figures.picturesShown, (long)figures.droppedBeforeQueue, (long)figures.droppedAtDisplay, figures.firstPictureSeconds);
    ASSERT_TRUE(StopPlayback());
}

} // namespace
} // namespace velk::test
