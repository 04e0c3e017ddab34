// The damaged and hostile recordings as one play list through velk-play, the engine's host
// window: the host moves on at each end (MsgEndOfPlayback) or open failure (MsgOpenFailed), so a
// list of damaged files plays through, one process plays them all one after another, and it
// exits normally.

#include "ChildProcess.h"
#include "DamagedFiles.h"
#include "LineReader.h"
#include "MessageLog.h"
#include "PrivateDisplay.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <map>

namespace velk::test {
namespace {

// Only a guard against a hung program: the list plays through in well under a minute.
constexpr int kSilenceGuardMilliseconds = 60000;

bool startsWith(const std::string& s, const std::string& prefix) { return s.rfind(prefix, 0) == 0; }

TEST(DamagedPlayList, EveryFileEndsOrIsPassedOverAndTheProgramExits) {
    if (UsePrivateDisplay().empty() && !std::getenv("DISPLAY"))
        GTEST_SKIP() << "needs an X display (scripts/run-tests.sh starts Xvfb)";
    std::map<std::string, const Case*> caseOf;
    std::vector<std::string> arguments{VELK_PLAY, "--exit-at-end", "--quit-after", "150"};
    for (const Case& c : DamagedCases()) {
        if (c.seekHalfway) continue; // the same file as its plain case
        const std::string path = MadeFile(c);
        caseOf[path] = &c;
        arguments.push_back(path);
    }
    const ChildProcess play = SpawnChild(arguments, false, true);
    ASSERT_GE(play.pid, 0);
    LineReader reader;
    reader.open(play.output);

    // The progress and telemetry lines would drown the rest of the output.
    const std::string progress[] = {LoggedMessage(MsgPosition), LoggedMessage(MsgElapsedSeconds),
                                    LoggedMessage(MsgVehicleTelemetry),
                                    LoggedMessage(MsgMapTelemetry)};
    const std::string played = LoggedMessage(MsgEndOfPlayback, "control");
    const std::string failed = LoggedMessage(MsgOpenFailed, "main");
    std::map<std::string, unsigned> outcome;
    std::string current, output;
    while (const auto line = reader.readLine(kSilenceGuardMilliseconds)) {
        bool isProgress = false;
        for (const std::string& p : progress)
            isProgress = isProgress || startsWith(*line, p);
        if (!isProgress) output += *line + "\n";
        if (startsWith(*line, "start ")) {
            current = line->substr(6);
            outcome[current] |= 0;
        } else if (startsWith(*line, played)) {
            outcome[current] |= Played;
        } else if (startsWith(*line, failed)) {
            outcome[current] |= OpenFailed;
        }
    }
    const bool silent = !reader.ended();
    reader.close();
    if (silent) kill(play.pid, SIGKILL);
    const int status = WaitExit(play.pid);
    const std::string tail = output.size() > 3000 ? output.substr(output.size() - 3000) : output;

    ASSERT_FALSE(silent) << "velk-play wrote nothing for a minute\n" << tail;
    ASSERT_GE(status, 0) << "velk-play did not exit normally\n" << tail;
    EXPECT_EQ(status, 0) << tail;
    EXPECT_NE(output.find("exit end of play list"), std::string::npos)
        << "the list did not play through\n"
        << tail;
    for (const auto& [path, c] : caseOf) {
        auto it = outcome.find(path);
        if (it == outcome.end()) {
            ADD_FAILURE() << c->name << " was never started";
            continue;
        }
        EXPECT_TRUE(it->second & c->allowed) << c->name << " ended as " << OutcomeName(it->second)
                                             << "; expected " << OutcomeName(c->allowed);
    }
}

} // namespace
} // namespace velk::test
