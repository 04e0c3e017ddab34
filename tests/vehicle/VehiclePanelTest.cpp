// The vehicle information panel fed with MsgVehicleTelemetry messages: what the grabbed panel
// shows for a record, the lamps' holds, the G-sensor graph, lines it must ignore, the version
// report and its keys.

#include "VehicleTestSupport.h"

#include "AppGlobals.h"
#include "Engine.h"
#include "EventLog.h"
#include "QtMessagePoster.h"
#include "Resources.h"

#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <memory>
#include <sstream>
#include <unistd.h>

namespace velk::test {
namespace {

const QColor kRed(255, 0, 0);
const QColor kGreen(0, 128, 0);
const QColor kBlue(0, 0, 255);
const QRect kGraphArea(240, 0, 480, 123);

class VehiclePanelTest : public ::testing::Test {
protected:
    void SetUp() override {
        speedFactor = 1;
        Globals().playing = false;
        panel = MakePanel();
    }
    void TearDown() override {
        speedFactor = 1;
        Globals().playing = false;
    }

    static std::unique_ptr<CVehicleInfoDlg> MakePanel() {
        auto made = std::make_unique<CVehicleInfoDlg>(nullptr);
        made->move(200, 300);
        made->Initialise();
        made->ResetGraph();
        made->show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(made.get()));
        return made;
    }

    void Send(const Fields& fields) { SendLine(*panel, Line(fields)); }
    QImage Shown() { return Grab(*panel); }
    QColor PixelAt(int x, int y) { return Shown().pixelColor(x, y); }
    // The graph area shows the bare grid: no line, no label.
    bool GraphIsEmpty() {
        return Shown().copy(kGraphArea) == resourceImage(179).convertToFormat(QImage::Format_RGB32);
    }

