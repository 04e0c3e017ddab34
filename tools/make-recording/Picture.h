#pragma once
// Draws the pictures of make-recording straight into planar YUV 4:2:0 buffers: a flat camera
// colour, a moving bar, the camera's mark, the frame number and time in large bitmap digits,
// the frame code strip (FrameCode.h) and, at every whole second, a white flash.

#include <cstdint>

namespace velk {

enum class Camera { Front, Rear };

struct YuvPicture {
    uint8_t* planes[3]; // Y, U, V; U and V at half width and half height (rounded up)
    int strides[3];
    int width, height;
};

// Draws frame `index` of a camera running at `fps` pictures per second. A frame whose time is a
// whole second (index % fps == 0) is flat white apart from its digits and the strip.
// With detail, the background carries a textured scene that pans and changes with every frame.
void drawPicture(const YuvPicture& pic, Camera camera, int index, int fps, bool detail = false);

// Whether frame `index` is a flash frame.
inline bool isFlashFrame(int index, int fps) {
    return index % fps == 0;
}

} // namespace velk
