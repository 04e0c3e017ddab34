#pragma once
// Test support for the engine: recordings made by make-recording (cached per option set in the
// build tree), a recording message sink installed as the program's poster, and helpers that
// start and stop playbacks the way the panels do.

#include "AppGlobals.h"
#include "Engine.h"
#include "RecordingPoster.h"

#include <chrono>
#include <string>
#include <vector>

namespace velk::test {

// Receiver handles the tests install in AppGlobals.
inline constexpr WindowHandle kMainWindow = 1;
inline constexpr WindowHandle kVehiclePanel = 2;
inline constexpr WindowHandle kMapPanel = 3;
inline constexpr WindowHandle kControlPanel = 4;

// Path of a recording made with these make-recording options (besides --out); made once per
// option set and kept in the build tree. ext is "mp4" or "avi".
std::string Recording(const std::vector<std::string>& options, const std::string& ext = "mp4");
// The "KEY<TAB>LINE" table make-recording prints for these options.
std::vector<std::pair<int, std::string>>
RecordingTelemetry(const std::vector<std::string>& options);

RecordingPoster& Poster();
// Installs the poster, the receiver handles and starts SDL once per process.
void SetUpEngineEnvironment();
// Starts a playback of path with the control panel as owner; clears the log first.
void StartPlayback(const std::string& path);
// Stops the running playback the way a panel does and waits for engineRunning 0.
bool StopPlayback(std::chrono::milliseconds timeout = std::chrono::seconds(20));
bool WaitEngineIdle(std::chrono::milliseconds timeout = std::chrono::seconds(20));
// Messages of one id in the log.
std::vector<RecordedMessage> MessagesWithId(std::uint32_t id);
// Number of threads of this process.
int ThreadCount();

} // namespace velk::test
