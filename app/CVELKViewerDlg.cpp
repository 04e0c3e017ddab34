#include "CVELKViewerDlg.h"

#include "AppGlobals.h"
#include "BackupController.h"
#include "CFileList.h"
#include "CFrontViewerDlg.h"
#include "CGdipButton.h"
#include "CRearViewerDlg.h"
#include "CVehicleInfoDlg.h"
#include "CViewerCtlDlg.h"
#include "CardTracker.h"
#include "Engine.h"
#include "EventLog.h"
#include "MountWatcher.h"
#include "PanelWidget.h"
#include "QtMessagePoster.h"
#include "Resources.h"
#include "Strings.h"
#include "TabButton.h"

#include <QApplication>
#include <QCloseEvent>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLabel>
#include <QLocale>
#include <QMessageBox>
#include <QPainter>
#include <QScreen>
#include <QThread>
#include <QTimer>
#include <QWindow>

#include <ctime>

namespace velk {

namespace {

constexpr int kStopPollMilliseconds = 100;
// A player thread that has not ended this long after the quit is left behind at close: the
// program ends anyway, without destroying what it may still draw into.
constexpr int kQuitLimitMilliseconds = 5000;

const QRect kTitleBar(0, 0, 1080, 42);
const QRect kFrontArea(0, 42, 720, 405);
const QRect kControlArea(0, 447, 720, 75);
const QRect kVehicleArea(0, 522, 720, 123);
const QRect kSideArea(720, 42, 360, 288);
const QRect kListArea(720, 364, 360, 281);
const QRect kTabStrip(720, 330, 360, 34);

struct TabImages {
    int unselectedKorean, unselectedOther, selectedKorean, selectedOther;
};
const TabImages kTabImages[] = {{210, 230, 211, 228}, {213, 235, 212, 232}, {215, 243, 214, 239}};
const char* const kCategoryWords[] = {"normal", "event", "manual"};

} // namespace

// The two operations the read_thread calls. They never wait: each hands its value to the
// user-interface thread as a queued call, which also keeps it in order with the posted messages.
class CVELKViewerDlg::QueuedPanelCalls : public PanelCalls {
public:
    explicit QueuedPanelCalls(CVELKViewerDlg* main) : m_main(main) {}
    void ShowTotalTime(std::int64_t duration) override {
        QMetaObject::invokeMethod(
            m_main,
            [main = m_main, duration] {
                LogEvent(QStringLiteral("call ShowTotalTime %1").arg(duration));
                if (main->controlPanel()) main->controlPanel()->ShowTotalTime(duration);
            },
            Qt::QueuedConnection);
    }
    void SelectViewerMode(bool hasRear) override {
        QMetaObject::invokeMethod(
            m_main,
            [main = m_main, hasRear] {
                LogEvent(QStringLiteral("call SelectViewerMode %1").arg(hasRear ? 1 : 0));
                if (main->sidePanel()) main->sidePanel()->SelectViewerMode(hasRear);
            },
            Qt::QueuedConnection);
    }

private:
    CVELKViewerDlg* m_main;
};

CVELKViewerDlg::CVELKViewerDlg(ViewerOptions options) : m_options(std::move(options)) {
    setObjectName(QStringLiteral("main"));
    setWindowFlags(Qt::Window | Qt::FramelessWindowHint);
    m_appTitle = QString::asprintf("VELK Viewer v%s", "5.1.00");
    // The task bar shows this; a running copy is looked for under another title ("VELKViewer"),
    // so a second start is told that one runs.
    setWindowTitle(m_appTitle);
    setWindowIcon(QIcon(QPixmap::fromImage(resourceImage(128, ResourceType::Icon))));
    setFixedSize(1080, 645);
    QPalette grey = palette();
    grey.setColor(QPalette::Window, QColor(100, 100, 100));
    setPalette(grey);
    setAutoFillBackground(false);
    setFocusPolicy(Qt::StrongFocus);
}

CVELKViewerDlg::~CVELKViewerDlg() { Teardown(); }

bool CVELKViewerDlg::Initialise() {
    AppGlobals& g = Globals();
    g.mainWindow = QtMessagePoster::HandleOf(this);
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        g.screenWidth = screen->geometry().width();
        g.screenHeight = screen->geometry().height();
    }
    // The default locale is the system's unless a test sets another.
    g.uiLanguage = uiLanguageFor(QLocale());

