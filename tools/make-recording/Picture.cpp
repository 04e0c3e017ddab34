#include "Picture.h"

#include "FrameCode.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace velk {
namespace {

struct Yuv {
    uint8_t y, u, v;
};

// BT.601 limited range.
constexpr Yuv kFrontColour{70, 176, 108}; // RGB about (30, 60, 160): blue
constexpr Yuv kRearColour{111, 88, 184};  // RGB about (200, 80, 30): red-orange
constexpr Yuv kWhite{235, 128, 128};
constexpr Yuv kBlack{16, 128, 128};

// 5x7 bitmap glyphs, one byte per row, bit 4 = leftmost pixel.
struct Glyph {
    char c;
    uint8_t rows[7];
};
constexpr Glyph kGlyphs[] = {
    {'0', {0x0E, 0x11, 0x13, 0x15, 0x19, 0x11, 0x0E}},
    {'1', {0x04, 0x0C, 0x04, 0x04, 0x04, 0x04, 0x0E}},
    {'2', {0x0E, 0x11, 0x01, 0x02, 0x04, 0x08, 0x1F}},
    {'3', {0x1F, 0x02, 0x04, 0x02, 0x01, 0x11, 0x0E}},
    {'4', {0x02, 0x06, 0x0A, 0x12, 0x1F, 0x02, 0x02}},
    {'5', {0x1F, 0x10, 0x1E, 0x01, 0x01, 0x11, 0x0E}},
    {'6', {0x06, 0x08, 0x10, 0x1E, 0x11, 0x11, 0x0E}},
    {'7', {0x1F, 0x01, 0x02, 0x04, 0x08, 0x08, 0x08}},
    {'8', {0x0E, 0x11, 0x11, 0x0E, 0x11, 0x11, 0x0E}},
    {'9', {0x0E, 0x11, 0x11, 0x0F, 0x01, 0x02, 0x0C}},
    {':', {0x00, 0x0C, 0x0C, 0x00, 0x0C, 0x0C, 0x00}},
    {'.', {0x00, 0x00, 0x00, 0x00, 0x00, 0x0C, 0x0C}},
    {'A', {0x0E, 0x11, 0x11, 0x1F, 0x11, 0x11, 0x11}},
    {'E', {0x1F, 0x10, 0x10, 0x1E, 0x10, 0x10, 0x1F}},
    {'F', {0x1F, 0x10, 0x10, 0x1E, 0x10, 0x10, 0x10}},
    {'N', {0x11, 0x19, 0x15, 0x13, 0x11, 0x11, 0x11}},
    {'O', {0x0E, 0x11, 0x11, 0x11, 0x11, 0x11, 0x0E}},
    {'R', {0x1E, 0x11, 0x11, 0x1E, 0x14, 0x12, 0x11}},
    {'T', {0x1F, 0x04, 0x04, 0x04, 0x04, 0x04, 0x04}},
};

const Glyph* findGlyph(char c) {
    for (const Glyph& g : kGlyphs)
        if (g.c == c) return &g;
    return nullptr;
}

// Fills the luma rectangle [x0,x1) x [y0,y1), clipped, and the chroma samples it touches.
void fillRect(const YuvPicture& p, int x0, int y0, int x1, int y1, Yuv c) {
    x0 = std::max(x0, 0);
    y0 = std::max(y0, 0);
    x1 = std::min(x1, p.width);
    y1 = std::min(y1, p.height);
    if (x0 >= x1 || y0 >= y1) return;
    for (int y = y0; y < y1; ++y)
        std::memset(p.planes[0] + static_cast<long>(y) * p.strides[0] + x0, c.y, x1 - x0);
    const int cx0 = x0 / 2, cx1 = (x1 + 1) / 2, cy0 = y0 / 2, cy1 = (y1 + 1) / 2;
    for (int y = cy0; y < cy1; ++y) {
        std::memset(p.planes[1] + static_cast<long>(y) * p.strides[1] + cx0, c.u, cx1 - cx0);
        std::memset(p.planes[2] + static_cast<long>(y) * p.strides[2] + cx0, c.v, cx1 - cx0);
    }
}

// Draws `text` with its top-left corner at (x, y), each glyph pixel a scale x scale block.
void drawText(const YuvPicture& p, int x, int y, int scale, const char* text, Yuv c) {
    for (; *text; ++text, x += 6 * scale) {
        const Glyph* g = findGlyph(*text);
        if (!g) continue;
        for (int row = 0; row < 7; ++row)
            for (int col = 0; col < 5; ++col)
                if (g->rows[row] & (0x10 >> col))
                    fillRect(p, x + col * scale, y + row * scale, x + (col + 1) * scale,
                             y + (row + 1) * scale, c);
    }
}

void drawFrameCode(const YuvPicture& p, int index) {
    const int band = frameCodeBandHeight(p.height);
    for (int c = 0; c < kFrameCodeColumns; ++c) {
        bool white;
        if (c == 0 || c == 18)
            white = true;
        else if (c == 1 || c == 19)
            white = false;
        else
            white = (index >> (kFrameCodeBits - 1 - (c - 2))) & 1;
        fillRect(p, c * p.width / kFrameCodeColumns, 0, (c + 1) * p.width / kFrameCodeColumns, band,
                 white ? kWhite : kBlack);
    }
}

uint32_t Hash(uint32_t x) {
    x ^= x >> 16;
    x *= 0x7feb352dU;
    x ^= x >> 15;
    x *= 0x846ca68bU;
    return x ^ (x >> 16);
}

// A coarse texture panning sideways (what motion compensation can follow, like a road scene)
// plus fine grain that differs in every frame (what it cannot), below the code band.
void addDetail(const YuvPicture& p, int band, int index, Camera camera) {
    const uint32_t salt = camera == Camera::Front ? 0x9e3779b9U : 0x85ebca6bU;
    const int pan = index * 3;
    for (int y = band; y < p.height; ++y) {
        uint8_t* row = p.planes[0] + static_cast<long>(y) * p.strides[0];
        const uint32_t rowSeed = Hash(static_cast<uint32_t>(y / 3) ^ salt);
        for (int x = 0; x < p.width; ++x) {
            const uint32_t texture = Hash(rowSeed ^ static_cast<uint32_t>((x + pan) / 3));
            const uint32_t grain = Hash(static_cast<uint32_t>(x * 7919 + y * 104729 + index) ^ salt);
            const int v = row[x] + static_cast<int>(texture % 49) - 24 + static_cast<int>(grain % 9) - 4;
            row[x] = static_cast<uint8_t>(v < 16 ? 16 : v > 235 ? 235 : v);
        }
    }
    for (int plane = 1; plane < 3; ++plane) {
        for (int y = (band + 1) / 2; y < (p.height + 1) / 2; ++y) {
            uint8_t* row = p.planes[plane] + static_cast<long>(y) * p.strides[plane];
            const uint32_t rowSeed = Hash(static_cast<uint32_t>(y / 2 + plane * 7777) ^ salt);
            for (int x = 0; x < (p.width + 1) / 2; ++x) {
                const uint32_t texture = Hash(rowSeed ^ static_cast<uint32_t>((x + pan / 2) / 2));
                const int v = row[x] + static_cast<int>(texture % 17) - 8;
                row[x] = static_cast<uint8_t>(v < 16 ? 16 : v > 240 ? 240 : v);
            }
        }
    }
}

} // namespace

