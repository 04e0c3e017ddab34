#pragma once
// The command line of make-recording.

#include <cstdint>
#include <string>

namespace velk {

struct Options {
    std::string out;
    bool avi = false; // chosen by the extension of `out`
    double duration = 10;
    int fps = 30;
    double gop = 1;
    int frontWidth = 1920, frontHeight = 1080;
    int rearWidth = 1280, rearHeight = 720;
    bool front = true, rear = true, audio = true, telemetry = true;
    int audioRate = 48000, audioChannels = 2;
    int frontKbps = 0, rearKbps = 0; // 0: scaled from the picture size
    int deviceCode = 144;            // VELK-T
    bool mph = false;
    uint32_t seed = 1;
    std::string preset = "ultrafast";
    // Camera-like detail (a panning textured scene with sensor grain) so that the pictures cost
    // the encoder and the decoder what a real road scene does; the bit rates become targets.
    bool detail = false;
    std::string telemetryFile;
    bool printTelemetry = false;
};

// Fills `options` from the command line. Returns 0 to go on, 1 when --help was printed (exit 0),
// -1 after printing a message for a bad command line (exit non-zero).
int parseOptions(int argc, char** argv, Options& options);

} // namespace velk
