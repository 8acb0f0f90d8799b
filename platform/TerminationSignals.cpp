#include "platform/TerminationSignals.h"

#if defined(__unix__) || defined(__APPLE__)
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>

namespace tq {
namespace {

int pipeFds[2] = {-1, -1};

extern "C" void OnTerminationSignal(int) {
    const int saved = errno;
    const char byte = 1;
    // Only async-signal-safe calls here; a full pipe already says enough.
    [[maybe_unused]] const auto written = write(pipeFds[1], &byte, 1);
    errno = saved;
}

}  // namespace

bool TerminationSignals::Install() {
    if (pipeFds[0] >= 0)
        return true;
    if (pipe(pipeFds) != 0)
        return false;
    for (const int fd : pipeFds) {
        fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
        fcntl(fd, F_SETFD, FD_CLOEXEC);
    }
    struct sigaction action {};
    action.sa_handler = OnTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    return sigaction(SIGINT, &action, nullptr) == 0 && sigaction(SIGTERM, &action, nullptr) == 0;
}

int TerminationSignals::ReadFd() {
    return pipeFds[0];
}

void TerminationSignals::Acknowledge() {
    char buffer[64];
    while (read(pipeFds[0], buffer, sizeof buffer) > 0) {
    }
}

void TerminationSignals::IgnoreBrokenPipe() {
    signal(SIGPIPE, SIG_IGN);
}

}  // namespace tq

#else

namespace tq {

bool TerminationSignals::Install() {
    return false;
}

int TerminationSignals::ReadFd() {
    return -1;
}

void TerminationSignals::Acknowledge() {}

void TerminationSignals::IgnoreBrokenPipe() {}

}  // namespace tq

#endif
