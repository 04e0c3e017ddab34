#include "CVehicleInfoDlg.h"

#include "AppGlobals.h"
#include "Engine.h"
#include "EventLog.h"
#include "QtMessagePoster.h"
#include "Resources.h"

#include <QFontDatabase>
#include <QKeyEvent>
#include <QPainter>

#include <algorithm>
#include <cmath>
#include <memory>

namespace {

// Where each picture goes; every picture is drawn at its place in the size given here, which is
// the picture's own size.
struct Place {
    int x, y, w, h;
    QRect rect() const { return QRect(x, y, w, h); }
};
constexpr Place kStateBackground{0, 0, 240, 123};
constexpr Place kGraphGrid{240, 0, 480, 123};
constexpr Place kSpeedUnit{65, 93, 40, 18};
constexpr int kSpeedDigitX[] = {22, 33, 44};
constexpr Place kSpeedDigit{0, 90, 11, 18}; // x from kSpeedDigitX
constexpr Place kRpmLabel{129, 95, 39, 16};
constexpr int kRpmDigitX[] = {171, 180, 189, 198, 207};
constexpr Place kRpmDigit{0, 96, 9, 12}; // x from kRpmDigitX
constexpr Place kLeftArrow{14, 40, 43, 37};
constexpr Place kRightArrow{181, 40, 43, 37};
constexpr Place kBrake{124, 40, 43, 37};
constexpr Place kPedestrian{68, 40, 43, 37};
constexpr Place kLeftLane{28, 2, 57, 29};
constexpr Place kRightLane{157, 2, 57, 29};
constexpr Place kVehicleAhead{93, 2, 57, 29};

enum Picture {
    PedestrianRed = 169,
    PedestrianGrey = 170,
    StateBackground = 171,
    LeftArrowGreen = 172,
    LeftArrowGrey = 173,
    RightArrowGreen = 174,
    RightArrowGrey = 175,
    RpmLabel = 176,
    BrakeRed = 177,
    BrakeGrey = 178,
    GraphGrid = 179,
    SpeedDigit0 = 180, // 180..189
    RpmDigit0 = 190,   // 190..199
    VehicleAheadRed = 240,
    VehicleAheadOrange = 242,
    VehicleAheadGreen = 246,
    VehicleAheadGrey = 248,
    LeftLaneRed = 251,
    LeftLaneGrey = 253,
    RightLaneRed = 256,
    RightLaneGrey = 258,
    PedestrianGreen = 266,
    UnitKmh = 267,
    UnitMph = 268,
    PictureLimit = 269 // above every number the panel uses
};

// A lamp's hold: a report lights it for that record and the 9 after it.
constexpr int kHoldRecords = 9;
// The speed factor's record count wraps long before it could overflow.
constexpr int kRecordCounterLimit = 100000000;
// The largest numbers the digits can show.
constexpr int kMaxSpeed = 999;
constexpr int kMaxRpm = 99999;

constexpr int kGraphLeft = 240;
constexpr int kGraphHeight = 123;
constexpr int kSampleDistance = 40;
constexpr int kLabelTop = 105;
constexpr int kLabelLeft[] = {240, 300, 360};
const char* const kLabelPrefix[] = {"x: ", "y: ", "z: "};
const QColor kSeriesColour[] = {QColor(255, 0, 0), QColor(0, 128, 0), QColor(0, 0, 255)};
const QColor kPanelColour(100, 100, 100);

const QString kLabelFamily = QStringLiteral("굴림체");

void put(QPainter& painter, const QImage& picture, const Place& place) {
    if (!picture.isNull()) painter.drawImage(place.rect(), picture);
}

Place at(const Place& place, int x) { return Place{x, place.y, place.w, place.h}; }

} // namespace

QString DeviceLabelText(const QString& versionText, int deviceCode) {
    const std::string_view model = velk::deviceModelName(deviceCode);
    if (model.empty()) return {};
    return QStringLiteral("%1(0x%2) v%3")
        .arg(QLatin1String(model.data(), qsizetype(model.size())),
             QStringLiteral("%1").arg(deviceCode, 2, 16, QLatin1Char('0')), versionText);
}

