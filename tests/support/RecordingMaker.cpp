#include "RecordingMaker.h"

#include <cstdio>

namespace velk::test {

const std::string& MakeRecordingProgram() {
    static const std::string program = VELK_MAKE_RECORDING;
    return program;
}

ProgramRun RunMakeRecording(const std::vector<std::string>& arguments) {
    std::vector<std::string> all{MakeRecordingProgram()};
    all.insert(all.end(), arguments.begin(), arguments.end());
    return RunToEnd(all);
}

bool MakeRecording(const std::string& path, const std::vector<std::string>& options) {
    std::vector<std::string> arguments{"--out", path};
    arguments.insert(arguments.end(), options.begin(), options.end());
    const ProgramRun run = RunMakeRecording(arguments);
    if (run.status != 0)
        std::fprintf(stderr, "make-recording failed (%d) for %s: %s\n", run.status, path.c_str(),
                     run.errors.c_str());
    return run.status == 0;
}

} // namespace velk::test
