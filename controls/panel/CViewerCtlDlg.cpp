#include "CViewerCtlDlg.h"

#include "CFileList.h"
#include "CFrontViewerDlg.h"
#include "CGdipButton.h"
#include "CMySliderControl.h"
#include "CVELKViewerDlg.h"
#include "Catalogue.h"
#include "Engine.h"
#include "EventLog.h"
#include "QtMessagePoster.h"
#include "Resources.h"
#include "Strings.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QPainter>
#include <QStyleHints>
#include <QThread>

namespace velk {

namespace {

enum ControlId {
    IdOpen = 1004,
    IdPrevious = 1005,
    IdRewind = 1006,
    IdPlay = 1007,
    IdForward = 1008,
    IdNext = 1009,
};

struct TransportButton {
    int id;
    QRect rect;
    int picture;
    int tooltip;
};
const TransportButton kButtons[] = {
    {IdOpen, {17, 27, 38, 38}, 159, IdsFileOpen},
    {IdPrevious, {101, 27, 38, 38}, 160, IdsPrevFile},
    {IdRewind, {171, 27, 38, 38}, 161, IdsRewind},
    {IdPlay, {239, 27, 38, 38}, 163, IdsPause},
    {IdForward, {309, 27, 38, 38}, 164, IdsFastForward},
    {IdNext, {377, 27, 38, 38}, 165, IdsNextFile},
};
constexpr int kPlayAlternatePicture = 162;
constexpr int kSpeedMax = 350;
constexpr int kSpeedMaxFullHd = 250;
constexpr int kVolumeMax = 128;
constexpr int kVolumeStart = 63;

using ClockTime = std::array<int, 3>; // hours, minutes, seconds

ClockTime clockOf(std::int64_t seconds) {
    return {int(seconds / 3600), int(seconds % 3600 / 60), int(seconds % 60)};
}

QString clockText(const ClockTime& t) {
    return QString::asprintf("%02d:%02d:%02d", t[0], t[1], t[2]);
}

int speedForPosition(int position) { return position / 100 + 1; }

QString speedTip(int factor) { return QString::asprintf("Speed %dx", factor); }

QString volumeTip(int level) { return QString::asprintf("Volume: %d%%", int(level * 100 / 128.0)); }

} // namespace

CViewerCtlDlg::CViewerCtlDlg(CVELKViewerDlg& main, QWidget* parent)
    : PanelWidget(parent), m_main(main) {
    setObjectName(QStringLiteral("control"));
    resize(720, 75);
    // Clicks on the panel must not take the focus from the list: the keys keep acting there.
    setFocusPolicy(Qt::NoFocus);
}

CGdipButton* CViewerCtlDlg::button(int id) const {
    const int index = id - IdOpen;
    return index >= 0 && index < int(m_buttons.size()) ? m_buttons[size_t(index)] : nullptr;
}

QString CViewerCtlDlg::elapsedText() const { return m_elapsed->text(); }
QString CViewerCtlDlg::totalText() const { return m_total->text(); }

void CViewerCtlDlg::Initialise() {
    const quint16 language = Globals().uiLanguage;
    QFont small = font();
    small.setPixelSize(10);
    const auto makeLabel = [&](const QRect& rect) {
        auto* label = new QLabel(clockText({0, 0, 0}), this);
        label->setGeometry(rect);
        label->setFont(small);
        label->setAlignment(Qt::AlignCenter);
        label->setStyleSheet(QStringLiteral("color: rgb(184,184,184); background: transparent;"));
        return label;
    };
    m_elapsed = makeLabel({5, 2, 45, 15});
    m_total = makeLabel({670, 2, 45, 15});

    for (const TransportButton& button : kButtons) {
        m_buttons[size_t(button.id - IdOpen)] = CGdipButton::Create(
            this, button.id, button.rect, button.picture, loadString(button.tooltip, language));
    }
    CGdipButton* play = button(IdPlay);
    play->LoadAlternateImage(kPlayAlternatePicture);
    play->EnableToggle(true);
    play->setToolTip(loadString(m_panelPaused ? IdsPlay : IdsPause, language));

    connect(button(IdOpen), &QAbstractButton::clicked, this, [this] { OpenRecordingFile(); });
    connect(button(IdPrevious), &QAbstractButton::clicked, this,
            [this] { PlayPreviousRecording(); });
    connect(button(IdNext), &QAbstractButton::clicked, this, [this] { PlayNextRecording(); });
    connect(button(IdRewind), &QAbstractButton::clicked, this, [] { RequestSeekBy(-5); });
    connect(button(IdForward), &QAbstractButton::clicked, this, [] { RequestSeekBy(5); });
    connect(play, &QAbstractButton::clicked, this, [this] {
        m_fromPlayButton = true;
        TogglePlayPause();
        m_fromPlayButton = false;
    });

    const auto makeSlider = [&](const QRect& rect, int max, int position) {
        auto* s = new CMySliderControl(Qt::Horizontal, this);
        s->setGeometry(rect);
        s->setRange(0, max);
        s->setValue(position);
        s->setFocusPolicy(Qt::NoFocus);
        return s;
    };
    m_seek = makeSlider({50, 0, 620, 20}, 1000, 0);
    m_seek->setObjectName(QStringLiteral("seek"));
    m_speed = makeSlider({507, 38, 90, 20}, kSpeedMax, 0);
    m_speed->setObjectName(QStringLiteral("speed"));
    m_speed->setToolTip(QStringLiteral("Speed 1x"));
    m_volume = makeSlider({621, 38, 99, 20}, kVolumeMax, kVolumeStart);
    m_volume->setObjectName(QStringLiteral("volume"));
    m_volume->setToolTip(QStringLiteral("Volume: 50%"));

    // Dragging acts as the thumb moves; a plain click acts at the clicked point, as one expects
    // of a seek bar and of the two small sliders.
    connect(m_seek, &QSlider::sliderMoved, this, [this](int p) { onSeekTrack(p); });
    connect(m_seek, &CMySliderControl::clicked, this, [this](int p) { onSeekTrack(p); });
    connect(m_speed, &QSlider::sliderMoved, this, [this](int p) { onSpeedTrack(p); });
    connect(m_speed, &CMySliderControl::clicked, this, [this](int p) { onSpeedTrack(p); });
    connect(m_volume, &QSlider::sliderMoved, this, [this](int p) { onVolumeTrack(p); });
    connect(m_volume, &CMySliderControl::clicked, this, [this](int p) { onVolumeTrack(p); });

    EnableTransport(false);
}

void CViewerCtlDlg::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), QColor(100, 100, 100));
    drawResource(painter, 158, QRect(0, 0, 720, 75));
    drawResource(painter, 226, QRect(597, 37, 27, 23));
    drawResource(painter, 224, QRect(454, 37, 56, 23));
}

