#include "CRearViewerDlg.h"

#include "VideoHost.h"

#include "AppGlobals.h"
#include "CGdipButton.h"
#include "EventLog.h"
#include "QtMessagePoster.h"
#include "Resources.h"
#include "TelemetryRecord.h"

#include <QCoreApplication>
#include <QDir>
#include <QMouseEvent>
#include <QNetworkInformation>
#include <QPainter>
#include <QSettings>
#include <QThread>
#include <QTimer>
#include <QUrlQuery>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineSettings>
#include <QWebEngineView>
#include <QWindow>

#include <chrono>
#include <cmath>

namespace {

constexpr QColor kPanelGround(100, 100, 100);

constexpr int kBarHeight = 43;
constexpr int kVideoTop = 43;
constexpr int kVideoHeight = 202;
constexpr int kMapTop = 86;
constexpr int kMapHeight = 202;
constexpr int kMapBarTopInViewerMode = 245;

// Caption bitmaps (360 x 43) and background pictures (360 x 203).
constexpr int kMapCaptionKorean = 216, kMapCaption = 247;
constexpr int kSecondCameraKorean = 217, kSecondCamera = 254;
constexpr int kFrontCameraKorean = 271, kFrontCamera = 272;
constexpr int kRearCameraGround = 168;
constexpr int kNoNetworkGround = 261;

constexpr const char* kResetScript = "if (typeof MapReset === 'function') MapReset();";

std::uint32_t monotonicTick() {
    using namespace std::chrono;
    return std::uint32_t(
        duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

bool positionInRange(double latitude, double longitude) {
    return std::isfinite(latitude) && std::isfinite(longitude) && std::fabs(latitude) <= 90.0 &&
           std::fabs(longitude) <= 180.0;
}

using velk::VideoHost;

// The map page stays quiet and stays put: its console, dialogs and any navigation away from the
// local page (a click on the attribution link) are dropped, so a faulty page can neither show a
// message box nor take the panel to the internet.
class MapPage : public QWebEnginePage {
public:
    MapPage(QWebEngineProfile* profile, QObject* parent) : QWebEnginePage(profile, parent) {}

protected:
    void javaScriptConsoleMessage(JavaScriptConsoleMessageLevel, const QString&, int,
                                  const QString&) override {}
    void javaScriptAlert(const QUrl&, const QString&) override {}
    bool javaScriptConfirm(const QUrl&, const QString&) override { return false; }
    bool javaScriptPrompt(const QUrl&, const QString&, const QString&, QString*) override {
        return false;
    }
    bool acceptNavigationRequest(const QUrl& url, NavigationType, bool isMainFrame) override {
        return isMainFrame && url.isLocalFile();
    }
    QWebEnginePage* createWindow(WebWindowType) override { return nullptr; }
};

} // namespace

// The native container of the video host. SDL moves a window it wraps back to where it was
// wrapped whenever it resizes it, so the host stays at (0,0) here and this container is what the
// layouts move, show and hide.
class CRearViewerDlg::VideoPanel : public QWidget {
public:
    explicit VideoPanel(QWidget* parent) : QWidget(parent), host(new VideoHost(this)) {
        setAttribute(Qt::WA_NativeWindow);
        host->setGeometry(0, 0, kWidth, kVideoHeight);
    }
    VideoHost* host;
};

CRearViewerDlg::CRearViewerDlg(QWidget* parent)
    : velk::PanelWidget(parent),
      m_pageFolder(QCoreApplication::applicationDirPath() + QStringLiteral("/html")),
      m_tick(monotonicTick) {
    setObjectName(QStringLiteral("map"));
    setFixedSize(kWidth, kHeight);
    setAttribute(Qt::WA_OpaquePaintEvent);

    m_videoPanel = new VideoPanel(this);
    m_videoPanel->setGeometry(0, kVideoTop, kWidth, kVideoHeight);
    m_topBar = new CGdipButton(this);
    m_topBar->setObjectName(QStringLiteral("topBar"));
    m_topBar->setGeometry(0, 0, kWidth, kBarHeight);
    m_mapBar = new CGdipButton(this);
    m_mapBar->setObjectName(QStringLiteral("mapBar"));
    m_mapBar->setGeometry(0, kBarHeight, kWidth, kBarHeight);
    connect(m_topBar, &QAbstractButton::clicked, this, [this] { selectViewer(); });
    connect(m_mapBar, &QAbstractButton::clicked, this, [this] { selectMap(); });
}

CRearViewerDlg::~CRearViewerDlg() {
    velk::AppGlobals& g = velk::Globals();
    if (g.rearVideoHost == velk::WindowHandle(m_videoPanel->host->internalWinId()) &&
        g.rearVideoHost != 0)
        g.rearVideoHost = 0;
    if (m_handle != 0 && g.mapPanel == m_handle) g.mapPanel = 0;
    // The view's window is not a child of the panel; its page goes before its profile.
    if (m_mapWindow) {
        delete m_webView;
        delete m_mapWindow;
    }
}

void CRearViewerDlg::setPageFolder(const QString& folder) { m_pageFolder = folder; }

void CRearViewerDlg::setTickSource(std::function<std::uint32_t()> tick) {
    m_tick = tick ? std::move(tick) : std::function<std::uint32_t()>(monotonicTick);
}

QWidget* CRearViewerDlg::videoHost() const { return m_videoPanel->host; }

QString CRearViewerDlg::PageFileName(std::uint16_t uiLanguage) {
    switch (uiLanguage) {
    case 1042:
        return QStringLiteral("googlemap_kr.html");
    case 1041:
        return QStringLiteral("openstreetmap.html");
    case 2052:
        return QStringLiteral("baidumap.html");
    default:
        return QStringLiteral("googlemap_en.html");
    }
}

bool CRearViewerDlg::NetworkConnected() {
    const QByteArray forced = qgetenv("VELK_NETWORK").trimmed().toLower();
    if (forced == "online") return true;
    if (forced == "offline") return false;
    if (!QNetworkInformation::instance() &&
        !QNetworkInformation::loadBackendByFeatures(QNetworkInformation::Feature::Reachability))
        return true;
    QNetworkInformation* info = QNetworkInformation::instance();
    if (!info) return true;
    // Only a machine that can reach nothing beyond itself counts as offline: on a local network
    // the tiles may come from a server there, and a backend that does not know says Unknown.
    switch (info->reachability()) {
    case QNetworkInformation::Reachability::Disconnected:
    case QNetworkInformation::Reachability::Local:
        return false;
    default:
        return true;
    }
}

void CRearViewerDlg::Initialise() {
    if (m_initialised) return;
    m_initialised = true;
    loadCaptions();

    velk::AppGlobals& g = velk::Globals();
    g.rearVideoHost = velk::WindowHandle(m_videoPanel->host->winId());
    m_handle = velk::QtMessagePoster::HandleOf(this);
    g.mapPanel = m_handle;

    writeEmulationValue();
    m_mapLoaded = NetworkConnected() ? 1 : 0;
    m_pageUrl = QUrl::fromLocalFile(QDir(m_pageFolder).filePath(PageFileName(g.uiLanguage)));
    const QByteArray tiles = qgetenv("VELK_MAP_TILES");
    if (!tiles.isEmpty()) {
        QUrlQuery query;
        query.addQueryItem(QStringLiteral("tiles"), QString::fromUtf8(tiles));
        m_pageUrl.setQuery(query);
    }

    // Map mode. The video host stays hidden here even without a page: shown, its native window
    // would lie over the map bar and the no-network picture.
    m_topBar->setGeometry(0, 0, kWidth, kBarHeight);
    m_mapBar->setGeometry(0, kBarHeight, kWidth, kBarHeight);
    m_videoPanel->hide();
    m_videoPanel->setEnabled(false);
    m_topBar->show();
    m_mapBar->show();
    m_viewerMode = 0;
    update();
    scheduleMapView();
}

void CRearViewerDlg::loadCaptions() {
    const bool korean = velk::Globals().uiLanguage == 1042;
    m_mapCaption = korean ? kMapCaptionKorean : kMapCaption;
    m_topCaption = korean ? kSecondCameraKorean : kSecondCamera;
    m_topCaptionSwitched = korean ? kFrontCameraKorean : kFrontCamera;
    m_topBar->LoadNormalImage(m_cameraSwitched ? m_topCaptionSwitched : m_topCaption,
                              velk::ResourceType::Bitmap);
    m_mapBar->LoadNormalImage(m_mapCaption, velk::ResourceType::Bitmap);
}

void CRearViewerDlg::writeEmulationValue() {
    // The store that the current user's "SOFTWARE/Microsoft/Internet Explorer" registry key
    // maps to: written at every start, read by nothing. A failure is ignored.
    QSettings store(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("Microsoft"),
                    QStringLiteral("Internet Explorer"));
    store.setValue(QStringLiteral("Main/FeatureControl/FEATURE_BROWSER_EMULATION/VELKViewer.exe"),
                   11000);
    store.sync();
}

void CRearViewerDlg::SelectViewerMode(bool hasRearPicture) {
    if (QThread::currentThread() != thread()) {
        // The read_thread must not wait for the user-interface thread, and only that thread
        // writes the mode and the widgets.
        QMetaObject::invokeMethod(
            this, [this, hasRearPicture] { SelectViewerMode(hasRearPicture); },
            Qt::QueuedConnection);
        return;
    }
    // A new playback: its route starts afresh, on the next script the page gets.
    m_routeResetPending = true;
    emit switchButtonEnabled(hasRearPicture);
    if (hasRearPicture)
        selectViewer();
    else
        selectMap();
    if (m_viewerMode == 0 && mapViewUsable()) {
        m_routeResetPending = false;
        RunPageScript(QString::fromLatin1(kResetScript));
    }
}

void CRearViewerDlg::selectViewer() {
    if (m_viewerMode == 1) return;
    m_viewerMode = 1;
    m_videoPanel->hide();
    m_mapBar->hide();
    if (m_mapHost) m_mapHost->hide();
    m_mapBar->setGeometry(0, kMapBarTopInViewerMode, kWidth, kBarHeight);
    m_videoPanel->setEnabled(true);
    m_videoPanel->show();
    m_mapBar->show();
    if (m_mapHost) m_mapHost->setEnabled(false);
    update();
    velk::LogEvent(QStringLiteral("mode viewer"));
}

void CRearViewerDlg::selectMap() {
    if (m_viewerMode == 0) return;
    m_viewerMode = 0;
    m_videoPanel->hide();
    m_mapBar->hide();
    m_mapBar->setGeometry(0, kBarHeight, kWidth, kBarHeight);
    m_mapBar->show();
    if (mapViewUsable()) {
        m_mapHost->setEnabled(true);
        m_mapHost->show();
    }
    m_videoPanel->setEnabled(false);
    update();
    velk::LogEvent(QStringLiteral("mode map"));
    scheduleMapView();
}

void CRearViewerDlg::ToggleCameraCaption() {
    m_cameraSwitched = !m_cameraSwitched;
    m_topBar->hide();
    m_topBar->LoadNormalImage(m_cameraSwitched ? m_topCaptionSwitched : m_topCaption,
                              velk::ResourceType::Bitmap);
    m_topBar->show();
}

void CRearViewerDlg::showEvent(QShowEvent* event) {
    velk::PanelWidget::showEvent(event);
    scheduleMapView();
}

void CRearViewerDlg::scheduleMapView() {
    // Deferred to the event loop, so that the window is on screen before the web engine starts
    // and a Viewer mode chosen in the meantime still saves it.
    if (!m_initialised || !m_mapLoaded || m_webView || m_mapViewScheduled) return;
    if (m_viewerMode != 0 || !isVisible()) return;
    m_mapViewScheduled = true;
    QTimer::singleShot(0, this, [this] {
        m_mapViewScheduled = false;
        if (!m_webView && m_viewerMode == 0 && isVisible()) createMapView();
    });
}

void CRearViewerDlg::createMapView() {
    // The web view draws through the scene graph, which makes every native window of the
    // top-level it lives in composite through OpenGL; the panels' own native windows (the video
    // hosts, their neighbours) are not OpenGL windows and would turn black. So the view lives in
    // a window of its own, set into a native host here the way the engine's pictures are.
    m_mapHost = new QWidget(this);
    m_mapHost->setObjectName(QStringLiteral("mapHost"));
    m_mapHost->setAttribute(Qt::WA_NativeWindow);
    m_mapHost->setGeometry(0, kMapTop, kWidth, kMapHeight);
    // The window never takes the keyboard: the viewer's keys stay with the main window, and a
    // click on the map gives the panel the focus as a click anywhere on it does. It is no
    // primary window either: the viewer quits when its main window closes.
    m_mapWindow =
        new QWidget(nullptr, Qt::Window | Qt::FramelessWindowHint | Qt::WindowDoesNotAcceptFocus);
    m_mapWindow->setObjectName(QStringLiteral("mapWindow"));
    m_mapWindow->setAttribute(Qt::WA_QuitOnClose, false);
    m_mapWindow->setAttribute(Qt::WA_ShowWithoutActivating);
    m_mapWindow->setGeometry(0, 0, kWidth, kMapHeight);

    // An off-the-record profile: the map writes no cache, cookies or storage into the home.
    m_profile = new QWebEngineProfile(m_mapWindow);
    m_webView = new QWebEngineView(m_mapWindow);
    m_webView->setObjectName(QStringLiteral("mapView"));
    auto* page = new MapPage(m_profile, m_webView);
    QWebEngineSettings* settings = page->settings();
    settings->setAttribute(QWebEngineSettings::LocalContentCanAccessRemoteUrls, true);
    settings->setAttribute(QWebEngineSettings::JavascriptCanOpenWindows, false);
    settings->setAttribute(QWebEngineSettings::ErrorPageEnabled, false);
    settings->setAttribute(QWebEngineSettings::ShowScrollBars, false);
    settings->setAttribute(QWebEngineSettings::PluginsEnabled, false);
    // Loading the page must not take the keyboard from the main window.
    settings->setAttribute(QWebEngineSettings::FocusOnNavigationEnabled, false);
    page->setBackgroundColor(kPanelGround);
    m_webView->setPage(page);
    m_webView->setContextMenuPolicy(Qt::NoContextMenu);
    m_webView->setGeometry(0, 0, kWidth, kMapHeight);
    connect(page, &QWebEnginePage::renderProcessTerminated, this,
            [this] { onRenderProcessEnded(); });
    connect(page, &QWebEnginePage::loadFinished, this, [this](bool ok) { emit mapPageLoaded(ok); });
    m_routeResetPending = false;
    page->setUrl(m_pageUrl);

    m_mapWindow->winId();
    m_mapWindow->windowHandle()->installEventFilter(this);
    m_mapWindow->windowHandle()->setParent(m_mapHost->windowHandle());
    m_mapWindow->move(0, 0);
    m_mapWindow->show();
    m_mapHost->setEnabled(true);
    m_mapHost->show();
    emit mapViewCreated();
}

void CRearViewerDlg::onRenderProcessEnded() {
    // The page is gone; the panel shows the no-network picture in its place and everything else
    // goes on.
    m_mapFailed = true;
    if (m_mapHost) {
        m_mapHost->hide();
        m_mapHost->setEnabled(false);
    }
    update();
}

bool CRearViewerDlg::mapViewUsable() const { return m_webView && !m_mapFailed; }

bool CRearViewerDlg::RunPageScript(const QString& script) {
    if (script.isEmpty() || !mapViewUsable()) return false;
    m_webView->page()->runJavaScript(script);
    return true;
}

void CRearViewerDlg::OnTelemetryMessage(const std::string& text) {
    if (m_viewerMode == 1) return;
    const std::uint32_t tick = m_tick();
    if (std::uint32_t(tick - velk::Globals().lastMapMoveTick) < kMapMoveIntervalMs) return;
    const velk::TelemetryRecord record = velk::scanMapLine(text).record;
    if (!velk::mapUsesPosition(record)) return;
    // A position off the globe (NaN, infinite, a latitude of 91) is as unusable as a missing
    // fix: no script, and the interval does not restart.
    if (!positionInRange(record.latitude, record.longitude)) return;

    // The C locale's six decimals whatever the process locale: a decimal comma would split
    // each number in two.
    const QString latitude = QString::number(record.latitude, 'f', 6);
    const QString longitude = QString::number(record.longitude, 'f', 6);
    if (m_routeResetPending && mapViewUsable()) {
        m_routeResetPending = false;
        RunPageScript(QString::fromLatin1(kResetScript));
    }
    if (RunPageScript(QStringLiteral("MapMove(%1,%2)").arg(latitude, longitude)))
        velk::LogEvent(QStringLiteral("mapmove %1 %2").arg(latitude, longitude));
    velk::Globals().lastMapMoveTick = tick;
}

bool CRearViewerDlg::event(QEvent* event) {
    if (event->type() != velk::PostedMessageEvent::eventType())
        return velk::PanelWidget::event(event);
    const velk::WindowMessage& message = static_cast<velk::PostedMessageEvent*>(event)->message;
    if (message.id == velk::MsgMapTelemetry && message.text) OnTelemetryMessage(*message.text);
    return true;
}

bool CRearViewerDlg::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::MouseButtonPress && m_mapWindow &&
        watched == m_mapWindow->windowHandle() &&
        static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton)
        setFocus(Qt::MouseFocusReason);
    return velk::PanelWidget::eventFilter(watched, event);
}

void CRearViewerDlg::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), kPanelGround);
    if (m_viewerMode == 1 || (m_mapLoaded == 1 && !m_mapFailed))
        velk::drawResource(painter, kRearCameraGround, 0, kVideoTop);
    else
        velk::drawResource(painter, kNoNetworkGround, 0, kMapTop);
}
