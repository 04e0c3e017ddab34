// The side panel on a real X server with a real web view: pages by language, the two modes and
// their bars, the move interval, bad input, a render process that dies, and the emulation value.

#include "CRearViewerDlg.h"
#include "MapTestSupport.h"
#include "TileServer.h"

#include "AppGlobals.h"
#include "CGdipButton.h"
#include "QtMessagePoster.h"
#include "Resources.h"

#include <QApplication>
#include <QDialog>
#include <QLineEdit>
#include <QProcess>
#include <QSet>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QWebEnginePage>
#include <QWebEngineView>

#include <gtest/gtest.h>

#include <cmath>
#include <csignal>
#include <limits>
#include <memory>
#include <thread>

using namespace velk;
using namespace velk::test;

namespace {

constexpr double kSeoulLatitude = 37.566522;
constexpr double kSeoulLongitude = 126.977990;

bool AnyMessageBox() {
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->isVisible() && qobject_cast<QDialog*>(w)) return true;
    return false;
}

class MapPanel : public ::testing::Test {
protected:
    void SetUp() override {
        static QtMessagePoster poster;
        SetMessagePoster(&poster);
        AppGlobals& g = Globals();
        g.uiLanguage = 1033;
        g.lastMapMoveTick = 0;
        g.mapPanel = 0;
        g.rearVideoHost = 0;
        qputenv("VELK_NETWORK", "online");
        qputenv("VELK_MAP_TILES", m_tiles.tileTemplate().toUtf8());
    }

    void TearDown() override {
        m_panel.reset();
        QCoreApplication::processEvents();
    }

    // A shown, initialised panel reading pages from folder; with waitForPage, returns once the
    // page has loaded (or failed to).
    CRearViewerDlg* open(const QString& folder = BuiltPageFolder(), bool waitForPage = true) {
        m_panel = std::make_unique<CRearViewerDlg>(nullptr);
        m_panel->setPageFolder(folder);
        m_panel->setTickSource([this] { return m_tick; });
        m_panel->move(40, 40);
        auto loaded = std::make_shared<int>(-1);
        QObject::connect(m_panel.get(), &CRearViewerDlg::mapPageLoaded,
                         [loaded](bool ok) { *loaded = ok ? 1 : 0; });
        m_panel->show();
        m_panel->Initialise();
        if (waitForPage) {
            EXPECT_TRUE(WaitUntil([&] { return *loaded >= 0; }, 30000)) << "no page load";
            // The tiles of the first view come in after the load.
            WaitUntil([] { return false; }, 200);
        }
        return m_panel.get();
    }

    // Posts line at the given tick.
    void postAt(std::uint32_t tick, const std::string& line) {
        m_tick = tick;
        PostTelemetry(line);
    }

    int pageMoves() { return PageState(m_panel->webView()).value("moves", -1).toInt(); }

    void click(QWidget* bar) {
        QTest::mouseClick(bar, Qt::LeftButton, {}, QPoint(180, 20));
        QCoreApplication::processEvents();
    }

    QImage screen() {
        QCoreApplication::processEvents();
        WaitUntil([] { return false; }, 150);
        return ScreenPixels(m_panel.get());
    }

    TileServer m_tiles;
    std::uint32_t m_tick = 100000;
    std::unique_ptr<CRearViewerDlg> m_panel;
};

// --- Pages and captions by language -----------------------------------------------------------

