#include "CGdiPlusBitmap.h"

bool CGdiPlusBitmapResource::Load(int number, velk::ResourceType type) {
    m_image = velk::resourceImage(number, type);
    return !m_image.isNull();
}