    m_front = new CFrontViewerDlg(this);
    m_front->setGeometry(kFrontArea);
    m_front->Initialise();
    m_side = new CRearViewerDlg(this);
    m_side->setGeometry(kSideArea);
    m_control = new CViewerCtlDlg(*this, this);
    m_control->setGeometry(kControlArea);
    m_control->Initialise();
    m_vehicle = new CVehicleInfoDlg(this);
    m_vehicle->setGeometry(kVehicleArea);
    m_vehicle->Initialise();
    g.vehicleInfoPanel = QtMessagePoster::HandleOf(m_vehicle);
    m_backup = std::make_unique<BackupController>(this);

    connect(m_vehicle, &CVehicleInfoDlg::deviceLabelReported, this,
            [this](const QString& version, int code) { SetDeviceLabel(version, code); });
    connect(m_vehicle, &CVehicleInfoDlg::fullScreenToggleRequested, this,
            [this] { ToggleFullScreen(); });
    connect(m_vehicle, &CVehicleInfoDlg::playPauseRequested, this,
            [this] { m_control->TogglePlayPause(); });
    connect(m_vehicle, &CVehicleInfoDlg::seekByRequested, this,
            [](int seconds) { RequestSeekBy(seconds); });
    connect(m_side, &CRearViewerDlg::switchButtonEnabled, this,
            [this](bool on) { EnableSwitchButton(on); });

    createTabs();
    for (int c = 0; c < kRecordingCategoryCount; ++c) {
        CFileList* list = nullptr;
        switch (RecordingCategory(c)) {
        case RecordingCategory::Normal:
            list = new CFileListNomal(*this, this);
            break;
        case RecordingCategory::Event:
            list = new CFileListEvent(*this, this);
            break;
        case RecordingCategory::Manual:
            list = new CFileListManual(*this, this);
            break;
        }
        list->setGeometry(kListArea);
        list->Initialise();
        list->setVisible(c == 0);
        m_lists[size_t(c)] = list;
    }
    createTitleBar();

    // Centred in the available area of the primary screen.
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        move(area.center() - rect().center());
    }

    if (StartMediaLayer() < 0) {
        LogEvent(QStringLiteral("message SDL Init error"));
        QMessageBox::warning(nullptr, QApplication::applicationName(),
                             QStringLiteral("SDL Init error"));
        return false;
    }
    // No render driver is called "direct3d" here: -1 lets the media layer choose.
    g.renderDriverIndex = FindRenderDriver("direct3d");
    m_panelCalls = std::make_unique<QueuedPanelCalls>(this);
    g.panelCalls = m_panelCalls.get();

    m_side->Initialise();
    g.mapPanel = QtMessagePoster::HandleOf(m_side);

    m_card = std::make_unique<CardTracker>();
    // Watching first: a card mounted during the scan is posted rather than missed.
    m_mountWatcher = new MountWatcher(QtMessagePoster::HandleOf(this), this);
    m_mountWatcher->start();
    if (!m_options.path.isEmpty()) {
        OpenPath(m_options.path);
    } else if (m_card->ScanDrives()) {
        ScanCatalogue();
    }
    qApp->installEventFilter(this);
    return true;
}