    std::unique_ptr<CVehicleInfoDlg> panel;
};

// Fields of a line with only the X axis in the graph's range.
Fields OnlyX(const std::string& x) {
    Fields f;
    f.gx = x;
    f.gy = f.gz = "5.0";
    return f;
}

TEST_F(VehiclePanelTest, ARecordShowsItsNumbersUnitAndLamps) {
    struct Case {
        const char* name;
        Fields fields;
        int speed, rpm;
        // (picture, x, y) that must be shown
        std::vector<std::tuple<int, int, int>> pictures;
    };
    const auto fields = [](auto set) {
        Fields f;
        set(f);
        return f;
    };
    const std::vector<Case> cases = {
        {"speed 7 and 850 rpm as 0,0,7 and 0,0,8,5,0",
         fields([](Fields& f) { f.speed = 7, f.rpm = 850; }),
         7,
         850,
         {{267, 65, 93}, {176, 129, 95}, {173, 14, 40}, {175, 181, 40}, {178, 124, 40}}},
        {"speed unit 1 shows mph, the number unchanged",
         fields([](Fields& f) { f.speed = 88, f.rpm = 2150, f.unit = 1; }),
         88,
         2150,
         {{268, 65, 93}}},
        {"numbers too large for the digits show the largest they hold",
         fields([](Fields& f) { f.speed = 1234, f.rpm = 123456; }),
         999,
         99999,
         {}},
        {"indicators and brake on",
         fields([](Fields& f) { f.left = f.right = f.brake = 1; }),
         0,
         0,
         {{172, 14, 40}, {174, 181, 40}, {177, 124, 40}}},
        {"any value but 1 is off",
         fields([](Fields& f) { f.left = 2, f.right = -1, f.brake = 7; }),
         0,
         0,
         {{173, 14, 40}, {175, 181, 40}, {178, 124, 40}}},
        {"pedestrian 1 green", fields([](Fields& f) { f.pedestrian = 1; }), 0, 0, {{266, 68, 40}}},
        {"pedestrian 3 red", fields([](Fields& f) { f.pedestrian = 3; }), 0, 0, {{169, 68, 40}}},
        {"pedestrian 2 grey", fields([](Fields& f) { f.pedestrian = 2; }), 0, 0, {{170, 68, 40}}},
        {"vehicle ahead 4 orange", fields([](Fields& f) { f.ahead = 4; }), 0, 0, {{242, 93, 2}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        panel = MakePanel(); // no hold carried over from the case before
        Send(c.fields);
        const QImage shown = Shown();
        EXPECT_EQ(SpeedShown(shown), c.speed);
        EXPECT_EQ(RpmShown(shown), c.rpm);
        for (const auto& [number, x, y] : c.pictures)
            EXPECT_TRUE(ShowsExactly(shown, number, x, y)) << "picture " << number;
    }
}

// Runs of (state, records).
std::vector<int> Runs(std::initializer_list<std::pair<int, int>> runs) {
    std::vector<int> states;
    for (const auto& [state, count] : runs)
        states.insert(states.end(), std::size_t(count), state);
    return states;
}

// One letter per record for what the lamps show. Lanes: L red left line, R red right line,
// - both grey. Vehicle ahead: r red, o orange, g green, - grey.
TEST_F(VehiclePanelTest, LampsHoldTheirStateForNineRecords) {
    struct Case {
        const char* name;
        bool lane; // else the vehicle-ahead lamp
        std::vector<int> states;
        std::string shown;
    };
    const std::string g = "g";
    const std::vector<Case> cases = {
        {"a left departure lights the left line for 10 records", true, Runs({{1, 1}, {0, 11}}),
         std::string(10, 'L') + "--"},
        {"a right departure during the hold shows at once", true,
         Runs({{1, 1}, {0, 1}, {2, 1}, {0, 10}}), "LL" + std::string(10, 'R') + "-"},
        {"lane state 3 is no departure", true, Runs({{3, 1}, {0, 1}}), "--"},
        {"5,5,1,0,...: green three records, held nine more, then grey", false,
         Runs({{5, 2}, {1, 1}, {0, 10}}), std::string(12, 'g') + "-"},
        {"1 after 9 records of 0 shows red at once", false, Runs({{5, 1}, {0, 9}, {1, 1}}),
         std::string(10, 'g') + "r"},
        {"1 after only 8 records of 0 shows the held state", false, Runs({{5, 1}, {0, 8}, {1, 1}}),
         std::string(10, 'g')},
        {"2 and 3 are red as well", false, Runs({{2, 1}, {0, 9}, {3, 1}}),
         std::string(10, 'r') + "r"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        panel = MakePanel();
        std::string shown;
        for (const int state : c.states) {
            Fields f;
            (c.lane ? f.lane : f.ahead) = state;
            Send(f);
            const QImage picture = Shown();
            if (c.lane) {
                const bool left = ShowsExactly(picture, 251, 28, 2);
                const bool right = ShowsExactly(picture, 256, 157, 2);
                const bool grey =
                    ShowsExactly(picture, 253, 28, 2) && ShowsExactly(picture, 258, 157, 2);
                shown += left && !right ? 'L' : right && !left ? 'R' : grey ? '-' : '?';
            } else {
                switch (PictureAt(picture, {240, 242, 246, 248}, 93, 2)) {
                case 240:
                    shown += 'r';
                    break;
                case 242:
                    shown += 'o';
                    break;
                case 246:
                    shown += 'g';
                    break;
                case 248:
                    shown += '-';
                    break;
                default:
                    shown += '?';
                }
            }
        }
        EXPECT_EQ(shown, c.shown);
    }
}

TEST_F(VehiclePanelTest, GSensorValuesArePlottedAtTheirRowsInTheirColours) {
    struct Case {
        const char* name;
        Fields fields;
        std::vector<std::tuple<int, QColor>> rows; // expected colour at x = 260
    };
    Fields three;
    three.gx = "0.5", three.gy = "0", three.gz = "-0.5";
    const std::vector<Case> cases = {
        {"1.0 at the top row", OnlyX("1.0"), {{0, kRed}}},
        {"-1.0 at row 122", OnlyX("-1.0"), {{122, kRed}}},
        {"0 in the middle", OnlyX("0"), {{61, kRed}}},
        {"x red, y green, z blue", three, {{31, kRed}, {61, kGreen}, {91, kBlue}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        panel = MakePanel();
        Send(c.fields);
        const QImage shown = Shown();
        for (const auto& [row, colour] : c.rows) {
            EXPECT_EQ(shown.pixelColor(260, row), colour) << "row " << row;
            // The one sample is drawn from the graph's left edge to the next point and no further.
            EXPECT_EQ(shown.pixelColor(240, row), colour) << "row " << row;
            EXPECT_EQ(shown.pixelColor(280, row), colour) << "row " << row;
            EXPECT_NE(shown.pixelColor(282, row), colour) << "row " << row;
        }
        // The label of the newest value is written under the lines in the series' colour.
        const QImage label = shown.copy(240, 105, 50, 14);
        bool red = false;
        for (int y = 0; y < label.height(); ++y)
            for (int x = 0; x < label.width(); ++x)
                red = red || label.pixelColor(x, y) == kRed;
        EXPECT_TRUE(red) << "x label";
    }
}

TEST_F(VehiclePanelTest, ValuesOutsideTheRangeAreLeftOutOfTheGraph) {
    for (const char* value : {"1.01", "-1.01", "1.5", "nan", "inf", "-inf"}) {
        SCOPED_TRACE(value);
        panel = MakePanel();
        Fields f = OnlyX(value);
        f.speed = 42;
        Send(f);
        EXPECT_TRUE(GraphIsEmpty());
        EXPECT_EQ(SpeedShown(Shown()), 42) << "the rest of the record is drawn";
    }
}

TEST_F(VehiclePanelTest, AboveSpeedFactorOneOnlyEveryFthRecordAddsSamples) {
    // Four records with X 0.9, 0.5, -0.5, -0.9. Point k of the graph (x = 240 + 40k) shows the
    // k-th newest sample; the oldest sample is shown twice.
    struct Case {
        int factor;
        std::vector<std::tuple<int, int>> points; // (x, row) drawn red
    };
    const std::vector<Case> cases = {
        {1, {{240, 116}, {280, 91}, {320, 31}, {360, 6}, {400, 6}}},
        {2, {{240, 91}, {280, 6}, {320, 6}}},
        // The control panel never sets 0; taken as 1 rather than dividing by it.
        {0, {{240, 116}, {280, 91}, {320, 31}, {360, 6}, {400, 6}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.factor);
        panel = MakePanel();
        speedFactor = c.factor;
        for (const char* x : {"0.9", "0.5", "-0.5", "-0.9"})
            Send(OnlyX(x));
        const QImage shown = Shown();
        for (const auto& [x, row] : c.points)
            EXPECT_EQ(shown.pixelColor(x, row), kRed) << x << "," << row;
        const int end = std::get<0>(c.points.back());
        EXPECT_NE(shown.pixelColor(end + 2, std::get<1>(c.points.back())), kRed);
    }
}

TEST_F(VehiclePanelTest, TheGraphShowsTheNewestTwelveSamplesAndStartsAfreshAtTheRingsWrap) {
    // Rows alternate between two values, so that every visible segment is a slanted line.
    const auto send = [this](int n) { Send(OnlyX(n % 2 ? "0.5" : "-0.5")); };
    for (int n = 0; n < 1023; ++n)
        send(n);
    // 1023 samples: lines reach the graph's right edge.
    QImage shown = Shown();
    bool reachesRight = false;
    for (int row = 0; row < 123; ++row)
        reachesRight = reachesRight || shown.pixelColor(719, row) == kRed;
    EXPECT_TRUE(reachesRight);

    send(1023); // the 1024th sample: the write position wraps to 0
    EXPECT_TRUE(GraphIsEmpty());

    send(1024); // one sample again: one flat segment from the left edge
    shown = Shown();
    EXPECT_EQ(shown.pixelColor(260, 91), kRed);
    for (int x = 282; x < 720; x += 7)
        for (int row = 0; row < 105; ++row)
            ASSERT_NE(shown.pixelColor(x, row), kRed) << x << "," << row;
}

TEST_F(VehiclePanelTest, ResetGraphDiscardsTheHistoryAndWithoutItThereIsNoGraph) {
    for (const char* x : {"0.9", "0.5", "-0.5"})
        Send(OnlyX(x));
    panel->ResetGraph();
    Send(OnlyX("-0.9"));
    QImage shown = Shown();
    EXPECT_EQ(shown.pixelColor(260, 116), kRed);
    EXPECT_NE(shown.pixelColor(282, 116), kRed) << "only the one sample since the reset";

    CVehicleInfoDlg fresh(nullptr);
    fresh.Initialise();
    Fields f = OnlyX("0.5");
    f.speed = 64;
    SendLine(fresh, Line(f));
    shown = Grab(fresh);
    EXPECT_EQ(SpeedShown(shown), 64);
    EXPECT_EQ(shown.copy(kGraphArea), resourceImage(179).convertToFormat(QImage::Format_RGB32));
}

TEST_F(VehiclePanelTest, LinesThatFailTheTestsChangeNothing) {
    QSignalSpy reports(panel.get(), &CVehicleInfoDlg::deviceLabelReported);
    Fields good;
    good.speed = 55, good.rpm = 3000, good.gx = "0.5", good.lane = 1;
    Fields negativeSpeed = good, negativeRpm = good;
    negativeSpeed.speed = -1;
    negativeRpm.rpm = -20;
    std::string binary;
    for (int b = 0; b < 256; ++b)
        binary += char(b);
    const std::vector<std::pair<const char*, std::string>> lines = {
        {"negative speed", Line(negativeSpeed)},
        {"negative rpm", Line(negativeRpm)},
        {"empty", ""},
        {"100,000 bytes", std::string(100000, 'x')},
        {"100,000 digits", std::string(100000, '7')},
        {"binary bytes", binary},
        {"a zero byte first", std::string(1, '\0') + Line(good)},
        {"speed only", "88"},
        {"a space before the comma", "88 ,2150,1,0,0/0,3,0,37.5,126.9,0/0.1,0.1,0.1,0,5,0,0,0,0"},
    };
    const auto sendAll = [&](const QImage& expected) {
        for (const auto& [name, text] : lines) {
            SCOPED_TRACE(name);
            SendLine(*panel, text);
            EXPECT_EQ(Shown(), expected);
        }
        // A message that points somewhere but brings no text of its own is neither read nor
        // taken for the reset.
        WindowMessage stray;
        stray.id = MsgVehicleTelemetry;
        stray.lParam = 0x1000;
        PostWindowMessage(QtMessagePoster::HandleOf(panel.get()), std::move(stray));
        QCoreApplication::sendPostedEvents(panel.get(), PostedMessageEvent::eventType());
        EXPECT_EQ(Shown(), expected);
    };

    SendReset(*panel);
    sendAll(Shown());
    EXPECT_EQ(reports.count(), 0) << "the report waits for the first accepted line";
    Send(good);
    EXPECT_EQ(reports.count(), 1);
    sendAll(Shown());

    // None of them advanced the lane hold: 9 more records keep the left line lit, the 10th not.
    Fields zero = good;
    zero.lane = 0;
    for (int n = 1; n <= 10; ++n) {
        Send(zero);
        EXPECT_EQ(ShowsExactly(Shown(), 251, 28, 2), n <= 9) << "record " << n;
    }
}

TEST_F(VehiclePanelTest, TheVersionIsReportedOnceAfterEachReset) {
    QSignalSpy reports(panel.get(), &CVehicleInfoDlg::deviceLabelReported);
    Fields rs;
    rs.code = 85;
    rs.version = "2.0.7";
    Send(rs);
    EXPECT_EQ(reports.count(), 0) << "no report before a reset";

    SendReset(*panel);
    Send(Fields{});
    Send(rs);
    ASSERT_EQ(reports.count(), 1);
    EXPECT_EQ(reports.at(0).at(0).toString(), QStringLiteral("1.2.03"));
    EXPECT_EQ(reports.at(0).at(1).toInt(), 144);

    SendReset(*panel);
    Send(rs);
    ASSERT_EQ(reports.count(), 2);
    EXPECT_EQ(reports.at(1).at(0).toString(), QStringLiteral("2.0.07"));
    EXPECT_EQ(reports.at(1).at(1).toInt(), 85);

    // No version known: a negative major number, or a line without group 4.
    Fields unknown;
    unknown.version = "-1.0.0";
    for (const std::string& text :
         {Line(unknown), std::string("30,900,0,0,0/0,3,0,37.5,126.9,0/0.1,0.1,0.1,0,5,0,0,0,0")}) {
        SendReset(*panel);
        SendLine(*panel, text);
        ASSERT_EQ(reports.count(), 3);
        EXPECT_EQ(reports.at(2).at(0).toString(), QString());
        EXPECT_EQ(reports.at(2).at(1).toInt(), 0);
        reports.removeLast();
    }
}

TEST_F(VehiclePanelTest, TheResetShowsTheDefaultBackground) {
    Fields f;
    f.speed = 123, f.rpm = 4567, f.unit = 1, f.gx = "0.5", f.left = 1;
    Send(f);
    ASSERT_EQ(SpeedShown(Shown()), 123);
    SendReset(*panel);
    const QImage shown = Shown();
    EXPECT_EQ(SpeedShown(shown), 0);
    EXPECT_EQ(RpmShown(shown), 0);
    EXPECT_TRUE(ShowsExactly(shown, 267, 65, 93));
    EXPECT_TRUE(ShowsExactly(shown, 176, 129, 95));
    EXPECT_TRUE(GraphIsEmpty());
    // The state background shows around them: the arrow it holds in grey.
    EXPECT_EQ(shown.copy(14, 40, 43, 37),
              resourceImage(171).convertToFormat(QImage::Format_RGB32).copy(14, 40, 43, 37));
}

TEST_F(VehiclePanelTest, DeviceLabelTextNamesTheModelByItsCode) {
    const std::vector<std::tuple<int, const char*>> cases = {
        {0x93, "VELK-T(0x93) v1.2.03"},
        {0x90, "VELK-T(0x90) v1.2.03"},
        {0x9f, "VELK-T(0x9f) v1.2.03"},
        {0x50, "VELK-RS(0x50) v1.2.03"},
        {0x55, "VELK-RS(0x55) v1.2.03"},
        {0x5f, "VELK-RS(0x5f) v1.2.03"},
        {0x60, ""},
        {0x8f, ""},
        {0, ""},
        {-112, ""},
    };
    for (const auto& [code, label] : cases)
        EXPECT_EQ(DeviceLabelText(QStringLiteral("1.2.03"), code), QString::fromUtf8(label))
            << code;
}

// The event log goes to standard error; it is caught in a file for the test's duration.
class CapturedStandardError {
public:
    CapturedStandardError() {
        std::fflush(stderr);
        m_saved = dup(2);
        std::FILE* file = std::tmpfile();
        m_fd = dup(fileno(file));
        std::fclose(file);
        dup2(m_fd, 2);
        SetEventLogEnabled(true);
    }
    ~CapturedStandardError() { Restore(); }
    std::string Restore() {
        if (m_saved < 0) return {};
        SetEventLogEnabled(false);
        std::fflush(stderr);
        dup2(m_saved, 2);
        close(m_saved);
        m_saved = -1;
        std::string text;
        lseek(m_fd, 0, SEEK_SET);
        char buffer[4096];
        ssize_t n;
        while ((n = read(m_fd, buffer, sizeof buffer)) > 0)
            text.append(buffer, std::size_t(n));
        close(m_fd);
        return text;
    }

private:
    int m_saved = -1;
    int m_fd = -1;
};

TEST_F(VehiclePanelTest, TheLogNamesEachRecordDrawnAndTheReportedDevice) {
    CapturedStandardError log;
    Fields f;
    f.speed = 7, f.rpm = 850, f.code = 0x93;
    SendReset(*panel);
    Send(f);
    f.speed = 1500;
    Send(f);
    f.speed = -1;
    Send(f);
    EXPECT_EQ(log.Restore(), "device VELK-T(0x93) v1.2.03\nvehicle 7 850\nvehicle 999 850\n");
}

TEST_F(VehiclePanelTest, TheMessageTextIsReleasedOnceHandled) {
    PostedMessageEvent event{WindowMessage{}};
    event.message.id = MsgVehicleTelemetry;
    event.message.text = std::make_unique<std::string>(Line(Fields{}));
    event.message.lParam = reinterpret_cast<std::intptr_t>(event.message.text.get());
    QCoreApplication::sendEvent(panel.get(), &event);
    EXPECT_EQ(event.message.text, nullptr);
}

TEST_F(VehiclePanelTest, KeysActOnlyInTheirStatesAndAreConsumedRegardless) {
    struct Case {
        Qt::Key key;
        bool fullScreen, playing;
        const char* signal; // "" none
        int seconds;
    };
    const std::vector<Case> cases = {
        {Qt::Key_Return, true, false, "fullScreen", 0},
        {Qt::Key_Enter, true, true, "fullScreen", 0},
        {Qt::Key_Escape, true, false, "fullScreen", 0},
        {Qt::Key_Return, false, true, "", 0},
        {Qt::Key_Escape, false, true, "", 0},
        {Qt::Key_Space, false, true, "playPause", 0},
        {Qt::Key_Space, true, false, "", 0},
        {Qt::Key_Left, false, true, "seekBy", -5},
        {Qt::Key_Right, false, true, "seekBy", 5},
        {Qt::Key_Left, false, false, "", 0},
        {Qt::Key_Right, true, false, "", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << "key 0x" << std::hex << int(c.key));
        SCOPED_TRACE(c.fullScreen ? "full screen" : "normal layout");
        SCOPED_TRACE(c.playing ? "playing" : "not playing");
        panel->SetFullScreenShown(c.fullScreen);
        Globals().playing = c.playing;
        QSignalSpy fullScreen(panel.get(), &CVehicleInfoDlg::fullScreenToggleRequested);
        QSignalSpy playPause(panel.get(), &CVehicleInfoDlg::playPauseRequested);
        QSignalSpy seekBy(panel.get(), &CVehicleInfoDlg::seekByRequested);
        QTest::keyClick(panel.get(), c.key);
        const std::string signal = c.signal;
        EXPECT_EQ(fullScreen.count(), signal == "fullScreen" ? 1 : 0);
        EXPECT_EQ(playPause.count(), signal == "playPause" ? 1 : 0);
        ASSERT_EQ(seekBy.count(), signal == "seekBy" ? 1 : 0);
        if (signal == "seekBy") {
            EXPECT_EQ(seekBy.at(0).at(0).toInt(), c.seconds);
        }
        // The main window offers the key first: these are always taken.
        EXPECT_TRUE(panel->PreTranslateKey(QKeyEvent(QEvent::KeyPress, c.key, Qt::NoModifier)));
    }
    for (const Qt::Key other : {Qt::Key_A, Qt::Key_Up, Qt::Key_Tab})
        EXPECT_FALSE(panel->PreTranslateKey(QKeyEvent(QEvent::KeyPress, other, Qt::NoModifier)));
    EXPECT_FALSE(
        panel->PreTranslateKey(QKeyEvent(QEvent::KeyRelease, Qt::Key_Space, Qt::NoModifier)));
}

} // namespace
} // namespace velk::test
