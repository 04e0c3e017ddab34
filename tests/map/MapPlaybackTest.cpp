// A real recording played by the engine into a front host, with the side panel receiving the
// engine's telemetry and mode call: the map follows the drive, draws its route over the tiles of
// a local server, and the screenshot is kept in the build folder.

#include "CRearViewerDlg.h"
#include "EngineTestSupport.h"
#include "MapTestSupport.h"
#include "TileServer.h"

#include "AppGlobals.h"
#include "Engine.h"
#include "PanelCalls.h"
#include "QtMessagePoster.h"
#include "Resources.h"

#include <QCoreApplication>
#include <QWebEngineView>
#include <QWidget>

#include "VideoHost.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>

using namespace velk;
using namespace velk::test;

namespace {

using NativeHost = velk::VideoHost;

// The owner of a playback: notes the end of the recording.
class Owner : public QObject {
public:
    bool event(QEvent* event) override {
        if (event->type() != PostedMessageEvent::eventType()) return QObject::event(event);
        if (static_cast<PostedMessageEvent*>(event)->message.id == MsgEndOfPlayback) ended = true;
        return true;
    }
    bool ended = false;
};

// The read_thread's direct call goes straight to the panel, which hands it to its own thread.
class Calls : public PanelCalls {
public:
    explicit Calls(CRearViewerDlg* panel) : m_panel(panel) {}
    void ShowTotalTime(std::int64_t) override {}
    void SelectViewerMode(bool hasRearPicture) override {
        m_panel->SelectViewerMode(hasRearPicture);
    }

private:
    CRearViewerDlg* m_panel;
};

// The main window's layout around the panel: the front host at (0,42), the panel at (720,42).
// The engine wraps the two hosts once for the program's run, so they are made once for all the
// playbacks of this process, as the main window makes them once.
class MapPlayback : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        static QtMessagePoster poster;
        SetMessagePoster(&poster);
        s_tiles = new TileServer;
        qputenv("VELK_NETWORK", "online");
        qputenv("VELK_MAP_TILES", s_tiles->tileTemplate().toUtf8());
        Globals().uiLanguage = 1033;
        s_window = new QWidget;
        s_window->setFixedSize(1080, 645);
        s_window->setStyleSheet("background: rgb(100,100,100)");
        auto* front = new QWidget(s_window);
        front->setAttribute(Qt::WA_NativeWindow);
        front->setGeometry(0, 42, 720, 405);
        auto* frontHost = new NativeHost(front);
        frontHost->setGeometry(0, 0, 720, 405);
        s_panel = new CRearViewerDlg(s_window);
        s_panel->setPageFolder(BuiltPageFolder());
        s_panel->move(720, 42);
        s_window->move(0, 0);
        s_window->show();
        s_panel->Initialise();
        Globals().frontVideoHost = WindowHandle(frontHost->winId());
        s_mediaLayer = StartMediaLayer() == 0;
    }

    static void TearDownTestSuite() {
        Globals().frontVideoHost = 0;
        delete s_window;
        delete s_tiles;
    }

    void SetUp() override {
        ASSERT_TRUE(s_mediaLayer);
        ASSERT_TRUE(WaitUntil([] { return s_panel->webView() != nullptr; }));
        ASSERT_TRUE(
            WaitUntil([] { return PageState(s_panel->webView()).contains("moves"); }, 30000));
        m_panel = s_panel;
        Globals().lastMapMoveTick = 0;
    }

    // Plays path to its end; during() runs once, midway.
    void play(const std::string& path, int midwayMs, const std::function<void()>& during) {
        Owner owner;
        Calls calls(m_panel);
        Globals().panelCalls = &calls;
        Globals().currentFilePath = path;
        ASSERT_TRUE(StartPlayerThread(QtMessagePoster::HandleOf(&owner)));
        WaitUntil([] { return false; }, midwayMs);
        during();
        const bool ended = WaitUntil([&] { return owner.ended; }, 60000);
        RequestStop();
        ASSERT_TRUE(WaitUntil([] { return engineRunning.load() == 0; }, 20000));
        Globals().panelCalls = nullptr;
        ASSERT_TRUE(ended);
    }

    static inline TileServer* s_tiles = nullptr;
    static inline QWidget* s_window = nullptr;
    static inline CRearViewerDlg* s_panel = nullptr;
    static inline bool s_mediaLayer = false;
    CRearViewerDlg* m_panel = nullptr;
};

TEST_F(MapPlayback, TheMapFollowsAOneCameraRecordingWithItsRoute) {
    const std::string recording =
        Recording({"--duration", "10", "--front", "320x180", "--no-rear", "--seed", "3"});
    LogCapture log;
    play(recording, 0, [] {});

    // 10 s of drive, at most two moves a second; the first tenths have no fix.
    const QVariantMap state = PageState(m_panel->webView());
    const int moves = state.value("routePoints").toInt(); // the route of this playback
    EXPECT_GE(moves, 12);
    EXPECT_LE(moves, 21);
    EXPECT_EQ(log.lines({"mapmove"}).size(), moves);
    EXPECT_FALSE(m_panel->viewerMode());

    WaitUntil([] { return false; }, 1000); // the last pan and its tiles
    const QImage shot = ScreenPixels(m_panel);
    shot.save(QStringLiteral(VELK_BINARY_DIR "/tests/map/map-after-playback.png"));
    ScreenPixels(s_window).save(
        QStringLiteral(VELK_BINARY_DIR "/tests/map/window-after-playback.png"));
    const QRect map(0, 86, 360, 202);
    EXPECT_GT(ColourShare(shot, map, TileServer::kTileColour, 10), 0.3) << "tiles";
    EXPECT_GT(ColourShare(shot, map, qRgb(0xe0, 0x30, 0x1e), 40), 0.001) << "route";
    EXPECT_GT(ColourShare(shot, map, qRgb(0x2a, 0x81, 0xcb), 30), 0.001) << "marker";
    EXPECT_GT(ShareLike(shot, QRect(0, 43, 360, 43), resourceImage(247, ResourceType::Bitmap)),
              0.95)
        << "map bar";
}

TEST_F(MapPlayback, ATwoCameraRecordingShowsTheRearPictureAndMovesNoMap) {
    const std::string recording =
        Recording({"--duration", "4", "--front", "320x180", "--rear", "320x180"});
    const int movesBefore = PageState(m_panel->webView()).value("moves").toInt();
    LogCapture log;
    QImage shot;
    play(recording, 2000, [&] { shot = ScreenPixels(m_panel); });
    shot.save(QStringLiteral(VELK_BINARY_DIR "/tests/map/viewer-during-playback.png"));

    EXPECT_TRUE(m_panel->viewerMode());
    EXPECT_EQ(log.lines({"mode", "mapmove"}), QStringList({"mode viewer"}));
    EXPECT_EQ(PageState(m_panel->webView()).value("moves").toInt(), movesBefore);
    // The engine's rear picture fills the host below the top bar: neither the panel's ground
    // nor its background picture shows there; the map bar sits below it.
    const QRect host(0, 43, 360, 202);
    EXPECT_LT(ShareLike(shot, host, resourceImage(168).copy(0, 0, 360, 202)), 0.2);
    EXPECT_LT(ColourShare(shot, host, qRgb(100, 100, 100), 4), 0.2);
    EXPECT_GT(ShareLike(shot, QRect(0, 245, 360, 43), resourceImage(247, ResourceType::Bitmap)),
              0.95)
        << "map bar";
}

} // namespace