CVehicleInfoDlg::CVehicleInfoDlg(QWidget* parent) : velk::PanelWidget(parent) {
    setObjectName(QStringLiteral("vehicle"));
    setFixedSize(kWidth, kHeight);
    // The paint handler covers every pixel.
    setAttribute(Qt::WA_OpaquePaintEvent);
    m_labelFont.setPixelSize(11);
    m_labelFont.setBold(true);
}

void CVehicleInfoDlg::Initialise() {
    m_pictures.assign(PictureLimit, QImage());
    const int numbers[] = {
        PedestrianRed,   PedestrianGrey,  StateBackground,    LeftArrowGreen,    LeftArrowGrey,
        RightArrowGreen, RightArrowGrey,  RpmLabel,           BrakeRed,          BrakeGrey,
        GraphGrid,       VehicleAheadRed, VehicleAheadOrange, VehicleAheadGreen, VehicleAheadGrey,
        LeftLaneRed,     LeftLaneGrey,    RightLaneRed,       RightLaneGrey,     PedestrianGreen,
        UnitKmh,         UnitMph};
    auto load = [this](int number) {
        QImage image = velk::resourceImage(number);
        // Stored in the formats the painter copies fastest.
        if (!image.isNull())
            image =
                image.convertToFormat(image.hasAlphaChannel() ? QImage::Format_ARGB32_Premultiplied
                                                              : QImage::Format_RGB32);
        m_pictures[std::size_t(number)] = std::move(image);
    };
    for (const int number : numbers)
        load(number);
    for (int digit = 0; digit < 10; ++digit) {
        load(SpeedDigit0 + digit);
        load(RpmDigit0 + digit);
    }

    if (QFontDatabase::hasFamily(kLabelFamily))
        m_labelFont.setFamily(kLabelFamily);
    else
        m_labelFont.setFamilies({QFontDatabase::systemFont(QFontDatabase::GeneralFont).family()});
    m_labelFont.setStyleHint(QFont::SansSerif);

    m_shown = QImage(kWidth, kHeight, QImage::Format_RGB32);
    drawDefaultBackground();
    update();
}

void CVehicleInfoDlg::ResetGraph() {
    m_series.assign(3, GSensorSeries{});
    for (int axis = 0; axis < 3; ++axis)
        m_series[std::size_t(axis)].axis = axis;
}

void CVehicleInfoDlg::SetFullScreenShown(bool shown) { m_fullScreenShown = shown; }

bool CVehicleInfoDlg::PreTranslateKey(const QKeyEvent& event) {
    if (event.type() != QEvent::KeyPress) return false;
    const bool playing = velk::Globals().playing;
    switch (event.key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Escape:
        // Unlike the other panels: only a way back from the full-screen layout.
        if (m_fullScreenShown) emit fullScreenToggleRequested();
        return true;
    case Qt::Key_Space:
        if (playing) emit playPauseRequested();
        return true;
    case Qt::Key_Left:
        if (playing) emit seekByRequested(-5);
        return true;
    case Qt::Key_Right:
        if (playing) emit seekByRequested(5);
        return true;
    default:
        return false;
    }
}

bool CVehicleInfoDlg::event(QEvent* event) {
    if (event->type() == velk::PostedMessageEvent::eventType()) {
        velk::WindowMessage& message = static_cast<velk::PostedMessageEvent*>(event)->message;
        if (message.id == velk::MsgVehicleTelemetry) OnTelemetryMessage(message);
        return true;
    }
    return velk::PanelWidget::event(event);
}

void CVehicleInfoDlg::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    if (m_shown.isNull())
        painter.fillRect(rect(), kPanelColour);
    else
        painter.drawImage(0, 0, m_shown);
}

void CVehicleInfoDlg::keyPressEvent(QKeyEvent* event) {
    // Reached only when no main window offered the key first.
    if (PreTranslateKey(*event)) {
        event->accept();
        return;
    }
    velk::PanelWidget::keyPressEvent(event);
}

