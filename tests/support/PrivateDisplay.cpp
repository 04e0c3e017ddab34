#include "PrivateDisplay.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <mutex>

#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace velk::test {

namespace {

// Only a guard against a server that never answers: Xvfb normally reports within 0.1 s.
constexpr int kStartGuardMilliseconds = 20000;

pid_t g_server = -1;

void stopServer() {
    if (g_server <= 0) return;
    kill(g_server, SIGTERM);
    int status = 0;
    while (waitpid(g_server, &status, 0) < 0 && errno == EINTR) {
    }
    g_server = -1;
}

std::string startServer() {
    int ready[2];
    if (pipe2(ready, O_CLOEXEC) != 0) return {};
    const pid_t parent = getpid();
    const pid_t pid = fork();
    if (pid == 0) {
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != parent) _exit(127);
        // Its output must not hold the test's pipes open: the test runner waits for them.
        const int devNull = open("/dev/null", O_RDWR);
        dup2(devNull, 0);
        dup2(devNull, 1);
        dup2(devNull, 2);
        fcntl(ready[1], F_SETFD, 0); // the one descriptor the server writes its number to
        const std::string fd = std::to_string(ready[1]);
        execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "1920x1080x24",
               "-nolisten", "tcp", static_cast<char*>(nullptr));
        _exit(127);
    }
    close(ready[1]);
    if (pid < 0) {
        close(ready[0]);
        return {};
    }
    g_server = pid;
    std::atexit(stopServer);
    // Xvfb writes its display number once it accepts clients.
    std::string number;
    char c;
    pollfd p{ready[0], POLLIN, 0};
    while (poll(&p, 1, kStartGuardMilliseconds) > 0 && read(ready[0], &c, 1) == 1 && c != '\n')
        number += c;
    close(ready[0]);
    if (number.empty()) {
        stopServer();
        return {};
    }
    const std::string display = ":" + number;
    setenv("DISPLAY", display.c_str(), 1);
    return display;
}

} // namespace

std::string UsePrivateDisplay() {
    static std::once_flag once;
    static std::string display;
    std::call_once(once, [] { display = startServer(); });
    return display;
}

} // namespace velk::test
