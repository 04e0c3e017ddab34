#pragma once
// Which picture a screenshot shows: the frame index make-recording draws into every picture as
// a machine-readable strip, and which camera's colour it has.

#include <QImage>

namespace velk::test {

// The frame code of a picture (frame index), or -1 when the strip is not readable. mirrored,
// when given, says whether the picture is shown mirrored left-right.
int FrameCode(const QImage& image, bool* mirrored = nullptr);

enum class Camera { Unknown, Front, Rear };
// Front pictures are blue, rear ones red-orange; a flash frame is neither.
Camera CameraOf(const QImage& image);

} // namespace velk::test