void CVehicleInfoDlg::OnTelemetryMessage(velk::WindowMessage& message) {
    // This handler owns the message's text; it is freed when the handler returns.
    const std::unique_ptr<std::string> text = std::move(message.text);
    if (!text) {
        // Without a text of its own a message carries nothing to read: only lParam 0, the
        // reset at the start of a playback, means something.
        if (message.lParam != 0) return;
        drawDefaultBackground();
        update();
        m_versionReportPending = true;
        return;
    }
    if (text->empty()) return;
    const velk::TelemetryRecord record = velk::scanVehicleInfoLine(*text).record;
    if (!velk::vehicleInfoAcceptsLine(*text, record)) return;

    if (m_versionReportPending) {
        m_versionReportPending = false;
        const velk::VersionReport report = velk::versionReport(record);
        const QString version = QString::fromStdString(report.versionText);
        if (velk::EventLogEnabled())
            velk::LogEvent(QStringLiteral("device ") + DeviceLabelText(version, report.deviceCode));
        emit deviceLabelReported(version, report.deviceCode);
    }
    drawRecord(record);
}

void CVehicleInfoDlg::drawRecord(const velk::TelemetryRecord& record) {
    // At a speed factor f above 1 only every f-th record adds samples, so that the graph gains
    // about as many samples per second of viewing as at normal speed. A factor below 1 is not
    // one the control panel sets; it counts as 1.
    const int factor = std::max(1, velk::speedFactor.load(std::memory_order_relaxed));
    bool added = false;
    if (factor == 1 || m_recordCounter % factor == 0) {
        added = addSample(0, record.gSensorX) | addSample(1, record.gSensorY) |
                addSample(2, record.gSensorZ);
    }
    if (factor != 1 && ++m_recordCounter > kRecordCounterLimit) m_recordCounter = 0;

    if (m_shown.isNull()) return; // not initialised: nothing to draw into
    if (added) drawGraph();
    drawStateArea(record);
    // One transfer of the composed picture to the window.
    update();
}

bool CVehicleInfoDlg::addSample(int axis, double value) {
    if (std::size_t(axis) >= m_series.size()) return false;
    // NaN fails both range tests and would give no row: it is left out like any value outside
    // -1.0 to 1.0.
    if (!(value >= -1.0 && value <= 1.0)) return false;
    GSensorSeries& series = m_series[std::size_t(axis)];
    const int row = 61 - static_cast<int>(kGraphHeight * value / 2.0);
    series.ring[std::size_t(series.writePosition)] = {value, std::clamp(row, 0, kGraphHeight)};
    series.writePosition = (series.writePosition + 1) % GSensorSeries::kSlots;
    return true;
}

void CVehicleInfoDlg::drawGraph() {
    if (m_series.empty()) return;
    QPainter painter(&m_shown);
    painter.setClipRect(kGraphGrid.rect());
    // The grid is opaque; the panel colour only shows where it is missing, so that no earlier
    // line stays under the new ones.
    painter.fillRect(kGraphGrid.rect(), kPanelColour);
    put(painter, picture(GraphGrid), kGraphGrid);
    painter.setFont(m_labelFont);

    for (const GSensorSeries& series : m_series) {
        const int p = series.writePosition;
        if (p == 0) continue;
        const QColor& colour = kSeriesColour[series.axis];
        painter.setPen(QPen(colour, 1));
        // Point k shows slot p-1-k, the newest at the graph's left edge; the last two points
        // both show slot 0. Points from x = 720 on are outside the picture: the line to the
        // first of them is the last one that shows.
        QPoint previous(kGraphLeft, series.ring[std::size_t(p - 1)].row);
        for (int k = 1; k <= p; ++k) {
            const QPoint point(kGraphLeft + kSampleDistance * k,
                               series.ring[std::size_t(std::max(p - 1 - k, 0))].row);
            painter.drawLine(previous, point);
            if (point.x() >= kWidth) break;
            previous = point;
        }
        const QString label = QLatin1String(kLabelPrefix[series.axis]) +
                              QString::asprintf("%0.2lf", series.ring[std::size_t(p - 1)].value);
        painter.drawText(QRect(kLabelLeft[series.axis], kLabelTop, 120, 18),
                         Qt::AlignLeft | Qt::AlignTop | Qt::TextDontClip, label);
    }
}

int CVehicleInfoDlg::laneState(int reported) {
    // A departure stays shown for the record that reports it and the 9 after it; a new report
    // of either side restarts the hold and shows at once.
    int s = reported;
    const bool newReport = s == 1 || s == 2;
    if (m_laneHold.count >= 1 && m_laneHold.count <= kHoldRecords && !newReport)
        s = m_laneHold.state;
    else
        m_laneHold.count = 0;
    if (s == 1 || s == 2) {
        ++m_laneHold.count;
        m_laneHold.state = s;
    }
    return s;
}