bool CVELKViewerDlg::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == PostedMessageEvent::eventType()) {
        if (EventLogEnabled())
            LogEvent(MessageLine(watched->objectName(),
                                 static_cast<PostedMessageEvent*>(event)->message));
        return false;
    }
    if (event->type() != QEvent::KeyPress || m_tornDown || m_closing) return false;
    auto* widget = qobject_cast<QWidget*>(watched);
    if (!widget || widget->window() != this) return false;
    const auto& key = static_cast<const QKeyEvent&>(*event);
    // From the widget with the focus up to this window: the first panel that takes the key
    // consumes it, then this window's own keys.
    for (QWidget* w = widget; w && w != this; w = w->parentWidget()) {
        if (auto* panel = dynamic_cast<PanelWidget*>(w); panel && panel->PreTranslateKey(key))
            return true;
    }
    return PreTranslateKey(key);
}

void CVELKViewerDlg::createTitleBar() {
    const quint16 language = Globals().uiLanguage;
    m_fileLabel = new QLabel(this);
    m_fileLabel->setGeometry(120, 11, 585, 20);
    QFont font(QStringLiteral("굴림"));
    font.setPixelSize(17);
    font.setWeight(QFont::Light);
    m_fileLabel->setFont(font);
    m_fileLabel->setAlignment(Qt::AlignCenter);
    m_fileLabel->setStyleSheet(QStringLiteral("color: rgb(184,184,184); background: transparent;"));

    struct TitleButton {
        QWidget** slot;
        int id;
        QRect rect;
        int picture;
        int tooltip;
        bool enabled;
    };
    const TitleButton buttons[] = {
        {&m_zoomButton, 1002, {759, 0, 47, 42}, 265, IdsZoomIn, false},
        {&m_mirrorButton, 1023, {806, 0, 47, 42}, 255, IdsFlipHorizontal, false},
        {&m_switchButton, 1019, {853, 0, 47, 42}, 148, IdsViewerSwitch, false},
        {&m_versionButton, 1021, {900, 0, 47, 42}, 149, IdsVersion, true},
        {&m_minimizeButton, 1016, {952, 0, 38, 42}, 151, IdsMinimize, true},
        {&m_fullScreenButton, 1017, {990, 0, 38, 42}, 153, IdsFullscreen, false},
        {&m_closeButton, 1015, {1028, 0, 38, 42}, 155, IdsClose, true},
    };
    for (const TitleButton& button : buttons) {
        CGdipButton* b = CGdipButton::Create(this, button.id, button.rect, button.picture,
                                             loadString(button.tooltip, language));
        b->setEnabled(button.enabled);
        *button.slot = b;
    }
    const auto clicked = [this](QWidget* w, auto slot) {
        connect(static_cast<QAbstractButton*>(w), &QAbstractButton::clicked, this, slot);
    };
    clicked(m_closeButton, [this] { close(); });
    clicked(m_minimizeButton, [this] { showMinimized(); });
    clicked(m_fullScreenButton, [this] { ToggleFullScreen(); });
    clicked(m_switchButton, [this] { onSwitchCamera(); });
    clicked(m_versionButton, [this] { onVersion(); });
    clicked(m_mirrorButton, [] {
        ToggleMirror();
        LogEvent(QStringLiteral("mirror %1").arg(mirrorView.load()));
    });
    clicked(m_zoomButton, [this] { onZoom(); });
}

void CVELKViewerDlg::createTabs() {
    const bool korean = usesKoreanSet(Globals().uiLanguage);
    for (int c = 0; c < kRecordingCategoryCount; ++c) {
        const TabImages& images = kTabImages[c];
        auto* tab = new TabButton(this);
        tab->setObjectName(QStringLiteral("tab-") + QLatin1String(kCategoryWords[c]));
        tab->SetImages(korean ? images.unselectedKorean : images.unselectedOther,
                       korean ? images.selectedKorean : images.selectedOther);
        tab->SetSelected(c == 0);
        tab->setGeometry(720 + 120 * c, 330, 120, 34);
        connect(tab, &QAbstractButton::clicked, this,
                [this, c] { ShowCategory(RecordingCategory(c)); });
        m_tabs[size_t(c)] = tab;
    }
}

CFileList* CVELKViewerDlg::list(RecordingCategory category) const {
    return m_lists[size_t(category)];
}

