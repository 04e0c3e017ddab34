#pragma once
// Frame code strip: a machine-readable frame index drawn into every picture by make-recording,
// made to survive H.264, scaling down (to 360x202 and below) and horizontal mirroring.
//
// Layout (exact; writers and readers both rely on it):
//   - The band is the top of the picture, rows y = 0 .. height/12 - 1 (integer division).
//   - The width is split into 20 equal columns: column c spans x = c*width/20 .. (c+1)*width/20 - 1
//     (integer division).
//   - Column 0 = white, column 1 = black; columns 2..17 = the 16 bits of the frame index, column 2
//     the most significant bit, white for 1 and black for 0; column 18 = white, column 19 = black.
//   - White is Y = 235, black is Y = 16, and U = V = 128 throughout the band. Nothing else is drawn
//     into the band.
// A mirrored picture shows black, white at its left edge (columns 0/1) and black, white at
// columns 18/19; a reader tells the orientation from those four columns.

#include <cstdint>

namespace velk {

inline constexpr int kFrameCodeColumns = 20;
inline constexpr int kFrameCodeBits = 16;
inline constexpr uint8_t kFrameCodeWhite = 235;
inline constexpr uint8_t kFrameCodeBlack = 16;

inline int frameCodeBandHeight(int height) {
    return height / 12;
}

// Decodes the strip from a luma plane (8 bits per sample, rows `stride` bytes apart). Returns the
// frame index (0..65535) or -1 when the four marker columns match neither orientation. When
// `mirrored` is given it is set to whether the picture was mirrored left-right.
inline int decodeFrameCode(const uint8_t* luma, int stride, int width, int height,
                           bool* mirrored = nullptr) {
    const int band = frameCodeBandHeight(height);
    if (!luma || width < kFrameCodeColumns * 2 || band < 2) return -1;
    // The middle of each column and of the band: away from edges that coding and scaling blur.
    const int y0 = band / 4, y1 = band - band / 4;
    bool level[kFrameCodeColumns];
    for (int c = 0; c < kFrameCodeColumns; ++c) {
        const int x0 = c * width / kFrameCodeColumns, x1 = (c + 1) * width / kFrameCodeColumns;
        const int inset = (x1 - x0) / 4;
        long sum = 0, count = 0;
        for (int y = y0; y < y1; ++y)
            for (int x = x0 + inset; x < x1 - inset; ++x, ++count)
                sum += luma[static_cast<long>(y) * stride + x];
        if (count == 0) return -1;
        level[c] = sum / count >= (kFrameCodeWhite + kFrameCodeBlack) / 2;
    }
    bool flip;
    if (level[0] && !level[1] && level[18] && !level[19])
        flip = false;
    else if (!level[0] && level[1] && !level[18] && level[19])
        flip = true;
    else
        return -1;
    int index = 0;
    for (int bit = 0; bit < kFrameCodeBits; ++bit) {
        const int c = 2 + bit;
        index = (index << 1) | (level[flip ? kFrameCodeColumns - 1 - c : c] ? 1 : 0);
    }
    if (mirrored) *mirrored = flip;
    return index;
}

} // namespace velk
