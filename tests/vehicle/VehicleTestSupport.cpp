#include "VehicleTestSupport.h"

#include "QtMessagePoster.h"
#include "Resources.h"

#include <QCoreApplication>

#include <cstdio>
#include <map>
#include <memory>

namespace velk::test {

std::string Line(const Fields& f) {
    char text[256];
    std::snprintf(text, sizeof text,
                  "%d,%d,%d,%d,%d/0,3,0,37.566500,126.978000,0/%s,%s,%s,%d,%d,%d,0,0,0/%s,%d,%d",
                  f.speed, f.rpm, f.left, f.right, f.brake, f.gx.c_str(), f.gy.c_str(),
                  f.gz.c_str(), f.lane, f.ahead, f.pedestrian, f.version.c_str(), f.code, f.unit);
    return text;
}

namespace {
void Deliver(CVehicleInfoDlg& panel, WindowMessage message) {
    PostWindowMessage(QtMessagePoster::HandleOf(&panel), std::move(message));
    QCoreApplication::sendPostedEvents(&panel, PostedMessageEvent::eventType());
}

const QImage& Resource(int number) {
    static std::map<int, QImage> cache;
    auto it = cache.find(number);
    if (it == cache.end())
        it = cache.emplace(number, resourceImage(number).convertToFormat(QImage::Format_RGB32))
                 .first;
    return it->second;
}
} // namespace

void SendLine(CVehicleInfoDlg& panel, const std::string& text) {
    WindowMessage message;
    message.id = MsgVehicleTelemetry;
    message.text = std::make_unique<std::string>(text);
    message.lParam = reinterpret_cast<std::intptr_t>(message.text.get());
    Deliver(panel, std::move(message));
}

void SendReset(CVehicleInfoDlg& panel) {
    WindowMessage message;
    message.id = MsgVehicleTelemetry;
    Deliver(panel, std::move(message));
}

QImage Grab(CVehicleInfoDlg& panel) {
    return panel.grab().toImage().convertToFormat(QImage::Format_RGB32);
}

bool ShowsExactly(const QImage& shown, int number, int x, int y) {
    const QImage& picture = Resource(number);
    return !picture.isNull() && shown.copy(QRect(QPoint(x, y), picture.size())) == picture;
}

int PictureAt(const QImage& shown, std::initializer_list<int> candidates, int x, int y) {
    for (const int number : candidates)
        if (ShowsExactly(shown, number, x, y)) return number;
    return -1;
}

int NumberAt(const QImage& shown, int first, std::initializer_list<int> xs, int y) {
    int number = 0;
    for (const int x : xs) {
        int digit = -1;
        for (int d = 0; d < 10 && digit < 0; ++d)
            if (ShowsExactly(shown, first + d, x, y)) digit = d;
        if (digit < 0) return -1;
        number = number * 10 + digit;
    }
    return number;
}

int SpeedShown(const QImage& shown) { return NumberAt(shown, 180, {22, 33, 44}, 90); }
int RpmShown(const QImage& shown) { return NumberAt(shown, 190, {171, 180, 189, 198, 207}, 96); }

} // namespace velk::test
