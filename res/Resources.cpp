#include "Resources.h"

#include <QDir>
#include <QFile>
#include <QHash>
#include <QMutex>
#include <QPainter>

#include <algorithm>

static void initVelkResources() {
    // The resources live in a static library: the linker drops their registration unless it is
    // referenced, so every lookup goes through here first.
    static const bool registered = [] {
        Q_INIT_RESOURCE(velk_res);
        return true;
    }();
    Q_UNUSED(registered);
}

namespace velk {

namespace {

QString folderOf(ResourceType type) {
    switch (type) {
    case ResourceType::Png:
        return QStringLiteral(":/velk/png/");
    case ResourceType::Bitmap:
        return QStringLiteral(":/velk/bitmap/");
    case ResourceType::Icon:
        return QStringLiteral(":/velk/icon/");
    }
    return {};
}

QString pathOf(int number, ResourceType type) {
    const char* ext = type == ResourceType::Bitmap ? "bmp" : "png";
    return folderOf(type) + QString::number(number) + u'.' + QLatin1String(ext);
}

} // namespace

QByteArray resourceData(int number, ResourceType type) {
    initVelkResources();
    if (number <= 0) return {};
    QFile file(pathOf(number, type));
    if (!file.open(QIODevice::ReadOnly)) return {};
    return file.readAll();
}

QImage resourceImage(int number, ResourceType type) {
    // Panels draw their pictures on every repaint (a moving seek bar, a new telemetry line):
    // each picture is decoded once and then shared (QImage copies are reference-counted). The
    // pictures are few and small, so the cache keeps them all for the program's life.
    static QMutex lock;
    static QHash<std::pair<int, int>, QImage> decoded;
    const std::pair<int, int> key{number, int(type)};
    {
        const QMutexLocker guard(&lock);
        const auto found = decoded.constFind(key);
        if (found != decoded.constEnd()) return *found;
    }
    const QByteArray bytes = resourceData(number, type);
    QImage image;
    if (!bytes.isEmpty() &&
        !image.loadFromData(bytes, type == ResourceType::Bitmap ? "BMP" : "PNG"))
        image = QImage();
    const QMutexLocker guard(&lock);
    decoded.insert(key, image); // a missing picture is remembered too: it stays missing
    return image;
}

bool drawResource(QPainter& painter, int number, const QRect& target, ResourceType type) {
    const QImage image = resourceImage(number, type);
    if (image.isNull() || !target.isValid()) return false;
    painter.drawImage(target, image);
    return true;
}

bool drawResource(QPainter& painter, int number, int x, int y, ResourceType type) {
    const QImage image = resourceImage(number, type);
    if (image.isNull()) return false;
    painter.drawImage(x, y, image);
    return true;
}

QList<int> resourceNumbers(ResourceType type) {
    initVelkResources();
    QList<int> numbers;
    const QStringList names = QDir(folderOf(type)).entryList(QDir::Files);
    for (const QString& name : names) {
        bool ok = false;
        const int number = name.section(u'.', 0, 0).toInt(&ok);
        if (ok) numbers.append(number);
    }
    std::sort(numbers.begin(), numbers.end());
    return numbers;
}

} // namespace velk
