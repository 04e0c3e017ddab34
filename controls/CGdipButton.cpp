#include "CGdipButton.h"

#include <QMouseEvent>
#include <QPainter>

namespace {

// The hover look: each colour channel c (0..1) becomes 1.05 c + 0.05, alpha unchanged.
QImage brightened(const QImage& source) {
    QImage image = source.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < image.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            const QRgb p = line[x];
            auto lift = [](int c) { return qMin(255, qRound(1.05 * c + 0.05 * 255)); };
            line[x] = qRgba(lift(qRed(p)), lift(qGreen(p)), lift(qBlue(p)), qAlpha(p));
        }
    }
    return image;
}

} // namespace

CGdipButton::CGdipButton(QWidget* parent) : QAbstractButton(parent) {
    // Keys belong to the panels' own filters, never to a focused button.
    setFocusPolicy(Qt::NoFocus);
    // Made first, so the new toggle state is in place before any owner's slot sees the click.
    connect(this, &QAbstractButton::clicked, this, [this] {
        if (m_toggleMode) m_toggled = !m_toggled;
        update();
    });
}

bool CGdipButton::loadLooks(int number, velk::ResourceType type, QImage* looks) {
    const CGdiPlusBitmapResource bitmap(number, type);
    if (bitmap.isNull()) {
        looks[Plain] = looks[Hover] = QImage();
        return false;
    }
    looks[Plain] = bitmap.image();
    looks[Hover] = brightened(bitmap.image());
    return true;
}

CGdipButton* CGdipButton::Create(QWidget* parent, int id, const QRect& rect, int picture,
                                 const QString& tooltip) {
    auto* b = new CGdipButton(parent);
    b->setObjectName(QStringLiteral("button%1").arg(id));
    b->setGeometry(rect);
    b->LoadNormalImage(picture);
    b->setToolTip(tooltip);
    return b;
}

bool CGdipButton::LoadNormalImage(int number, velk::ResourceType type) {
    const bool ok = loadLooks(number, type, m_normal);
    updateGeometry();
    update();
    return ok;
}

bool CGdipButton::LoadAlternateImage(int number, velk::ResourceType type) {
    const bool ok = loadLooks(number, type, m_alternate);
    if (!ok) m_toggleMode = false;
    update();
    return ok;
}

void CGdipButton::EnableToggle(bool on) {
    if (hasAlternate()) m_toggleMode = on;
}

void CGdipButton::FlipToggle() {
    m_toggled = !m_toggled;
    m_showFlipped = true;
    repaint();
    m_showFlipped = false;
}

QSize CGdipButton::sizeHint() const {
    return m_normal[Plain].isNull() ? QSize(0, 0) : m_normal[Plain].size();
}

void CGdipButton::paintEvent(QPaintEvent*) {
    if (m_normal[Plain].isNull()) return;
    const bool pressed = isDown() || m_showFlipped;
    // A press in toggle mode already shows the state the click will bring.
    const bool alternate = hasAlternate() && (m_toggled != (m_toggleMode && isDown()));
    const QImage* looks = alternate ? m_alternate : m_normal;
    const bool hover = !pressed && m_hovering && isEnabled();

    QPainter painter(this);
    // A button that cannot be used now is drawn faint over its parent's picture, so the user
    // sees what waits for a recording.
    if (!isEnabled()) painter.setOpacity(0.4);
    if (pressed)
        painter.drawImage(QPoint(1, 1), looks[Plain]);
    else
        painter.drawImage(QPoint(0, 0), looks[hover ? Hover : Plain]);
}

void CGdipButton::enterEvent(QEnterEvent* event) {
    m_hovering = true;
    update();
    QAbstractButton::enterEvent(event);
}

void CGdipButton::leaveEvent(QEvent* event) {
    m_hovering = false;
    update();
    QAbstractButton::leaveEvent(event);
}

void CGdipButton::mouseDoubleClickEvent(QMouseEvent* event) {
    // The second press of a double click is a press like the first: two clicks, not one.
    mousePressEvent(event);
}

void CGdipButton::changeEvent(QEvent* event) {
    if (event->type() == QEvent::EnabledChange) update();
    QAbstractButton::changeEvent(event);
}
