#include "CFrontViewerDlg.h"

#include "AppGlobals.h"
#include "Resources.h"
#include "VideoHost.h"

#include <QPainter>

namespace velk {

namespace {
constexpr int kPlaceholderPicture = 157;
}

CFrontViewerDlg::CFrontViewerDlg(QWidget* parent) : PanelWidget(parent) {
    setObjectName(QStringLiteral("front"));
    // A native window of its own: the host inside stays at (0,0) and this panel is what moves.
    setAttribute(Qt::WA_NativeWindow);
    setAutoFillBackground(false);
    resize(720, 405);
}

void CFrontViewerDlg::Initialise() {
    m_host = new VideoHost(this);
    m_host->setGeometry(0, 0, width(), height());
    m_host->hide();
    Globals().frontVideoHost = WindowHandle(m_host->winId());
}

void CFrontViewerDlg::SetVideoShown(bool shown) {
    if (m_host) m_host->setVisible(shown);
}

bool CFrontViewerDlg::isVideoShown() const { return m_host && m_host->isVisible(); }

void CFrontViewerDlg::PlaceAt(const QRect& rect) {
    const bool shown = isVideoShown();
    if (m_host) m_host->hide();
    setGeometry(rect);
    if (m_host) {
        m_host->setGeometry(0, 0, rect.width(), rect.height());
        m_host->setVisible(shown);
    }
}

void CFrontViewerDlg::paintEvent(QPaintEvent*) {
    // Seen only where the host is unmapped: before the first recording and after a playback was
    // stopped with nothing to follow it.
    QPainter painter(this);
    painter.fillRect(rect(), Qt::black);
    drawResource(painter, kPlaceholderPicture, 0, 0);
}

} // namespace velk