TEST_F(MapPanel, OpensThePageOfTheLanguage) {
    struct Case {
        std::uint16_t language;
        const char* page;
        const char* htmlLanguage;
        const char* zoomInLabel;
    };
    const Case cases[] = {
        {1042, "googlemap_kr.html", "ko", "확대"},    {1033, "googlemap_en.html", "en", "Zoom in"},
        {1041, "openstreetmap.html", "ja", "拡大"},   {2052, "baidumap.html", "zh-CN", "放大"},
        {1031, "googlemap_en.html", "en", "Zoom in"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.language);
        Globals().uiLanguage = c.language;
        CRearViewerDlg* panel = open();
        EXPECT_EQ(panel->pageUrl().fileName(), QString::fromLatin1(c.page));
        ASSERT_NE(panel->webView(), nullptr);
        EXPECT_EQ(Evaluate(panel->webView(), "document.documentElement.lang").toString(),
                  QString::fromLatin1(c.htmlLanguage));
        EXPECT_EQ(Evaluate(panel->webView(), "document.querySelector('.leaflet-control-zoom-in')"
                                             ".title")
                      .toString(),
                  QString::fromUtf8(c.zoomInLabel));
        EXPECT_EQ(PageState(panel->webView()).value("tiles").toString(), m_tiles.tileTemplate());
        m_panel.reset();
    }
}

TEST_F(MapPanel, CaptionsFollowTheLanguageAndTheCameraSwitch) {
    struct Case {
        std::uint16_t language;
        int second, front, map;
    };
    const Case cases[] = {{1042, 217, 271, 216}, {1033, 254, 272, 247}, {2052, 254, 272, 247}};
    qputenv("VELK_NETWORK", "offline");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.language);
        Globals().uiLanguage = c.language;
        CRearViewerDlg* panel = open(BuiltPageFolder(), false);
        const auto shows = [](CGdipButton* bar, int number) {
            return bar->grab().toImage().convertToFormat(QImage::Format_RGB32) ==
                   resourceImage(number, ResourceType::Bitmap)
                       .convertToFormat(QImage::Format_RGB32);
        };
        EXPECT_TRUE(shows(panel->mapBar(), c.map));
        EXPECT_TRUE(shows(panel->topBar(), c.second));
        panel->ToggleCameraCaption();
        EXPECT_TRUE(shows(panel->topBar(), c.front));
        EXPECT_TRUE(panel->topBar()->isVisible());
        panel->ToggleCameraCaption();
        EXPECT_TRUE(shows(panel->topBar(), c.second));
        m_panel.reset();
    }
}

// --- Modes ------------------------------------------------------------------------------------

TEST_F(MapPanel, OfflineShowsTheNoNetworkPictureAndNeverAWebView) {
    qputenv("VELK_NETWORK", "offline");
    CRearViewerDlg* panel = open(BuiltPageFolder(), false);
    const QImage noNetwork = resourceImage(261);
    const QRect below(0, 86, 360, 202);
    EXPECT_FALSE(panel->mapLoaded());
    EXPECT_FALSE(panel->viewerMode());
    EXPECT_GT(ShareLike(screen(), below, noNetwork), 0.95);
    EXPECT_TRUE(panel->mapBar()->isVisible());

    click(panel->mapBar()); // the mode already shown
    EXPECT_FALSE(panel->viewerMode());
    EXPECT_EQ(panel->mapBar()->y(), 43);
    EXPECT_GT(ShareLike(screen(), below, noNetwork), 0.95);

    click(panel->topBar());
    EXPECT_TRUE(panel->viewerMode());
    EXPECT_TRUE(panel->videoHost()->isVisible());
    EXPECT_EQ(panel->videoHost()->mapTo(panel, QPoint(0, 0)), QPoint(0, 43));
    EXPECT_EQ(panel->mapBar()->y(), 245);

    click(panel->mapBar());
    EXPECT_FALSE(panel->viewerMode());
    EXPECT_FALSE(panel->videoHost()->isVisible());
    EXPECT_GT(ShareLike(screen(), below, noNetwork), 0.95);
    EXPECT_EQ(panel->webView(), nullptr);
}