RecordingCategory CVELKViewerDlg::shownCategory() const {
    for (int c = 0; c < kRecordingCategoryCount; ++c)
        if (m_listShown[size_t(c)]) return RecordingCategory(c);
    return RecordingCategory::Normal;
}

void CVELKViewerDlg::ShowCategory(RecordingCategory category) {
    const auto shown = size_t(category);
    if (m_listShown[shown]) return;
    for (size_t c = 0; c < m_lists.size(); ++c) {
        m_listShown[c] = c == shown;
        m_tabs[c]->SetSelected(c == shown);
        if (!m_fullScreen) m_lists[c]->setVisible(c == shown);
    }
    update(kTabStrip);
    LogEvent(QStringLiteral("tab ") + QLatin1String(kCategoryWords[shown]));
}

void CVELKViewerDlg::SetFileLabel(const QString& text) { m_fileLabel->setText(text); }

QString CVELKViewerDlg::fileLabelText() const { return m_fileLabel->text(); }

void CVELKViewerDlg::EnableRecordingButtons(bool withSwitch) {
    m_fullScreenButton->setEnabled(true);
    m_mirrorButton->setEnabled(true);
    m_zoomButton->setEnabled(true);
    if (withSwitch) m_switchButton->setEnabled(true);
}

void CVELKViewerDlg::EnableSwitchButton(bool on) { m_switchButton->setEnabled(on); }

void CVELKViewerDlg::ResetGraph() { m_vehicle->ResetGraph(); }

void CVELKViewerDlg::FillListPanels() {
    for (size_t c = 0; c < m_lists.size(); ++c)
        m_lists[c]->FillFromCatalogue(m_catalogue[c]);
}

void CVELKViewerDlg::ClearCatalogue() {
    for (auto& list : m_catalogue)
        list.clear();
}

QString CVELKViewerDlg::cardRoot() const {
    if (!m_folderCard.isEmpty()) return m_folderCard;
    return m_card ? m_card->cardRoot() : QString();
}

void CVELKViewerDlg::ScanCatalogue() {
    // A card without recordings changes nothing: the panels go on showing what they show.
    if (velk::ScanCatalogue(cardRoot(), m_catalogue)) FillListPanels();
}

void CVELKViewerDlg::OpenPath(const QString& path) {
    const QFileInfo info(path);
    if (info.isDir()) {
        // A folder given by hand is taken as a found card: a mounted card that arrives later is
        // not followed while it is shown.
        m_folderCard = info.absoluteFilePath();
        if (!m_folderCard.endsWith(QLatin1Char('/'))) m_folderCard += QLatin1Char('/');
        LogEvent(QStringLiteral("card ") + m_folderCard);
        ClearCatalogue();
        ScanCatalogue();
        return;
    }
    if (info.isFile()) {
        m_control->OpenRecording(info.absoluteFilePath());
        return;
    }
    showWarning(QStringLiteral("%1 is neither a folder nor a file.").arg(path));
}

void CVELKViewerDlg::StartBackup(const QStringList& names, const QString& target) {
    m_backup->StartBackup(names, QString::fromStdString(Globals().baseFolder), target);
}

bool CVELKViewerDlg::StopPlaybackForSwitch() {
    AppGlobals& g = Globals();
    if (m_switching > 0 || m_tornDown || m_closing) return false;
    if (!g.playing) return true;
    ++m_switching;
    m_switchCancelled = false;
    RequestStop();
    g.playing = false;
    QElapsedTimer waited;
    waited.start();
    while (engineRunning.load() != 0 && !m_switchCancelled) {
        QEventLoop loop;
        QTimer::singleShot(kStopPollMilliseconds, &loop, &QEventLoop::quit);
        loop.exec();
    }
    // The stopped playback posted everything before it ended: deliver it while the switch still
    // holds back the reactions to it (a late end of recording must not move the list on).
    QCoreApplication::sendPostedEvents();
    --m_switching;
    return !m_switchCancelled && !m_closing && engineRunning.load() == 0;
}

