#include "ChildProcess.h"

#include <cerrno>
#include <csignal>

#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace velk::test {

ChildProcess SpawnChild(const std::vector<std::string>& arguments, bool pipeInput, bool pipeOutput,
                        const std::string& errorFile, const std::string& outputFile, int keptFd,
                        bool errorToOutput) {
    int in[2] = {-1, -1}, out[2] = {-1, -1};
    if (pipeInput && pipe2(in, O_CLOEXEC) != 0) return {};
    if (pipeOutput && pipe2(out, O_CLOEXEC) != 0) return {};
    std::vector<char*> argv;
    for (const std::string& a : arguments)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    const int parent = getpid();
    const int pid = fork();
    if (pid == 0) {
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != parent) _exit(127);
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
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

} // namespace velk::test