TEST_F(MapPanel, ViewerModeRunsNoScriptAndTheWebViewWaitsForMapMode) {
    LogCapture log;
    m_panel = std::make_unique<CRearViewerDlg>(nullptr);
    m_panel->setPageFolder(BuiltPageFolder());
    m_panel->setTickSource([this] { return m_tick; });
    m_panel->Initialise();
    m_panel->SelectViewerMode(true); // a two-camera recording before the panel was ever shown
    m_panel->show();
    WaitUntil([] { return false; }, 300);
    EXPECT_EQ(m_panel->webView(), nullptr);

    for (int i = 0; i < 4; ++i)
        postAt(200000 + 1000 * i, TelemetryLine(kSeoulLatitude, kSeoulLongitude));
    EXPECT_TRUE(log.lines({"mapmove"}).isEmpty());

    auto loaded = std::make_shared<bool>(false);
    QObject::connect(m_panel.get(), &CRearViewerDlg::mapPageLoaded,
                     [loaded](bool) { *loaded = true; });
    click(m_panel->mapBar());
    ASSERT_NE(m_panel->webView(), nullptr);
    ASSERT_TRUE(WaitUntil([&] { return *loaded; }, 30000));
    EXPECT_EQ(pageMoves(), 0);
    postAt(210000, TelemetryLine(kSeoulLatitude, kSeoulLongitude));
    EXPECT_EQ(pageMoves(), 1);

    click(m_panel->topBar());
    for (int i = 1; i <= 3; ++i)
        postAt(210000 + 1000 * i, TelemetryLine(kSeoulLatitude + 0.001 * i, kSeoulLongitude));
    EXPECT_EQ(pageMoves(), 1);
    EXPECT_EQ(
        log.lines({"mode", "mapmove"}),
        QStringList({"mode viewer", "mode map", "mapmove 37.566522 126.977990", "mode viewer"}));
}

TEST_F(MapPanel, ARecordingSelectsTheModeFromTheReadThread) {
    CRearViewerDlg* panel = open();
    QSignalSpy switchButton(panel, &CRearViewerDlg::switchButtonEnabled);
    postAt(300000, TelemetryLine(kSeoulLatitude, kSeoulLongitude));
    postAt(301000, TelemetryLine(kSeoulLatitude + 0.0005, kSeoulLongitude));
    EXPECT_EQ(PageState(panel->webView()).value("routePoints").toInt(), 2);

    std::thread([panel] { panel->SelectViewerMode(true); }).join();
    EXPECT_FALSE(panel->viewerMode()); // only the user-interface thread writes the mode
    ASSERT_TRUE(WaitUntil([&] { return panel->viewerMode(); }));
    ASSERT_EQ(switchButton.count(), 1);
    EXPECT_EQ(switchButton.at(0).at(0).toBool(), true);
    EXPECT_TRUE(panel->videoHost()->isVisible());
    EXPECT_FALSE(panel->mapHost()->isVisible());

    // A one-camera recording shows the map even though the user was in Viewer mode, and its
    // route starts afresh.
    std::thread([panel] { panel->SelectViewerMode(false); }).join();
    ASSERT_TRUE(WaitUntil([&] { return !panel->viewerMode(); }));
    ASSERT_EQ(switchButton.count(), 2);
    EXPECT_EQ(switchButton.at(1).at(0).toBool(), false);
    EXPECT_TRUE(panel->mapHost()->isVisible());
    EXPECT_FALSE(panel->videoHost()->isVisible());
    EXPECT_EQ(PageState(panel->webView()).value("routePoints").toInt(), 0);
}

// Records which top-level window each key press is delivered in.
class KeyWitness : public QObject {
public:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::KeyPress && watched->isWidgetType())
            windows.insert(static_cast<QWidget*>(watched)->window());
        return false;
    }
    QSet<QWidget*> windows;
};

