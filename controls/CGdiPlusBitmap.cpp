#include "CGdiPlusBitmap.h"

bool CGdiPlusBitmapResource::Load(int number, Velk::ResourceType type) {
    m_image = Velk::resourceImage(number, type);
    return !m_image.isNull();
}