void CVELKViewerDlg::ToggleFullScreen() {
    const auto now = static_cast<std::int32_t>(std::time(nullptr));
    std::int32_t& last = Globals().lastActionTime;
    if (last + 2 >= now) return;
    last = now;

    const QList<QWidget*> chrome = {m_fileLabel,        m_zoomButton,    m_mirrorButton,
                                    m_switchButton,     m_versionButton, m_minimizeButton,
                                    m_fullScreenButton, m_closeButton,   m_tabs[0],
                                    m_tabs[1],          m_tabs[2],       m_side,
                                    m_control,          m_vehicle};
    CFileList* shownList = m_lists[size_t(shownCategory())];
    if (!m_fullScreen) {
        for (QWidget* w : chrome)
            w->hide();
        shownList->hide();
        const QRect screen(0, 0, Globals().screenWidth, Globals().screenHeight);
        setMinimumSize(0, 0);
        setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
        // Covers the task bar too; without a window manager the geometry does it.
        showFullScreen();
        setGeometry(screen);
        m_front->PlaceAt(screen);
    } else {
        showNormal();
        setFixedSize(1080, 645);
        if (QScreen* screen = QGuiApplication::primaryScreen())
            move(screen->availableGeometry().center() - rect().center());
        m_front->PlaceAt(kFrontArea);
        for (QWidget* w : chrome)
            w->show();
        shownList->show();
    }
    m_fullScreen = !m_fullScreen;
    m_vehicle->SetFullScreenShown(m_fullScreen);
    update();
    velk::ToggleFullScreenLayout();
    LogEvent(QStringLiteral("fullscreen %1").arg(m_fullScreen ? 1 : 0));
}

void CVELKViewerDlg::SetDeviceLabel(const QString& versionText, int deviceCode) {
    m_deviceLabel = DeviceLabelText(versionText, deviceCode);
}

void CVELKViewerDlg::onVersion() {
    QString text = m_appTitle;
    if (!m_deviceLabel.isEmpty()) text += QLatin1Char('\n') + m_deviceLabel;
    LogEvent(QStringLiteral("version ") +
             QString(text).replace(QLatin1Char('\n'), QLatin1Char(' ')));
    auto* box = new QMessageBox(QMessageBox::Information, QApplication::applicationName(), text,
                                QMessageBox::Ok, this);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
}

void CVELKViewerDlg::onZoom() {
    ToggleZoom();
    LogEvent(QStringLiteral("zoom %1").arg(m_zoomed ? 0 : 1));
    m_zoomButton->setToolTip(loadString(m_zoomed ? IdsZoomIn : IdsZoomOut, Globals().uiLanguage));
    m_zoomed = !m_zoomed;
}

void CVELKViewerDlg::onSwitchCamera() {
    RequestSwapViews();
    LogEvent(QStringLiteral("swap"));
    m_side->ToggleCameraCaption();
}

void CVELKViewerDlg::showWarning(const QString& text) {
    LogEvent(QStringLiteral("message ") + text);
    // Not modal over the event loop: the engine's messages keep being handled while it is up.
    auto* box = new QMessageBox(QMessageBox::Warning, QApplication::applicationName(), text,
                                QMessageBox::Ok, this);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
}

bool CVELKViewerDlg::event(QEvent* event) {
    if (event->type() != PostedMessageEvent::eventType()) return QWidget::event(event);
    const WindowMessage& m = static_cast<PostedMessageEvent*>(event)->message;
    if (m.id == MsgOpenFailed && m.wParam == 1) {
        showWarning(QStringLiteral("The file is corrupted and connot be opened."));
    } else if (m.id == MsgDriveChange && m.text) {
        onDeviceChange(m.wParam, QString::fromStdString(*m.text));
    }
    return true;
}

