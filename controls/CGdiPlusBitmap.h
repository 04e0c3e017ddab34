#pragma once

#include "Resources.h"

#include <QImage>

// A decoded picture, absent (null) when loading failed.
class CGdiPlusBitmap {
public:
    CGdiPlusBitmap() = default;
    explicit CGdiPlusBitmap(QImage image) : m_image(std::move(image)) {}

    bool isNull() const { return m_image.isNull(); }
    QSize size() const { return m_image.size(); }
    const QImage& image() const { return m_image; }
    // Releases the picture.
    void Empty() { m_image = QImage(); }

protected:
    QImage m_image;
};

// A picture decoded from the program's compiled-in resources.
class CGdiPlusBitmapResource : public CGdiPlusBitmap {
public:
    CGdiPlusBitmapResource() = default;
    CGdiPlusBitmapResource(int number, velk::ResourceType type) { Load(number, type); }

    // Releases any picture held, then decodes resource number of the given type. Returns false
    // and stays empty when the resource is missing, empty or not decodable.
    bool Load(int number, velk::ResourceType type = velk::ResourceType::Png);
};
