#pragma once
// Child processes of a test: started so that they die with it, run to their end, and a scratch
// folder for the files they leave. Qt-free, for the engine tests too.

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
// this process, so a test that fails or times out leaves nothing running. From the first call
// on this process ignores SIGPIPE: a child that died must fail a test, not kill the runner.
ChildProcess SpawnChild(const std::vector<std::string>& arguments, bool pipeInput, bool pipeOutput,
                        const std::string& errorFile = {}, const std::string& outputFile = {},
                        int keptFd = -1, bool errorToOutput = false);

// Waits for the child to end; its exit status, or -1 when a signal ended it.
int WaitExit(int pid);

// A program run to its end.
struct ProgramRun {
    int status = -1;    // exit status; -1 when it could not start or a signal ended it
    std::string output; // standard output
    std::string errors; // standard error
};
ProgramRun RunToEnd(const std::vector<std::string>& arguments);

// Runs a program to its end (output to /dev/null); its exit status, or -1.
int RunProgram(const std::vector<std::string>& arguments);
// Runs a program and returns its standard output.
std::string ProgramOutput(const std::vector<std::string>& arguments);

// A temporary folder of this test process, removed at exit.
std::string ScratchFolder();

} // namespace velk::test