TEST_F(MapPanel, AClickOnTheMapLeavesTheKeyboardWithTheMainWindow) {
    QWidget main;
    main.setGeometry(0, 0, 1080, 645);
    auto* other = new QLineEdit(&main);
    other->setGeometry(10, 10, 200, 30);
    m_panel = std::make_unique<CRearViewerDlg>(&main);
    m_panel->setPageFolder(BuiltPageFolder());
    m_panel->move(720, 42);
    bool loaded = false;
    QObject::connect(m_panel.get(), &CRearViewerDlg::mapPageLoaded, [&](bool) { loaded = true; });
    main.show();
    m_panel->Initialise();
    ASSERT_TRUE(WaitUntil([&] { return loaded; }, 30000));
    main.activateWindow();
    other->setFocus();
    ASSERT_TRUE(WaitUntil([&] { return QApplication::activeWindow() == &main; }));

    // A person's click through the X server, in the middle of the map.
    const QPoint at = m_panel->mapToGlobal(QPoint(100, 200));
    ASSERT_EQ(QProcess::execute("xdotool", {"mousemove", QString::number(at.x()),
                                            QString::number(at.y()), "click", "1"}),
              0);
    EXPECT_TRUE(WaitUntil([&] { return QApplication::focusWidget() == m_panel.get(); }, 5000));
    EXPECT_EQ(QApplication::activeWindow(), &main);

    KeyWitness witness;
    qApp->installEventFilter(&witness);
    ASSERT_EQ(QProcess::execute("xdotool", {"key", "Right"}), 0);
    EXPECT_TRUE(WaitUntil([&] { return !witness.windows.isEmpty(); }, 5000));
    qApp->removeEventFilter(&witness);
    EXPECT_EQ(witness.windows, QSet<QWidget*>({&main}));
    m_panel.reset();
}

// --- The move interval and bad input ----------------------------------------------------------

TEST_F(MapPanel, MovesTheMapAtMostEvery500Milliseconds) {
    const std::string usable = TelemetryLine(kSeoulLatitude, kSeoulLongitude);
    const std::string further = TelemetryLine(kSeoulLatitude + 0.0004, kSeoulLongitude + 0.0003);
    const double nan = std::numeric_limits<double>::quiet_NaN();
    struct Step {
        std::uint32_t tick;
        std::string line;
        bool moves;
    };
    struct Scenario {
        const char* name;
        std::vector<Step> steps;
    };
    const Scenario scenarios[] = {
        {"300 ms after a move is too soon, 600 ms is not",
         {{1000, usable, true}, {1300, further, false}, {1600, further, true}}},
        {"a record without a fix does not restart the interval",
         {{1000, usable, true}, {1300, TelemetryLine(1, 2, 1), false}, {1500, further, true}}},
        {"positions off the globe do not move the map nor restart the interval",
         {{1000, usable, true},
          {1500, TelemetryLine(91, kSeoulLongitude), false},
          {1510, TelemetryLine(kSeoulLatitude, 181), false},
          {1520, TelemetryLine(nan, kSeoulLongitude), false},
          {1530, "22,1956,0,0,0/0,3,8,inf,126.9,341/0,0,0,0,0,0,0,0,0", false},
          {1540, "", false},
          {1550, "not telemetry at all", false},
          {1700, further, true}}},
        {"the tick wraps around", {{0xfffffe00u, usable, true}, {0x00000010u, further, true}}},
    };
    for (const Scenario& s : scenarios) {
        SCOPED_TRACE(s.name);
        Globals().lastMapMoveTick = 0;
        LogCapture log;
        CRearViewerDlg* panel = open();
        int expected = 0;
        for (const Step& step : s.steps) {
            postAt(step.tick, step.line);
            expected += step.moves ? 1 : 0;
            EXPECT_EQ(pageMoves(), expected) << "at tick " << step.tick;
        }
        EXPECT_EQ(log.lines({"mapmove"}).size(), expected);
        const QVariantList at = PageState(panel->webView()).value("vehicle").toList();
        ASSERT_EQ(at.size(), 2);
        EXPECT_NEAR(at[0].toDouble(), kSeoulLatitude + 0.0004, 1e-9);
        EXPECT_NEAR(at[1].toDouble(), kSeoulLongitude + 0.0003, 1e-9);
        EXPECT_FALSE(AnyMessageBox());
        m_panel.reset();
    }
}

