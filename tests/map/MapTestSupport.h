#pragma once
// Helpers of the map panel tests: waiting while the event loop runs, evaluating in the page,
// the event log read back, telemetry posted through the program's message channel, and what the
// panel shows on the X server.

#include <QImage>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <functional>
#include <string>

class QWebEngineView;
class QWidget;

namespace velk::test {

// Runs the event loop until done() holds or timeoutMs passes; returns done().
bool WaitUntil(const std::function<bool()>& done, int timeoutMs = 15000);

// The value of a script in the view's page, after every script handed to the page before it;
// an invalid QVariant when no answer came.
QVariant Evaluate(QWebEngineView* view, const QString& script, int timeoutMs = 15000);

// The page's MapState() as a map ("moves", "routePoints", "vehicle", ...).
QVariantMap PageState(QWebEngineView* view);

// The build's pages (build/html).
QString BuiltPageFolder();

// Standard error goes to a file while this lives; lines() gives the event-log lines written
// since, those starting with one of the prefixes.
class LogCapture {
public:
    LogCapture();
    ~LogCapture();
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;
    QStringList lines(const QStringList& prefixes) const;

private:
    int m_saved = -1;
    std::string m_path;
};

// Posts one telemetry line to Globals().mapPanel the way the engine does, and delivers it.
void PostTelemetry(const std::string& line);

// A usable 20-field map line at this position and GPS state.
std::string TelemetryLine(double latitude, double longitude, int gpsState = 3);

// The widget as the X server shows it (native children included).
QImage ScreenPixels(QWidget* widget);

// Share of pixels in rect of image within tolerance of colour, 0..1.
double ColourShare(const QImage& image, const QRect& rect, QRgb colour, int tolerance = 24);

// Share of pixels of the screen image in rect that match picture drawn at rect's corner, 0..1.
double ShareLike(const QImage& screen, const QRect& rect, const QImage& picture);

} // namespace velk::test
