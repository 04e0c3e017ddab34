#pragma once
// Writes one recording through libavformat/libavcodec, in the device's stream order: front
// video, rear video, audio, text. Everything runs on the calling thread; libx264 adds its own.

#include "Options.h"

#include <string>

namespace velk {

// Returns 0 on success; otherwise a negative number with `error` set to a readable message.
// A failed run removes the partial output file.
int writeRecording(const Options& options, std::string& error);

} // namespace velk
