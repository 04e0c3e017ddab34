#include "PrivateDisplay.h"

#include "ChildProcess.h"

#include <csignal>
#include <cstdlib>
#include <mutex>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace velk::test {

namespace {

// Only a guard against a server that never answers: Xvfb normally reports within 0.1 s.
constexpr int kStartGuardMilliseconds = 20000;

int g_server = -1;

void stopServer() {
    if (g_server <= 0) return;
    kill(g_server, SIGTERM);
    WaitExit(g_server);
    g_server = -1;
}

std::string startServer() {
    int ready[2];
    if (pipe2(ready, O_CLOEXEC) != 0) return {};
    // The server writes its display number to `ready` once it accepts clients.
    const ChildProcess server = SpawnChild({"Xvfb", "-displayfd", std::to_string(ready[1]),
                                            "-screen", "0", "1920x1080x24", "-nolisten", "tcp"},
                                           false, false, {}, {}, ready[1]);
    close(ready[1]);
    if (server.pid < 0) {
        close(ready[0]);
        return {};
    }
    g_server = server.pid;
    std::atexit(stopServer);
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