void CViewerCtlDlg::EnableTransport(bool enable) {
    m_seek->setEnabled(enable);
    for (int id : {IdPlay, IdNext, IdForward, IdPrevious, IdRewind})
        button(id)->setEnabled(enable);
}

void CViewerCtlDlg::TogglePlayPause() {
    RequestTogglePause();
    button(IdPlay)->setToolTip(
        loadString(m_panelPaused ? IdsPause : IdsPlay, Globals().uiLanguage));
    // A click flips the button's picture by itself; the keys and other panels flip it here.
    if (!m_fromPlayButton) button(IdPlay)->FlipToggle();
    m_panelPaused = !m_panelPaused;
    LogEvent(QStringLiteral("pause %1").arg(m_panelPaused ? 1 : 0));
}

void CViewerCtlDlg::onSeekTrack(int position) {
    if (!m_seek->isEnabled()) return;
    RequestSeekToFraction(position);
}

void CViewerCtlDlg::onSpeedTrack(int position) {
    const int factor = speedForPosition(position);
    SetSpeedFactor(factor);
    m_speed->setToolTip(speedTip(factor));
    LogEvent(QStringLiteral("speed %1").arg(factor));
}

void CViewerCtlDlg::onVolumeTrack(int position) {
    RequestVolume(position);
    m_volume->setToolTip(volumeTip(position));
    LogEvent(QStringLiteral("volume %1").arg(position));
}

void CViewerCtlDlg::SetSpeedRange(int max) {
    const int position = std::min(m_speed->value(), max);
    m_speed->setRange(0, max);
    m_speed->setValue(position);
    const int factor = speedForPosition(position);
    SetSpeedFactor(factor);
    m_speed->setToolTip(speedTip(factor));
}

// The time labels are transparent over the panel's picture: each new text repaints the label's
// rectangle whole, which is why the elapsed one is rewritten only when the shown time changes.
void CViewerCtlDlg::ShowElapsedTime(std::int64_t seconds) {
    if (seconds < 0) {
        m_elapsed->setText(clockText({0, 0, 0}));
        return;
    }
    const ClockTime shown = clockOf(seconds);
    if (shown[0] >= 720) return;
    if (shown == m_shownTime) return;
    m_shownTime = shown;
    m_elapsed->setText(clockText(shown));
}

void CViewerCtlDlg::ShowTotalTime(std::int64_t duration) {
    m_shownTime = {0, 0, 0};
    if (duration < 0) return;
    m_shownTime = clockOf(duration / 1000000);
    m_total->setText(clockText(m_shownTime));
}

bool CViewerCtlDlg::event(QEvent* event) {
    if (event->type() != PostedMessageEvent::eventType()) return PanelWidget::event(event);
    const WindowMessage& m = static_cast<PostedMessageEvent*>(event)->message;
    switch (m.id) {
    case MsgPosition:
        m_seek->setValue(int(m.wParam));
        break;
    case MsgElapsedSeconds:
        ShowElapsedTime(m.lParam);
        break;
    case MsgEndOfPlayback:
        PlayNextRecording();
        break;
    case MsgSpeedRange:
        SetSpeedRange(m.wParam == 1 ? kSpeedMaxFullHd : kSpeedMax);
        break;
    default:
        break;
    }
    return true;
}

