#include "MapTestSupport.h"

#include "AppGlobals.h"
#include "EventLog.h"
#include "WindowMessages.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QGuiApplication>
#include <QScreen>
#include <QThread>
#include <QWebEnginePage>
#include <QWebEngineView>
#include <QWidget>

#include <cstdio>
#include <cstdlib>
#include <memory>

#include <fcntl.h>
#include <unistd.h>

namespace velk::test {

bool WaitUntil(const std::function<bool()>& done, int timeoutMs) {
    QDeadlineTimer deadline(timeoutMs);
    while (!done()) {
        if (deadline.hasExpired()) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(5);
    }
    return true;
}

QVariant Evaluate(QWebEngineView* view, const QString& script, int timeoutMs) {
    if (!view) return {};
    auto answer = std::make_shared<std::optional<QVariant>>();
    view->page()->runJavaScript(script, [answer](const QVariant& v) { *answer = v; });
    WaitUntil([&] { return answer->has_value(); }, timeoutMs);
    return answer->value_or(QVariant());
}

QVariantMap PageState(QWebEngineView* view) {
    return Evaluate(view, QStringLiteral("typeof MapState === 'function' ? MapState() : null"))
        .toMap();
}

QString BuiltPageFolder() { return QStringLiteral(VELK_BINARY_DIR "/html"); }

LogCapture::LogCapture() {
    SetEventLogEnabled(true);
    char name[] = "/tmp/velk-map-log-XXXXXX";
    const int fd = mkstemp(name);
    if (fd < 0) return;
    m_path = name;
    std::fflush(stderr);
    m_saved = dup(STDERR_FILENO);
    dup2(fd, STDERR_FILENO);
    close(fd);
}

LogCapture::~LogCapture() {
    SetEventLogEnabled(false);
    std::fflush(stderr);
    if (m_saved >= 0) {
        dup2(m_saved, STDERR_FILENO);
        close(m_saved);
    }
    if (!m_path.empty()) unlink(m_path.c_str());
}

QStringList LogCapture::lines(const QStringList& prefixes) const {
    std::fflush(stderr);
    QFile file(QString::fromStdString(m_path));
    QStringList out;
    if (!file.open(QIODevice::ReadOnly)) return out;
    for (const QByteArray& raw : file.readAll().split('\n')) {
        const QString line = QString::fromUtf8(raw);
        for (const QString& prefix : prefixes) {
            if (line.startsWith(prefix)) {
                out << line;
                break;
            }
        }
    }
    return out;
}

void PostTelemetry(const std::string& line) {
    WindowMessage message;
    message.id = MsgMapTelemetry;
    message.text = std::make_unique<std::string>(line);
    PostWindowMessage(Globals().mapPanel, std::move(message));
    QCoreApplication::processEvents();
}

std::string TelemetryLine(double latitude, double longitude, int gpsState) {
    char line[160];
    std::snprintf(line, sizeof line,
                  "22,1956,0,0,0/0,%d,8,%.6f,%.6f,341/0.25,0.02,0.95,0,0,0,0,0,0", gpsState,
                  latitude, longitude);
    return line;
}

QImage ScreenPixels(QWidget* widget) {
    QScreen* screen = widget->screen() ? widget->screen() : QGuiApplication::primaryScreen();
    const QPoint at = widget->mapToGlobal(QPoint(0, 0));
    return screen->grabWindow(0, at.x(), at.y(), widget->width(), widget->height())
        .toImage()
        .convertToFormat(QImage::Format_RGB32);
}

double ColourShare(const QImage& image, const QRect& rect, QRgb colour, int tolerance) {
    const QRect area = rect.intersected(image.rect());
    if (area.isEmpty()) return 0;
    long matching = 0;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) {
            const QRgb p = image.pixel(x, y);
            if (std::abs(qRed(p) - qRed(colour)) <= tolerance &&
                std::abs(qGreen(p) - qGreen(colour)) <= tolerance &&
                std::abs(qBlue(p) - qBlue(colour)) <= tolerance)
                ++matching;
        }
    }
    return double(matching) / double(area.width() * area.height());
}

double ShareLike(const QImage& screen, const QRect& rect, const QImage& picture) {
    if (picture.isNull()) return 0;
    const QImage expected = picture.convertToFormat(QImage::Format_RGB32);
    long same = 0, all = 0;
    for (int y = 0; y < rect.height(); ++y) {
        for (int x = 0; x < rect.width(); ++x) {
            const QRgb a = screen.pixel(rect.x() + x, rect.y() + y);
            const QRgb b = expected.pixel(x, y);
            ++all;
            if (std::abs(qRed(a) - qRed(b)) + std::abs(qGreen(a) - qGreen(b)) +
                    std::abs(qBlue(a) - qBlue(b)) <=
                12)
                ++same;
        }
    }
    return double(same) / double(all);
}

} // namespace velk::test