void drawPicture(const YuvPicture& p, Camera camera, int index, int fps, bool detail) {
    const bool flash = isFlashFrame(index, fps);
    const Yuv background = flash ? kWhite : camera == Camera::Front ? kFrontColour : kRearColour;
    const Yuv ink = flash ? kBlack : kWhite;
    const int band = frameCodeBandHeight(p.height);
    fillRect(p, 0, band, p.width, p.height, background);

    if (!flash) {
        // A bar that crosses the picture every two seconds (front) or three (rear): motion.
        const int period = (camera == Camera::Front ? 2 : 3) * fps;
        const int barWidth = std::max(2, p.width / 16);
        const int x = static_cast<int>(static_cast<long>(index % period) * p.width / period);
        const Yuv bar{static_cast<uint8_t>(background.y + 50), background.u, background.v};
        fillRect(p, x, band, x + barWidth, p.height, bar);
        if (detail) addDetail(p, band, index, camera);
    }

    const int margin = std::max(2, p.height / 60);
    const int small = std::max(1, p.height / 54), large = std::max(1, p.height / 30);
    int y = band + margin;
    drawText(p, 2 * margin, y, small, camera == Camera::Front ? "FRONT" : "REAR", ink);
    y += 7 * small + margin;

    char text[32];
    std::snprintf(text, sizeof text, "%06d", index);
    drawText(p, 2 * margin, y, large, text, ink);
    y += 7 * large + margin;

    const long ms = static_cast<long>(index) * 1000 / fps;
    std::snprintf(text, sizeof text, "%02ld:%02ld.%03ld", ms / 60000, ms / 1000 % 60, ms % 1000);
    drawText(p, 2 * margin, y, small, text, ink);

    // Last, so nothing above can spill into the band (chroma rows shared with the band included).
    drawFrameCode(p, index);
}

} // namespace velk