TEST_F(MapPanel, BrokenPagesMoveNothingAndShowNothing) {
    struct Case {
        const char* name;
        const char* html; // nullptr: no page file at all
    };
    const Case cases[] = {
        {"missing page", nullptr},
        {"page without MapMove", "<html><body>no map here</body></html>"},
        {"page whose MapMove fails",
         "<html><body><script>function MapMove(a, b) { alert('x'); confirm('y');"
         " throw new Error('broken'); }</script></body></html>"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir folder;
        if (c.html) {
            QFile page(folder.filePath("googlemap_en.html"));
            ASSERT_TRUE(page.open(QIODevice::WriteOnly));
            page.write(c.html);
        }
        Globals().lastMapMoveTick = 0;
        CRearViewerDlg* panel = open(folder.path());
        for (int i = 0; i < 3; ++i)
            postAt(400000 + 600 * i, TelemetryLine(kSeoulLatitude, kSeoulLongitude));
        // Every script has been through the page once a later one answers.
        EXPECT_EQ(Evaluate(panel->webView(), "1 + 1").toInt(), 2);
        EXPECT_FALSE(panel->mapFailed());
        EXPECT_FALSE(AnyMessageBox());
        const QUrl shown = panel->webView()->url();
        EXPECT_TRUE(shown.isEmpty() || shown.isLocalFile()) << shown.toString().toStdString();
        m_panel.reset();
    }
}

TEST_F(MapPanel, ARenderProcessThatDiesLeavesTheNoNetworkPicture) {
    LogCapture log;
    CRearViewerDlg* panel = open();
    postAt(500000, TelemetryLine(kSeoulLatitude, kSeoulLongitude));
    ASSERT_EQ(pageMoves(), 1);
    const qint64 renderer = panel->webView()->page()->renderProcessPid();
    ASSERT_GT(renderer, 0);
    ::kill(pid_t(renderer), SIGKILL);
    ASSERT_TRUE(WaitUntil([&] { return panel->mapFailed(); }));

    const QRect below(0, 86, 360, 202);
    EXPECT_FALSE(panel->mapHost()->isVisible());
    EXPECT_GT(ShareLike(screen(), below, resourceImage(261)), 0.95);
    postAt(501000, TelemetryLine(kSeoulLatitude + 0.001, kSeoulLongitude));
    EXPECT_EQ(log.lines({"mapmove"}).size(), 1);

    // The rest of the panel goes on.
    click(panel->topBar());
    EXPECT_TRUE(panel->viewerMode());
    EXPECT_TRUE(panel->videoHost()->isVisible());
    click(panel->mapBar());
    EXPECT_FALSE(panel->viewerMode());
    EXPECT_FALSE(panel->mapHost()->isVisible());
    EXPECT_GT(ShareLike(screen(), below, resourceImage(261)), 0.95);
    EXPECT_FALSE(AnyMessageBox());
}

TEST_F(MapPanel, PublishesItsHostsAndTheEmulationValue) {
    qputenv("VELK_NETWORK", "offline");
    CRearViewerDlg* panel = open(BuiltPageFolder(), false);
    EXPECT_EQ(Globals().rearVideoHost, WindowHandle(panel->videoHost()->winId()));
    EXPECT_EQ(Globals().mapPanel, QtMessagePoster::HandleOf(panel));
    EXPECT_EQ(panel->objectName(), QStringLiteral("map"));
    EXPECT_EQ(panel->size(), QSize(360, 288));
    QSettings store(QSettings::IniFormat, QSettings::UserScope, "Microsoft", "Internet Explorer");
    EXPECT_EQ(store.value("Main/FeatureControl/FEATURE_BROWSER_EMULATION/VELKViewer.exe").toInt(),
              11000);
    m_panel.reset();
    EXPECT_EQ(Globals().rearVideoHost, WindowHandle(0));
    EXPECT_EQ(Globals().mapPanel, WindowHandle(0));
}

} // namespace
