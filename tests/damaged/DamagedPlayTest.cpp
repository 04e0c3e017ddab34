// The damaged and hostile recordings as one play list through velk-play, the engine's host
// window: the host moves on at each end (1048) or open failure (1049), so a list of damaged
// files plays through, one process plays them all one after another, and it exits normally.

#include "DamagedFiles.h"
#include "EngineTestSupport.h"
#include "PrivateDisplay.h"

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <sstream>

namespace velk::test {
namespace {

TEST(DamagedPlayList, EveryFileEndsOrIsPassedOverAndTheProgramExits) {
    if (UsePrivateDisplay().empty() && !std::getenv("DISPLAY"))
        GTEST_SKIP() << "needs an X display (scripts/run-tests.sh starts Xvfb)";
    std::map<std::string, const Case*> caseOf;
    std::string command = ShellQuote(std::string(VELK_BINARY_DIR) + "/tools/velk-play") +
                          " --exit-at-end --quit-after 150";
    for (const Case& c : DamagedCases()) {
        if (c.seekHalfway) continue; // the same file as its plain case
        const std::string path = MadeFile(c);
        caseOf[path] = &c;
        command += " " + ShellQuote(path);
    }
    command += " </dev/null 2>/dev/null";

    FILE* play = popen(command.c_str(), "r");
    ASSERT_NE(play, nullptr);
    std::map<std::string, unsigned> outcome;
    std::string current, output, lastLines;
    char buffer[1 << 16];
    while (std::fgets(buffer, sizeof buffer, play)) {
        std::string line(buffer);
        if (!line.empty() && line.back() == '\n') line.pop_back();
        if (line.rfind("msg 1046", 0) != 0 && line.rfind("msg 1047", 0) != 0 &&
            line.rfind("msg 1044", 0) != 0 && line.rfind("msg 1045", 0) != 0)
            output += line + "\n"; // the progress and telemetry lines would drown the rest
        if (line.rfind("start ", 0) == 0) {
            current = line.substr(6);
            outcome[current] |= 0;
        } else if (line.rfind("msg 1048 control ", 0) == 0) {
            outcome[current] |= Played;
        } else if (line.rfind("msg 1049 main ", 0) == 0) {
            outcome[current] |= OpenFailed;
        }
    }
    const int status = pclose(play);
    const std::string tail = output.size() > 3000 ? output.substr(output.size() - 3000) : output;

    ASSERT_TRUE(WIFEXITED(status)) << "velk-play did not exit normally\n" << tail;
    EXPECT_EQ(WEXITSTATUS(status), 0) << tail;
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
