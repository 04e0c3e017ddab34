#pragma once
// Turns the engine's playback figures into "figure <name> <value>" lines. Only what the engine
// counted is reported; a value that does not exist (no picture, no seek) is written "none".

#include "Engine.h"

#include <string>
#include <vector>

namespace velk {

std::vector<std::string> FigureLines(const PlaybackFigures& figures);

} // namespace velk
