#pragma once

#include <string>
#include <vector>

namespace velk::test {

struct ChildProcess {
    int pid = -1;    // -1 when it could not be started
    int input = -1;  // our end of its standard input, or -1
    int output = -1; // our end of its standard output, or -1
};

// Starts `arguments` (the program is looked up in PATH). Standard input and output are pipes
// when asked, otherwise /dev/null or `outputFile`; standard error goes to `errorFile` (appended)
// or /dev/null, or with `errorToOutput` the same place as standard output. `keptFd`, if any,
// stays open in the child; every other descriptor of ours is closed on exec. The child dies with
// this process, so a test that fails or times out leaves nothing running.
ChildProcess SpawnChild(const std::vector<std::string>& arguments, bool pipeInput, bool pipeOutput,
                        const std::string& errorFile = {}, const std::string& outputFile = {},
                        int keptFd = -1, bool errorToOutput = false);

// Waits for the child to end; its exit status, or -1 when a signal ended it.
int WaitExit(int pid);

} // namespace velk::test
