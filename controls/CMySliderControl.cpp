#include "CMySliderControl.h"

#include <QMouseEvent>
#include <QPainter>

namespace {

constexpr int kChannelInset = 8;
constexpr int kChannelThickness = 6;
constexpr int kThumbDiameter = 12;
const QColor kChannelFrame(100, 100, 100);

} // namespace

CMySliderControl::CMySliderControl(QWidget* parent) : CMySliderControl(Qt::Horizontal, parent) {}

CMySliderControl::CMySliderControl(Qt::Orientation orientation, QWidget* parent)
    : QSlider(orientation, parent) {
    // Keys belong to the panels' own filters.
    setFocusPolicy(Qt::NoFocus);
}

QSize CMySliderControl::sizeHint() const {
    return orientation() == Qt::Horizontal ? QSize(100, 20) : QSize(20, 100);
}

QRect CMySliderControl::channelRect() const {
    if (orientation() == Qt::Horizontal) {
        const int length = width() - 2 * kChannelInset;
        if (length <= 0) return {};
        return QRect(kChannelInset, (height() - kChannelThickness) / 2, length, kChannelThickness);
    }
    const int length = height() - 2 * kChannelInset;
    if (length <= 0) return {};
    return QRect((width() - kChannelThickness) / 2, kChannelInset, kChannelThickness, length);
}

int CMySliderControl::along(const QPoint& point) const {
    return orientation() == Qt::Horizontal ? point.x() : point.y();
}

std::optional<int> CMySliderControl::positionForClick(int x) const {
    const QRect channel = channelRect();
    const int l = orientation() == Qt::Horizontal ? channel.left() : channel.top();
    const int r = l + (orientation() == Qt::Horizontal ? channel.width() : channel.height());
    if (channel.isEmpty() || l >= r) return std::nullopt;
    if (x < l) return minimum();
    if (x >= r) return maximum() - 1; // not maximum: the click rule the panels were built around
    const qint64 w = r - l - 1;
    if (minimum() >= maximum() || w <= 0) return std::nullopt;
    const qint64 span = qint64(maximum()) - minimum();
    return int(minimum() + ((qint64(x) - l) * span + w / 2) / w);
}

int CMySliderControl::positionForDrag(int x) const {
    const std::optional<int> clicked = positionForClick(x);
    if (!clicked) return sliderPosition();
    const QRect channel = channelRect();
    const int r = orientation() == Qt::Horizontal ? channel.left() + channel.width()
                                                  : channel.top() + channel.height();
    // Dragging reaches the full range; only the click rule stops one short of it.
    return x >= r ? maximum() : qBound(minimum(), *clicked, maximum());
}

int CMySliderControl::offsetOf(int position) const {
    const QRect channel = channelRect();
    const int l = orientation() == Qt::Horizontal ? channel.left() : channel.top();
    const int length = orientation() == Qt::Horizontal ? channel.width() : channel.height();
    const qint64 w = length - 1;
    const qint64 span = qint64(maximum()) - minimum();
    if (span <= 0 || w <= 0) return l;
    return l + int((qint64(position) - minimum()) * w / span);
}

QRect CMySliderControl::thumbRect() const {
    const QRect channel = channelRect();
    if (channel.isEmpty()) return {};
    const int across = orientation() == Qt::Horizontal ? height() : width();
    const int d = qMax(4, qMin(kThumbDiameter, across - 4));
    const int centre = offsetOf(sliderPosition());
    if (orientation() == Qt::Horizontal) return QRect(centre - d / 2, (height() - d) / 2, d, d);
    return QRect((width() - d) / 2, centre - d / 2, d, d);
}

void CMySliderControl::setThumbColor(const QColor& color) {
    m_thumbColor = color;
    update();
}

void CMySliderControl::setPressedThumbColor(const QColor& color) {
    m_pressedThumbColor = color;
    update();
}

void CMySliderControl::paintEvent(QPaintEvent*) {
    // Nothing but the frame and the thumb: the parent's picture is the slider's background.
    QPainter painter(this);
    const QRect channel = channelRect();
    if (channel.isEmpty()) return;
    QRect frame = orientation() == Qt::Horizontal ? channel.adjusted(1, 1, -1, -1)
                                                  : channel.adjusted(-1, 0, 1, 0);
    painter.setPen(kChannelFrame);
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(frame.adjusted(0, 0, -1, -1));

    QColor fill = isSliderDown() ? m_pressedThumbColor : m_thumbColor;
    if (!fill.isValid())
        fill = palette().color(isSliderDown() ? QPalette::Light : QPalette::Button);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(Qt::black, 1));
    painter.setBrush(fill);
    painter.drawEllipse(QRectF(thumbRect()).adjusted(0.5, 0.5, -0.5, -0.5));
}

void CMySliderControl::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        QSlider::mousePressEvent(event);
        return;
    }
    event->accept();
    // setValue before the slider is down: the jump is no thumb-tracking move.
    if (const std::optional<int> position = positionForClick(along(event->position().toPoint())))
        setValue(*position);
    emit clicked(value());
    // The thumb now lies under the pointer: the press goes on as a drag of the thumb.
    m_dragging = true;
    setSliderDown(true);
    update();
}

void CMySliderControl::mouseMoveEvent(QMouseEvent* event) {
    if (!m_dragging) {
        QSlider::mouseMoveEvent(event);
        return;
    }
    event->accept();
    setSliderPosition(positionForDrag(along(event->position().toPoint())));
}

void CMySliderControl::mouseReleaseEvent(QMouseEvent* event) {
    if (!m_dragging || event->button() != Qt::LeftButton) {
        QSlider::mouseReleaseEvent(event);
        return;
    }
    event->accept();
    m_dragging = false;
    setSliderDown(false);
    update();
}