void CViewerCtlDlg::StartPlayerThread() {
    AppGlobals& g = Globals();
    m_main.frontPanel()->SetVideoShown(true);
    m_everStarted = true;
    if (!velk::StartPlayerThread(QtMessagePoster::HandleOf(this))) {
        LogEvent(QStringLiteral("error the player thread did not start"));
        return;
    }
    g.playing = true;
    LogEvent(QStringLiteral("play ") + QString::fromStdString(g.currentFilePath));
}

void CViewerCtlDlg::PlayCurrentRecording() {
    if (!m_main.StopPlaybackForSwitch()) return;
    m_main.ResetGraph();
    StartPlayerThread();
    const AppGlobals& g = Globals();
    const auto category = CategoryOfName(g.currentFileName, true);
    if (!category) return; // plays, but no list shows it
    m_main.ShowCategory(*category);
    m_main.list(*category)->SelectOnly(g.currentIndex[size_t(*category)]);
}

void CViewerCtlDlg::PlayNextRecording() { stepRecording(Step::Next); }
void CViewerCtlDlg::PlayPreviousRecording() { stepRecording(Step::Previous); }

void CViewerCtlDlg::stepRecording(Step step) {
    // A switch is waiting for the engine (this runs inside its wait: a late end of the stopped
    // recording, a click): the recording it is about to start is already chosen.
    if (m_main.isSwitching()) return;
    if (WaitOutDoubleClick() < 0) return;
    AppGlobals& g = Globals();
    const RecordingCategory c = m_main.shownCategory();
    const int n = int(m_main.catalogue()[size_t(c)].size());
    std::int32_t& i = g.currentIndex[size_t(c)];
    if (step == Step::Next) {
        if (i >= 0 && i < n - 1)
            ++i;
        else if (i == n - 1)
            i = 0;
    } else {
        if (i > 0 && i <= n - 1)
            --i;
        else if (i == 0)
            i = n - 1;
    }
    const QString name = m_main.list(c)->RowFileName(i);
    if (name.isEmpty()) return;
    // The folder the file was found in: a file whose key names another category still opens.
    const FileInfo* found = m_main.list(c)->entry(i);
    const RecordingCategory folder = found ? found->folder : c;
    const std::string bare = name.toStdString();
    g.currentFileName =
        g.catalogueMode ? std::string(CategoryFolderName(folder)) + '/' + bare : bare;
    g.currentFilePath = RecordingPath(g.baseFolder, folder, bare, g.catalogueMode);
    m_main.SetFileLabel(QString::fromStdString(g.currentFileName));
    PlayCurrentRecording();
}

int CViewerCtlDlg::WaitOutDoubleClick() {
    if (m_waitRunning) {
        m_waitInterrupted = true;
        return -1;
    }
    m_waitInterrupted = false;
    m_waitRunning = true;
    const int t = QGuiApplication::styleHints()->mouseDoubleClickInterval();
    for (int step = 0; step < 10 && !m_waitInterrupted; ++step) {
        const int slice = t / 10 + (step == 9 ? t % 10 : 0);
        QElapsedTimer timer;
        timer.start();
        // The user can click again (which interrupts this wait) while it runs.
        while (!m_waitInterrupted && !m_main.isClosing() && timer.elapsed() < slice)
            QCoreApplication::processEvents(QEventLoop::AllEvents, int(slice - timer.elapsed()));
    }
    m_waitRunning = false;
    return m_main.isClosing() ? -1 : 0;
}

void CViewerCtlDlg::OpenRecordingFile() {
    const QString path = QFileDialog::getOpenFileName(
        nullptr, QString(), QString(), QStringLiteral("Video Files (*.avi *.mp4);;All Files (*)"));
    if (path.isEmpty()) return;
    OpenRecording(path);
}

void CViewerCtlDlg::OpenRecording(const QString& path) {
    AppGlobals& g = Globals();
    const QFileInfo info(path);
    LogEvent(QStringLiteral("open ") + path);
    g.currentFileName = info.fileName().toStdString();
    g.currentFilePath = info.absoluteFilePath().toStdString();
    g.baseFolder = info.absolutePath().toStdString();
    m_main.ClearCatalogue();
    CatalogueOpenedFolder();
    // Set before the playback starts: previous/next during its wait build folder paths from it.
    g.catalogueMode = false;
    PlayCurrentRecording();
    EnableTransport(true);
    m_main.EnableRecordingButtons(false);
}

void CViewerCtlDlg::CatalogueOpenedFolder() {
    AppGlobals& g = Globals();
    m_main.SetFileLabel(QString::fromStdString(g.currentFileName));
    velk::CatalogueOpenedFolder(QString::fromStdString(g.baseFolder), g.currentFileName,
                                m_main.catalogue(), g.currentIndex);
    m_main.FillListPanels();
}

} // namespace velk