void CVELKViewerDlg::onDeviceChange(std::uintptr_t eventCode, const QString& root) {
    if (!m_folderCard.isEmpty()) return;
    switch (m_card->OnDeviceChange(eventCode, root)) {
    case CardChange::Arrived:
        ClearCatalogue();
        ScanCatalogue();
        break;
    case CardChange::Removed:
        onCardRemoved();
        break;
    case CardChange::None:
        break;
    }
}

void CVELKViewerDlg::onCardRemoved() {
    AppGlobals& g = Globals();
    ClearCatalogue();
    FillListPanels();
    // A switch waiting for the engine would start a recording of the card that is gone.
    if (m_switching) m_switchCancelled = true;
    if (g.playing) {
        RequestStop();
        g.playing = false;
        m_front->SetVideoShown(false); // the placeholder again: nothing of the card is left
        m_control->EnableTransport(true);
        EnableRecordingButtons(true);
    }
}

void CVELKViewerDlg::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), QColor(100, 100, 100));
    if (m_fullScreen) return;
    drawResource(painter, 147, kTitleBar);
    drawResource(painter, 207, kListArea);
}

bool CVELKViewerDlg::PreTranslateKey(const QKeyEvent& event) {
    const AppGlobals& g = Globals();
    switch (event.key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Escape:
        if (g.playing) ToggleFullScreen();
        return true;
    case Qt::Key_Space:
        if (g.playing) m_control->TogglePlayPause();
        return true;
    case Qt::Key_Left:
        if (g.playing) RequestSeekBy(-5);
        return true;
    case Qt::Key_Right:
        if (g.playing) RequestSeekBy(5);
        return true;
    default:
        return false;
    }
}

void CVELKViewerDlg::mousePressEvent(QMouseEvent* event) {
    setFocus(Qt::MouseFocusReason);
    if (event->button() != Qt::LeftButton || m_fullScreen) return;
    // A window manager moves the window itself; without one the window follows the mouse.
    if (windowHandle() && windowHandle()->startSystemMove()) return;
    m_dragging = true;
    m_dragOffset = event->globalPosition().toPoint() - frameGeometry().topLeft();
}

void CVELKViewerDlg::mouseMoveEvent(QMouseEvent* event) {
    if (m_dragging) move(event->globalPosition().toPoint() - m_dragOffset);
}

void CVELKViewerDlg::mouseReleaseEvent(QMouseEvent*) { m_dragging = false; }

void CVELKViewerDlg::closeEvent(QCloseEvent* event) {
    // The panels are torn down once the event loop has returned (the destructor), not here: a
    // close can arrive inside a wait of a panel's own (a playback switch, previous/next), and
    // that panel must still exist when its wait returns. The waits end now.
    m_closing = true;
    m_switchCancelled = true;
    event->accept();
    QCoreApplication::quit();
}

void CVELKViewerDlg::Teardown() {
    if (m_tornDown) return;
    m_tornDown = true;
    m_switchCancelled = true;
    qApp->removeEventFilter(this);
    AppGlobals& g = Globals();
    g.playing = false;
    const bool started = m_control && m_control->everStarted();
    if (started) RequestQuit();
    // The player thread draws into the front and side panels and posts to the others: they go
    // only once it has ended.
    QElapsedTimer waited;
    waited.start();
    while (started && engineRunning.load() != 0 && waited.elapsed() < kQuitLimitMilliseconds)
        QThread::msleep(10);
    if (started && engineRunning.load() != 0) {
        LogEvent(QStringLiteral("error the engine did not stop within 5 s of the quit"));
        return; // leave the panels alive: the process is ending
    }
    g.panelCalls = nullptr;
    g.frontVideoHost = g.rearVideoHost = 0;
    g.mainWindow = g.vehicleInfoPanel = g.mapPanel = 0;
    delete m_mountWatcher;
    m_mountWatcher = nullptr;
    m_backup.reset();
    delete m_front;
    m_front = nullptr;
    delete m_side;
    m_side = nullptr;
    delete m_control;
    m_control = nullptr;
    delete m_vehicle;
    m_vehicle = nullptr;
}

} // namespace velk
