#pragma once

#include <QByteArray>
#include <QImage>
#include <QList>

class QPainter;
class QRect;

namespace velk {

// The three kinds of compiled-in picture. Numbers are unique within a kind only.
enum class ResourceType {
    Png,    // panel pictures and button images
    Bitmap, // tab and header-bar pictures, one set per language
    Icon,   // the program icon
};

// Raw bytes of a resource; empty when there is none with that number and type.
QByteArray resourceData(int number, ResourceType type);

// The decoded picture; a null image when the resource is missing, empty or does not decode.
// Decoded anew on every call: callers that draw often keep the image.
QImage resourceImage(int number, ResourceType type = ResourceType::Png);

// Draws the picture scaled into target. A missing or undecodable resource draws nothing and
// returns false, so a panel paints the rest of its picture regardless.
bool drawResource(QPainter& painter, int number, const QRect& target,
                  ResourceType type = ResourceType::Png);

// Draws the picture at its own size with its top-left corner at (x, y).
bool drawResource(QPainter& painter, int number, int x, int y,
                  ResourceType type = ResourceType::Png);

// Every number of a type that is compiled in, ascending.
QList<int> resourceNumbers(ResourceType type);

} // namespace velk
