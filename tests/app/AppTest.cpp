// velk-viewer started as a person starts it: one copy per user, a second start told off or
// handing its file over, a copy that died leaving nothing in the way, a bad path named.

#include "MessageLog.h"
#include "ViewerProcess.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <sstream>

namespace velk::test {
namespace {

namespace fs = std::filesystem;

// A card folder with two short recordings, made once per process.
const std::string& cardFolder() {
    static const std::string root = [] {
        const std::string card = ScratchFolder() + "/card";
        fs::create_directories(card + "/ory_rec");
        fs::create_directories(card + "/evt_rec");
        fs::create_directories(card + "/usr_rec");
        for (const char* name : {"ory_rec/20200101_000000_N.mp4", "evt_rec/20200101_000100_E.mp4"})
            EXPECT_TRUE(MakeRecording(card + "/" + name, {"--duration", "30", "--front", "640x360",
                                                          "--rear", "320x180"}));
        return card;
    }();
    return root;
}

// The top-level windows a process shows with exactly this title.
std::vector<std::string> windowsOf(int pid, const std::string& title) {
    std::istringstream ids(ProgramOutput(
        {"xdotool", "search", "--all", "--pid", std::to_string(pid), "--name", "^" + title + "$"}));
    std::vector<std::string> out;
    for (std::string id; ids >> id;)
        out.push_back(id);
    return out;
}

bool waitForWindow(int pid, const std::string& title, std::string* id) {
    for (int i = 0; i < 200; ++i) {
        const auto windows = windowsOf(pid, title);
        if (!windows.empty()) {
            *id = windows.front();
            return true;
        }
        usleep(50000);
    }
    return false;
}

// Answers a message box of the program with Enter, as a person would.
void answer(const std::string& window) {
    RunProgram({"xdotool", "windowfocus", "--sync", window});
    RunProgram({"xdotool", "key", "--window", window, "Return"});
}

TEST(Start, ASecondCopyIsToldOffOnceAndTheFirstGoesOn) {
    ViewerProcess first({cardFolder()});
    ASSERT_TRUE(first.waitForLine("ready")) << first.tail();
    EXPECT_EQ(first.linesWith("list ").size(), 3u) << first.tail();
    EXPECT_EQ(first.linesWith("list normal 1").size(), 1u) << first.tail();

    ViewerProcess second({}, first.runtimeFolder());
    ASSERT_TRUE(second.waitForLine("message ORLIK Viewer is alraedy running!!")) << second.tail();
    std::string box;
    ASSERT_TRUE(waitForWindow(second.pid(), "velk-viewer", &box));
    EXPECT_EQ(windowsOf(second.pid(), "velk-viewer").size(), 1u);
    EXPECT_TRUE(windowsOf(second.pid(), "VELK Viewer v5.1.00").empty()); // no second main window
    answer(box);
    EXPECT_EQ(second.waitExit(10000), 0) << second.tail();

    // The first copy is untouched: it still plays what it is asked to.
    ASSERT_TRUE(first.running());
    first.click(800, 374, 2);
    EXPECT_TRUE(first.waitForPrefix("play " + cardFolder() + "/ory_rec/")) << first.tail();
}

TEST(Start, ACopyThatEndedOrWasKilledLeavesNothingInTheWay) {
    std::string runtime;
    {
        ViewerProcess first({cardFolder()});
        ASSERT_TRUE(first.waitForLine("ready")) << first.tail();
        runtime = first.runtimeFolder();
        first.click(800, 374, 2); // a playback to end as well
        ASSERT_TRUE(first.waitForPrefix(LoggedMessage(MsgElapsedSeconds, "control")));
        first.click(1028 + 19, 21); // the close button
        EXPECT_EQ(first.waitExit(5000), 0) << first.tail();
    }
    {
        ViewerProcess again({cardFolder()}, runtime);
        ASSERT_TRUE(again.waitForLine("ready")) << again.tail();
        kill(again.pid(), SIGKILL);
        again.waitExit(5000);
    }
    ViewerProcess afterKill({cardFolder()}, runtime);
    EXPECT_TRUE(afterKill.waitForLine("ready")) << afterKill.tail();
}

TEST(Start, ASecondStartWithAFileHandsItToTheFirst) {
    ViewerProcess first({cardFolder()});
    ASSERT_TRUE(first.waitForLine("ready")) << first.tail();
    const std::string file = cardFolder() + "/evt_rec/20200101_000100_E.mp4";
    ViewerProcess second({file}, first.runtimeFolder());
    EXPECT_EQ(second.waitExit(10000), 0) << second.tail();
    EXPECT_TRUE(windowsOf(second.pid(), "velk-viewer").empty());
    EXPECT_TRUE(first.waitForLine("handoff " + file)) << first.tail();
    EXPECT_TRUE(first.waitForLine("play " + file)) << first.tail();
}

TEST(Start, APathThatIsNeitherFolderNorFileIsNamedAndTheWindowStays) {
    const std::string missing = ScratchFolder() + "/no such folder";
    ViewerProcess viewer({missing});
    ASSERT_TRUE(viewer.waitForLine("ready")) << viewer.tail();
    const auto message = viewer.linesWith("message ");
    ASSERT_EQ(message.size(), 1u) << viewer.tail();
    EXPECT_NE(message.front().find(missing), std::string::npos);
    EXPECT_TRUE(viewer.running());
    EXPECT_TRUE(viewer.linesWith("list ").empty());
}

TEST(Start, AMediaLayerThatCannotStartIsReportedAndTheProgramEnds) {
    setenv("SDL_VIDEODRIVER", "no-such-driver", 1);
    ViewerProcess viewer({cardFolder()});
    unsetenv("SDL_VIDEODRIVER");
    ASSERT_TRUE(viewer.waitForLine("message SDL Init error")) << viewer.tail();
    std::string box;
    ASSERT_TRUE(waitForWindow(viewer.pid(), "velk-viewer", &box));
    answer(box);
    EXPECT_EQ(viewer.waitExit(10000), 1) << viewer.tail();
    EXPECT_TRUE(viewer.linesWith("ready").empty());
}

} // namespace
} // namespace velk::test
