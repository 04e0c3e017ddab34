#include "CNoFlickerStatic.h"

#include <QPainter>

CNoFlickerStatic::CNoFlickerStatic(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void CNoFlickerStatic::SetText(const QString& text) {
    m_text = text;
    update();
}

QSize CNoFlickerStatic::sizeHint() const {
    return QSize(fontMetrics().horizontalAdvance(m_text), fontMetrics().height());
}

void CNoFlickerStatic::paintEvent(QPaintEvent*) {
    // The font is the parent's unless one was set on the control: Qt widgets inherit it.
    QPainter painter(this);
    painter.fillRect(rect(), palette().color(QPalette::Button));
    painter.setPen(palette().color(QPalette::ButtonText));
    painter.setFont(font());
    painter.drawText(rect(), Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, m_text);
}
