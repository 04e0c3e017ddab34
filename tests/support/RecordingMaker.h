#pragma once
// make-recording, the tool that makes every test recording, run to its end. Qt-free, for the
// engine tests too.

#include "ChildProcess.h"

#include <string>
#include <vector>

namespace velk::test {

// The built program.
const std::string& MakeRecordingProgram();

// Runs make-recording with these arguments: its exit status, standard output (the table of
// --print-telemetry) and standard error (its messages).
ProgramRun RunMakeRecording(const std::vector<std::string>& arguments);

// Makes a recording at path with make-recording's options (besides --out); false on failure,
// with the tool's message on standard error.
bool MakeRecording(const std::string& path, const std::vector<std::string>& options);

} // namespace velk::test
