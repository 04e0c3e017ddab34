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

#include <QCoreApplication>
#include <QWebEngineView>
#include <QWidget>

#include <gtest/gtest.h>

#include <memory>

using namespace velk;
using namespace velk::test;

namespace {

class NativeHost : public QWidget {
public:
    explicit NativeHost(QWidget* parent) : QWidget(parent) {
        setAttribute(Qt::WA_NativeWindow);
        setAttribute(Qt::WA_PaintOnScreen);
        setAttribute(Qt::WA_NoSystemBackground);
    }
    QPaintEngine* paintEngine() const override { return nullptr; }
};

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

TEST(MapPlayback, TheMapFollowsAPlayedRecordingWithItsRoute) {
    const std::string recording =
        Recording({"--duration", "10", "--front", "320x180", "--no-rear", "--seed", "3"});
    static QtMessagePoster poster;
    SetMessagePoster(&poster);
    TileServer tiles;
    qputenv("VELK_NETWORK", "online");
    qputenv("VELK_MAP_TILES", tiles.tileTemplate().toUtf8());
    Globals().uiLanguage = 1033;
    Globals().lastMapMoveTick = 0;

    QWidget window;
    window.setFixedSize(1080, 645);
    window.setStyleSheet("background: rgb(100,100,100)");
    auto* front = new QWidget(&window);
    front->setAttribute(Qt::WA_NativeWindow);
    front->setGeometry(0, 42, 720, 405);
    auto* frontHost = new NativeHost(front);
    frontHost->setGeometry(0, 0, 720, 405);
    auto* panel = new CRearViewerDlg(&window);
    panel->setPageFolder(BuiltPageFolder());
    panel->move(720, 42);
    window.move(0, 0);
    window.show();
    panel->Initialise();
    bool loaded = false;
    QObject::connect(panel, &CRearViewerDlg::mapPageLoaded, [&](bool) { loaded = true; });
    ASSERT_TRUE(WaitUntil([&] { return loaded; }, 30000));

    Globals().frontVideoHost = WindowHandle(frontHost->winId());
    Owner owner;
    Calls calls(panel);
    Globals().panelCalls = &calls;
    Globals().currentFilePath = recording;
    ASSERT_EQ(StartMediaLayer(), 0);
    LogCapture log;
    ASSERT_TRUE(StartPlayerThread(QtMessagePoster::HandleOf(&owner)));
    const bool ended = WaitUntil([&] { return owner.ended; }, 60000);
    RequestStop();
    ASSERT_TRUE(WaitUntil([] { return engineRunning.load() == 0; }, 20000));
    Globals().panelCalls = nullptr;
    ASSERT_TRUE(ended);

    // 10 s of drive, at most two moves a second; the first tenths have no fix.
    const QVariantMap state = PageState(panel->webView());
    const int moves = state.value("moves").toInt();
    EXPECT_GE(moves, 12);
    EXPECT_LE(moves, 21);
    EXPECT_EQ(state.value("routePoints").toInt(), moves);
    EXPECT_EQ(log.lines({"mapmove"}).size(), moves);
    EXPECT_EQ(log.lines({"mode"}), QStringList()); // Map mode throughout

    WaitUntil([] { return false; }, 1000); // the last pan and its tiles
    const QImage shot = ScreenPixels(panel);
    shot.save(QStringLiteral(VELK_BINARY_DIR "/tests/map/map-after-playback.png"));
    ScreenPixels(&window).save(
        QStringLiteral(VELK_BINARY_DIR "/tests/map/window-after-playback.png"));
    const QRect map(0, 86, 360, 202);
    EXPECT_GT(ColourShare(shot, map, TileServer::kTileColour, 10), 0.3) << "tiles";
    EXPECT_GT(ColourShare(shot, map, qRgb(0xe0, 0x30, 0x1e), 40), 0.001) << "route";
    EXPECT_GT(ColourShare(shot, map, qRgb(0x2a, 0x81, 0xcb), 30), 0.001) << "marker";
    Globals().frontVideoHost = 0;
}

} // namespace
