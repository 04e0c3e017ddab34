#include "ChildProcess.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>

#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace velk::test {

namespace {

std::string g_scratch;

void removeScratch() {
    if (g_scratch.empty()) return;
    std::error_code ignored;
    std::filesystem::remove_all(g_scratch, ignored);
}

// Reads fd to its end and closes it.
std::string readToEnd(int fd) {
    std::string out;
    char chunk[65536];
    ssize_t n;
    while ((n = read(fd, chunk, sizeof chunk)) > 0 || (n < 0 && errno == EINTR))
        if (n > 0) out.append(chunk, size_t(n));
    close(fd);
    return out;
}

} // namespace

ChildProcess SpawnChild(const std::vector<std::string>& arguments, bool pipeInput, bool pipeOutput,
                        const std::string& errorFile, const std::string& outputFile, int keptFd,
                        bool errorToOutput) {
    static std::once_flag ignorePipe;
    std::call_once(ignorePipe, [] { std::signal(SIGPIPE, SIG_IGN); });
    int in[2] = {-1, -1}, out[2] = {-1, -1};
    if (pipeInput && pipe2(in, O_CLOEXEC) != 0) return {};
    if (pipeOutput && pipe2(out, O_CLOEXEC) != 0) {
        if (pipeInput) {
            close(in[0]);
            close(in[1]);
        }
        return {};
    }
    std::vector<char*> argv;
    for (const std::string& a : arguments)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    const int parent = getpid();
    const int pid = fork();
    if (pid == 0) {
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != parent) _exit(127);
        // The runner's ignored SIGPIPE would be inherited through exec.
        std::signal(SIGPIPE, SIG_DFL);
        const int devNull = open("/dev/null", O_RDWR);
        dup2(pipeInput ? in[0] : devNull, 0);
        const int outFile =
            outputFile.empty() ? -1 : open(outputFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(pipeOutput ? out[1] : outFile >= 0 ? outFile : devNull, 1);
        const int err = errorFile.empty()
                            ? devNull
                            : open(errorFile.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        dup2(errorToOutput ? 1 : err >= 0 ? err : devNull, 2);
        if (keptFd >= 0) fcntl(keptFd, F_SETFD, 0);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    if (pid < 0) {
        for (const int fd : {in[0], in[1], out[0], out[1]})
            if (fd >= 0) close(fd);
        return {};
    }
    ChildProcess child;
    child.pid = pid;
    if (pipeInput) {
        close(in[0]);
        child.input = in[1];
    }
    if (pipeOutput) {
        close(out[1]);
        child.output = out[0];
    }
    return child;
}

int WaitExit(int pid) {
    int status = 0;
    int done;
    while ((done = waitpid(pid, &status, 0)) < 0 && errno == EINTR) {
    }
    return done == pid && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

ProgramRun RunToEnd(const std::vector<std::string>& arguments) {
    // Standard error goes to a file of its own: read after the end, it can never fill a pipe
    // while we wait on standard output.
    static std::atomic<int> counter{0};
    const std::string errorFile = ScratchFolder() + "/run-" + std::to_string(++counter) + ".stderr";
    ProgramRun run;
    const ChildProcess child = SpawnChild(arguments, false, true, errorFile);
    if (child.pid < 0) return run;
    run.output = readToEnd(child.output);
    run.status = WaitExit(child.pid);
    {
        std::ifstream errors(errorFile, std::ios::binary);
        run.errors.assign(std::istreambuf_iterator<char>(errors), {});
    }
    std::remove(errorFile.c_str());
    return run;
}

int RunProgram(const std::vector<std::string>& arguments) {
    const ChildProcess child = SpawnChild(arguments, false, false);
    return child.pid < 0 ? -1 : WaitExit(child.pid);
}

std::string ProgramOutput(const std::vector<std::string>& arguments) {
    const ChildProcess child = SpawnChild(arguments, false, true);
    if (child.pid < 0) return {};
    std::string out = readToEnd(child.output);
    WaitExit(child.pid);
    return out;
}

std::string ScratchFolder() {
    static std::once_flag once;
    std::call_once(once, [] {
        char pattern[] = "/tmp/velk-test-XXXXXX";
        if (mkdtemp(pattern)) g_scratch = pattern;
        std::atexit(removeScratch);
    });
    return g_scratch;
}

} // namespace velk::test
