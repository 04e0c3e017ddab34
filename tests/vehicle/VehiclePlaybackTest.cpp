// A recording whose speed and revolutions are known at each tenth, played through the engine into
// a window laid out like the main window: the digits read from the grabbed panel follow the
// recording's telemetry.

#include "VehicleTestSupport.h"

#include "AppGlobals.h"
#include "Engine.h"
#include "EngineTestSupport.h"
#include "QtMessagePoster.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include "VideoHost.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>

namespace velk::test {
namespace {

using VideoArea = velk::VideoHost;

// Receives the progress messages the engine sends to the control panel.
class ControlReceiver : public QObject {
public:
    bool ended = false;
    bool event(QEvent* event) override {
        if (event->type() != PostedMessageEvent::eventType()) return QObject::event(event);
        ended = ended || static_cast<PostedMessageEvent*>(event)->message.id == MsgEndOfPlayback;
        return true;
    }
};

constexpr int kTenths = 30;
int SpeedAt(int tenth) { return 7 * tenth + 3; }
int RpmOf(int speed) { return 400 * speed + 17; }

// The telemetry file for make-recording: one line per tenth, padded past the 80 bytes below
// which the engine's reader drops a text packet.
std::string TelemetryFile() {
    const auto path =
        std::filesystem::path(VELK_BINARY_DIR) / "test-recordings" / "vehicle-known-speeds-1.txt";
    std::filesystem::create_directories(path.parent_path());
    std::ofstream out(path);
    for (int tenth = 0; tenth < kTenths; ++tenth) {
        Fields f;
        f.speed = SpeedAt(tenth);
        f.rpm = RpmOf(f.speed);
        out << tenth << '\t' << Line(f) << "        " << '\n';
    }
    return path.string();
}

TEST(VehiclePlaybackTest, TheDigitsOnTheScreenFollowTheRecordingsTelemetry) {
    const std::string recording = Recording({"--duration", "3", "--front", "320x180", "--rear",
                                             "160x90", "--telemetry-file", TelemetryFile()});
    ASSERT_GE(StartMediaLayer(), 0);

    QWidget window;
    window.setFixedSize(1080, 645);
    auto* frontPanel = new QWidget(&window);
    frontPanel->setAttribute(Qt::WA_NativeWindow);
    frontPanel->setGeometry(0, 42, 720, 405);
    auto* front = new VideoArea(frontPanel);
    front->setGeometry(0, 0, 720, 405);
    auto* sidePanel = new QWidget(&window);
    sidePanel->setAttribute(Qt::WA_NativeWindow);
    sidePanel->setGeometry(720, 42, 360, 288);
    auto* rear = new VideoArea(sidePanel);
    rear->setGeometry(0, 0, 360, 202);
    auto* panel = new CVehicleInfoDlg(&window);
    panel->move(0, 522);
    panel->Initialise();
    panel->ResetGraph();
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));

    ControlReceiver control;
    QSignalSpy reports(panel, &CVehicleInfoDlg::deviceLabelReported);
    AppGlobals& g = Globals();
    g.frontVideoHost = WindowHandle(front->winId());
    g.rearVideoHost = WindowHandle(rear->winId());
    g.vehicleInfoPanel = QtMessagePoster::HandleOf(panel);
    g.currentFilePath = recording;
    ASSERT_TRUE(StartPlayerThread(QtMessagePoster::HandleOf(&control)));
    g.playing = true;

    // What the screen shows, read every 20 ms until the recording has played out.
    std::vector<std::pair<int, int>> seen;
    QElapsedTimer clock;
    clock.start();
    while (!control.ended && clock.elapsed() < 30000) {
        QTest::qWait(20);
        const QImage shown = Grab(*panel);
        seen.emplace_back(SpeedShown(shown), RpmShown(shown));
    }
    g.playing = false;
    RequestStop();
    while (engineRunning != 0 && clock.elapsed() < 60000)
        QTest::qWait(20);
    QCoreApplication::sendPostedEvents();
    const QImage last = Grab(*panel);
    g.vehicleInfoPanel = g.frontVideoHost = g.rearVideoHost = 0;
    ASSERT_TRUE(control.ended) << "the recording did not play out";
    ASSERT_EQ(engineRunning, 0);

    std::map<int, int> tenthOfSpeed;
    for (int tenth = 0; tenth < kTenths; ++tenth)
        tenthOfSpeed[SpeedAt(tenth)] = tenth;
    // Each reading is the default background or one line of the recording, never two lines
    // mixed, and the lines follow each other in playing order.
    int previousTenth = -1;
    int distinct = 0;
    for (const auto& [speed, rpm] : seen) {
        if (speed == 0 && rpm == 0) {
            EXPECT_EQ(previousTenth, -1) << "the default background only before the first line";
            continue;
        }
        ASSERT_TRUE(tenthOfSpeed.count(speed)) << "speed " << speed;
        EXPECT_EQ(rpm, RpmOf(speed)) << "speed " << speed;
        const int tenth = tenthOfSpeed[speed];
        EXPECT_GE(tenth, previousTenth);
        distinct += tenth != previousTenth;
        previousTenth = tenth;
    }
    // Lines come every 100 ms and the screen is read every 20 ms: most of them are seen.
    EXPECT_GE(distinct, kTenths / 3);
    EXPECT_EQ(SpeedShown(last), SpeedAt(kTenths - 1));
    EXPECT_EQ(RpmShown(last), RpmOf(SpeedAt(kTenths - 1)));
    ASSERT_EQ(reports.count(), 1);
    EXPECT_EQ(reports.at(0).at(0).toString(), QStringLiteral("1.2.03"));
    EXPECT_EQ(reports.at(0).at(1).toInt(), 144);
}

} // namespace
} // namespace velk::test
