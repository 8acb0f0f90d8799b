#include "platform/StandardErrorLog.h"

#include <algorithm>

#ifdef _WIN32
#include <cstdio>
#else
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#endif

namespace tq {

bool StandardErrorLog::Say(std::string_view line) {
    if (!TellDropped()) {
        ++dropped_;
        return false;
    }
    std::string whole(line.substr(0, kLongestLine - 1));
    whole += '\n';
    if (!Write(whole)) {
        ++dropped_;
        return false;
    }
    return true;
}

void StandardErrorLog::Retry() {
    TellDropped();
}

bool StandardErrorLog::TellDropped() {
    if (!rest_.empty() && !Write({}))
        return false;
    if (dropped_ == 0)
        return true;
    const std::string told = std::to_string(dropped_) + (dropped_ == 1 ? " line" : " lines") +
                             " of this log were dropped: standard error was not read\n";
    if (!Write(told))
        return false;
    dropped_ = 0;
    return true;
}

#ifdef _WIN32

bool StandardErrorLog::Write(std::string_view bytes) {
    // The console and files take what they are given.
    std::fwrite(bytes.data(), 1, bytes.size(), stderr);
    std::fflush(stderr);
    return true;
}

#else

bool StandardErrorLog::Write(std::string_view bytes) {
    struct stat kind {};
    const bool socket = fstat(fd_, &kind) == 0 && S_ISSOCK(kind.st_mode);
    // A socket takes what fits without waiting; a pipe or a terminal that can take a byte takes a
    // line up to PIPE_BUF whole; a file always takes it.
    if (!socket && !S_ISREG(kind.st_mode)) {
        pollfd ready{fd_, POLLOUT, 0};
        if (poll(&ready, 1, 0) != 1 || (ready.revents & POLLOUT) == 0)
            return false;
    }
    const auto send = [&](std::string_view out) -> ssize_t {
        ssize_t n;
        do
            n = socket ? ::send(fd_, out.data(), out.size(), MSG_DONTWAIT | MSG_NOSIGNAL)
                       : ::write(fd_, out.data(), out.size());
        while (n < 0 && errno == EINTR);
        return n;
    };
    if (!rest_.empty()) {
        const ssize_t n = send(rest_);
        if (n <= 0)
            return false;
        rest_.erase(0, static_cast<std::size_t>(n));
        if (!rest_.empty())
            return false;
    }
    if (bytes.empty())
        return true;
    const ssize_t n = send(bytes);
    if (n <= 0)
        return false;
    // Only a socket takes part of a line: the rest goes before anything else.
    rest_.assign(bytes.substr(std::min(static_cast<std::size_t>(n), bytes.size())));
    return true;
}

#endif

}  // namespace tq
