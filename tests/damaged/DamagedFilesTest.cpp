// Damaged and hostile files played through the engine in this process: cut, overwritten and
// patched copies of real recordings, empty files, a folder, an extreme telemetry line. Each must
// end in a played recording (MsgEndOfPlayback), the open failure (MsgOpenFailed) or the engine's
// own quit within a time limit, and leave no engine thread behind. Each case runs in its own
// process, so the sanitizer builds also see what one case leaks.

#include "DamagedFiles.h"
#include "EngineFixture.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <thread>

using namespace std::chrono_literals;

namespace velk::test {
namespace {

class DamagedFileTest : public EngineTest, public ::testing::WithParamInterface<Case> {};

TEST_P(DamagedFileTest, EndsCleanlyWithinTheLimit) {
    const Case& c = GetParam();
    const std::string path = MadeFile(c);
    // A case process has played nothing yet: its threads now are the ones it must end with.
    const int threadsBefore = ThreadCount();

    StartPlayback(path);
    auto ended = [] {
        return !MessagesWithId(MsgEndOfPlayback).empty() ||
               !MessagesWithId(MsgOpenFailed).empty() || engineRunning == 0;
    };
    if (c.seekHalfway) {
        ASSERT_TRUE(Poster().waitFor(
            [&](const std::vector<RecordedMessage>&) {
                return CurrentPlaybackFigures().picturesShown > 0 || engineRunning == 0;
            },
            20s));
        RequestSeekToFraction(500);
    }
    // The recordings last 2 s: the limit leaves room for a slow sanitizer build.
    const auto deadline = std::chrono::steady_clock::now() + 40s;
    while (!ended() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(20ms);
    ASSERT_TRUE(ended()) << c.name << ": neither the end, the open failure nor a quit in 40 s";

    unsigned outcome = 0;
    if (!MessagesWithId(MsgOpenFailed).empty())
        outcome = OpenFailed;
    else if (!MessagesWithId(MsgEndOfPlayback).empty())
        outcome = Played;
    else
        outcome = Quit;
    std::printf("%s: %s\n", c.name, OutcomeName(outcome).c_str());
    EXPECT_TRUE(outcome & c.allowed) << c.name << " ended as " << OutcomeName(outcome)
                                     << "; expected " << OutcomeName(c.allowed);
    EXPECT_LE(MessagesWithId(MsgEndOfPlayback).size(), 1u) << "the end is posted once";
    if (outcome == Played && c.hasPictures) {
        EXPECT_GT(CurrentPlaybackFigures().picturesShown, 0) << "played without a picture";
    }

    ASSERT_TRUE(StopPlayback()) << c.name << ": the engine did not stop";
    // The player thread marks itself idle as its last act; it and the threads it joined take a
    // moment more to vanish from /proc.
    for (int i = 0; i < 250 && ThreadCount() > threadsBefore; ++i)
        std::this_thread::sleep_for(20ms);
    EXPECT_LE(ThreadCount(), threadsBefore) << c.name << ": a thread was left behind";
}

INSTANTIATE_TEST_SUITE_P(Files, DamagedFileTest, ::testing::ValuesIn(DamagedCases()),
                         [](const ::testing::TestParamInfo<Case>& info) {
                             return std::string(info.param.name);
                         });

} // namespace
} // namespace velk::test
