#include "ScreenReading.h"

#include "FrameCode.h"

#include <cstdint>
#include <vector>

namespace velk::test {

int FrameCode(const QImage& image, bool* mirrored) {
    const QImage rgb = image.convertToFormat(QImage::Format_RGB32);
    std::vector<std::uint8_t> luma(size_t(rgb.width()) * size_t(rgb.height()));
    for (int y = 0; y < rgb.height(); ++y) {
        const auto* row = reinterpret_cast<const QRgb*>(rgb.constScanLine(y));
        for (int x = 0; x < rgb.width(); ++x) {
            // Studio-range luma, the scale the strip's levels are given in.
            const double v =
                16 +
                (65.481 * qRed(row[x]) + 128.553 * qGreen(row[x]) + 24.966 * qBlue(row[x])) / 255.0;
            luma[size_t(y) * size_t(rgb.width()) + size_t(x)] = std::uint8_t(v + 0.5);
        }
    }
    return decodeFrameCode(luma.data(), rgb.width(), rgb.width(), rgb.height(), mirrored);
}

Camera CameraOf(const QImage& image) {
    const QImage rgb = image.convertToFormat(QImage::Format_RGB32);
    long long r = 0, g = 0, b = 0, n = 0;
    // The lower half holds only the background and the moving bar, both in the camera's colour.
    for (int y = rgb.height() / 2; y < rgb.height() * 9 / 10; y += 2) {
        const auto* row = reinterpret_cast<const QRgb*>(rgb.constScanLine(y));
        for (int x = rgb.width() / 10; x < rgb.width() * 9 / 10; x += 2, ++n) {
            r += qRed(row[x]);
            g += qGreen(row[x]);
            b += qBlue(row[x]);
        }
    }
    if (n == 0) return Camera::Unknown;
    r /= n;
    g /= n;
    b /= n;
    if (b > r + 50 && b > g) return Camera::Front;
    if (r > b + 50 && r > g) return Camera::Rear;
    return Camera::Unknown;
}

} // namespace velk::test