int CVehicleInfoDlg::vehicleAheadState(int reported) {
    // The state shown first stays while further reports keep coming (each restarts the hold
    // without replacing it) and for 9 records after the last of them.
    int s = reported;
    if (m_vehicleAheadHold.count >= 1 && m_vehicleAheadHold.count <= kHoldRecords) {
        if (s != 0) m_vehicleAheadHold.count = 0;
        s = m_vehicleAheadHold.state;
    } else {
        m_vehicleAheadHold.count = 0;
    }
    if (s >= 1 && s <= 5) {
        ++m_vehicleAheadHold.count;
        m_vehicleAheadHold.state = s;
    }
    return s;
}

void CVehicleInfoDlg::drawStateArea(const velk::TelemetryRecord& record) {
    // A speed or revolutions count too large for the digits shows the largest number they hold.
    const int speed = std::clamp(record.speed, 0, kMaxSpeed);
    const int rpm = std::clamp(record.engineRpm, 0, kMaxRpm);

    QPainter painter(&m_shown);
    painter.fillRect(kStateBackground.rect(), Qt::white);
    put(painter, picture(StateBackground), kStateBackground);
    put(painter, picture(record.speedUnit == 1 ? UnitMph : UnitKmh), kSpeedUnit);
    const int speedDigits[] = {speed / 100, speed % 100 / 10, speed % 10};
    for (int i = 0; i < 3; ++i)
        put(painter, picture(SpeedDigit0 + speedDigits[i]), at(kSpeedDigit, kSpeedDigitX[i]));
    put(painter, picture(RpmLabel), kRpmLabel);
    for (int i = 0, divisor = 10000; i < 5; ++i, divisor /= 10)
        put(painter, picture(RpmDigit0 + rpm / divisor % 10), at(kRpmDigit, kRpmDigitX[i]));
    put(painter, picture(record.leftTurnSignal == 1 ? LeftArrowGreen : LeftArrowGrey), kLeftArrow);
    put(painter, picture(record.rightTurnSignal == 1 ? RightArrowGreen : RightArrowGrey),
        kRightArrow);
    put(painter, picture(record.brake == 1 ? BrakeRed : BrakeGrey), kBrake);

    const int lane = laneState(record.laneDepartureState);
    if (lane == 1) {
        put(painter, picture(LeftLaneRed), kLeftLane);
    } else if (lane == 2) {
        put(painter, picture(RightLaneRed), kRightLane);
    } else {
        put(painter, picture(LeftLaneGrey), kLeftLane);
        put(painter, picture(RightLaneGrey), kRightLane);
    }

    const int ahead = vehicleAheadState(record.forwardCollisionState);
    const int aheadPicture = ahead >= 1 && ahead <= 3 ? VehicleAheadRed
                             : ahead == 4             ? VehicleAheadOrange
                             : ahead == 5             ? VehicleAheadGreen
                                                      : VehicleAheadGrey;
    put(painter, picture(aheadPicture), kVehicleAhead);

    const int pedestrian = record.pedestrianState == 1   ? PedestrianGreen
                           : record.pedestrianState == 3 ? PedestrianRed
                                                         : PedestrianGrey;
    put(painter, picture(pedestrian), kPedestrian);

    if (velk::EventLogEnabled())
        velk::LogEvent(QStringLiteral("vehicle %1 %2").arg(speed).arg(rpm));
}

void CVehicleInfoDlg::drawDefaultBackground() {
    if (m_shown.isNull()) return;
    QPainter painter(&m_shown);
    painter.fillRect(m_shown.rect(), kPanelColour);
    put(painter, picture(StateBackground), kStateBackground);
    put(painter, picture(UnitKmh), kSpeedUnit);
    put(painter, picture(GraphGrid), kGraphGrid);
    for (const int x : kSpeedDigitX)
        put(painter, picture(SpeedDigit0), at(kSpeedDigit, x));
    put(painter, picture(RpmLabel), kRpmLabel);
    for (const int x : kRpmDigitX)
        put(painter, picture(RpmDigit0), at(kRpmDigit, x));
}

const QImage& CVehicleInfoDlg::picture(int number) const {
    static const QImage none;
    return std::size_t(number) < m_pictures.size() ? m_pictures[std::size_t(number)] : none;
}
