#include "platform/UsbtmcDevice.h"

#if defined(__linux__)

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>

#if __has_include(<linux/usb/tmc.h>)
#include <linux/usb/tmc.h>
#endif

namespace tq {
namespace {

using Clock = std::chrono::steady_clock;

std::string ErrnoText(int error) {
    return std::generic_category().message(error);
}

std::string Within(int milliseconds) {
    return " within " + std::to_string(milliseconds) + " ms";
}

// The driver's own limit on its timeout.
constexpr int kShortestDriverTimeout = 100;

std::string OpenError(const std::string& path, int error) {
    switch (error) {
        case ENOENT:
        case ENODEV:
        case ENXIO:
            return "there is no meter at " + path +
                   ": check that it is plugged in and switched on, and that ls /dev/usbtmc* "
                   "lists it";
        case EACCES:
        case EPERM:
            return "this user may not open " + path +
                   ": add the user to the group that owns it (ls -l " + path +
                   " shows it) or install a udev rule that gives the meter to that group, then "
                   "log in again and plug the meter in again";
        case EBUSY:
            return path + " is in use by another program: close it there";
        default:
            return path + " could not be opened: " + ErrnoText(error);
    }
}

}  // namespace

struct UsbtmcDevice::Shared {
    struct Job {
        uint64_t id = 0;
        std::vector<std::string> commands;
        int timeout = 0;
    };

    // Shared with the owner, under the mutex.
    std::mutex mutex;
    std::condition_variable wake;
    std::deque<Job> jobs;
    bool closed = false;
    ReplyCallback reply;
    std::atomic<uint64_t> begun{0};

    // The worker's alone.
    int fd = -1;
    int wakeRead = -1;   // readable once Close() was called: ends a wait in poll()
    int wakeWrite = -1;  // the owner's end
    Framing framing = Framing::Message;
    bool socket = false;  // written with send(), which cannot raise SIGPIPE
    std::string name;
    std::string buffer;  // Line: what came after the last answer
    std::vector<char> message;
    int staleAnswers = 0;  // answers still owed to exchanges given up on
    std::string broken;    // why the device cannot be used any more
    int driverTimeout = 0;

    ~Shared() {
        for (const int f : {fd, wakeRead, wakeWrite})
            if (f >= 0)
                ::close(f);
    }

    static void Work(const std::shared_ptr<Shared>& self);
    UsbtmcReply Exchange(const Job& job);
    // Nothing when the line went out, else why not.
    std::optional<UsbtmcReply> Write(const std::string& line, Clock::time_point deadline,
                                     int timeout);
    UsbtmcReply ReadLine(Clock::time_point deadline, int timeout);
    UsbtmcReply ReadMessage(int timeout);
    enum class Wait { Ready, TimedOut, Closing, Failed };
    // Until the descriptor is ready for `events`, the deadline passes or Close() is called;
    // Failed leaves errno set.
    Wait Until(short events, Clock::time_point deadline);
    UsbtmcReply NoAnswer(const std::string& what);
    UsbtmcReply Break(const std::string& why);
    UsbtmcReply Failure(int error);
    void SetDriverTimeout(int timeout);
    bool ClearDevice();
};

void UsbtmcDevice::Shared::Work(const std::shared_ptr<Shared>& self) {
    for (;;) {
        Job job;
        {
            std::unique_lock lock(self->mutex);
            self->wake.wait(lock, [&] { return self->closed || !self->jobs.empty(); });
            if (self->closed)
                return;
            job = std::move(self->jobs.front());
            self->jobs.pop_front();
            self->begun = job.id;
        }
        const UsbtmcReply reply = self->Exchange(job);
        // Under the lock, so that Close() cannot return while a reply is being handed on.
        std::lock_guard lock(self->mutex);
        if (self->closed)
            return;
        if (self->reply)
            self->reply(job.id, reply);
    }
}

UsbtmcReply UsbtmcDevice::Shared::Exchange(const Job& job) {
    if (!broken.empty())
        return {UsbtmcReply::Outcome::Broken, {}, broken};
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(job.timeout);
    SetDriverTimeout(job.timeout);
    for (const std::string& command : job.commands) {
        if (auto failed = Write(command + "\n", deadline, job.timeout))
            return *failed;
    }
    for (;;) {
        UsbtmcReply reply =
            framing == Framing::Line ? ReadLine(deadline, job.timeout) : ReadMessage(job.timeout);
        // A meter answers in order: the late answers of exchanges given up on come first.
        if (reply.outcome == UsbtmcReply::Outcome::Answered && staleAnswers > 0) {
            --staleAnswers;
            continue;
        }
        return reply;
    }
}

std::optional<UsbtmcReply> UsbtmcDevice::Shared::Write(const std::string& line,
                                                       Clock::time_point deadline, int timeout) {
    std::size_t sent = 0;
    while (sent < line.size()) {
        const ssize_t n = socket ? ::send(fd, line.data() + sent, line.size() - sent, MSG_NOSIGNAL)
                                 : ::write(fd, line.data() + sent, line.size() - sent);
        if (n > 0) {
            sent += static_cast<std::size_t>(n);
            continue;
        }
        const int error = n < 0 ? errno : EIO;
        if (error == EINTR)
            continue;
        if (error == ETIMEDOUT)
            return NoAnswer("the meter took no command" + Within(timeout));
        if (error != EAGAIN && error != EWOULDBLOCK)
            return Failure(error);
        switch (Until(POLLOUT, deadline)) {
            case Wait::Ready:
                break;
            case Wait::TimedOut:
                return NoAnswer("the meter took no command" + Within(timeout));
            case Wait::Closing:
                return Break("closed");
            case Wait::Failed:
                return Failure(errno);
        }
    }
    return std::nullopt;
}

UsbtmcDevice::Shared::Wait UsbtmcDevice::Shared::Until(short events, Clock::time_point deadline) {
    for (;;) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0)
            return Wait::TimedOut;
        pollfd fds[2] = {{fd, events, 0}, {wakeRead, POLLIN, 0}};
        const int ready = ::poll(fds, 2, static_cast<int>(left.count()));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready < 0)
            return Wait::Failed;
        if (ready == 0)
            return Wait::TimedOut;
        return fds[1].revents != 0 ? Wait::Closing : Wait::Ready;
    }
}

UsbtmcReply UsbtmcDevice::Shared::ReadLine(Clock::time_point deadline, int timeout) {
    for (;;) {
        const std::size_t end = buffer.find('\n');
        if (end != std::string::npos) {
            std::string answer = buffer.substr(0, end);
            buffer.erase(0, end + 1);
            if (!answer.empty() && answer.back() == '\r')
                answer.pop_back();
            return {UsbtmcReply::Outcome::Answered, std::move(answer), {}};
        }
        if (buffer.size() > kLongestAnswer)
            return Break("the meter sent more than " + std::to_string(kLongestAnswer / 1024) +
                         " KiB without ending its answer");
        switch (Until(POLLIN, deadline)) {
            case Wait::Ready:
                break;
            case Wait::TimedOut:
                ++staleAnswers;
                return NoAnswer("no answer from the meter" + Within(timeout));
            case Wait::Closing:
                return Break("closed");
            case Wait::Failed:
                return Failure(errno);
        }
        char chunk[4096];
        const ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n > 0)
            buffer.append(chunk, static_cast<std::size_t>(n));
        else if (n == 0)
            return Break("the meter closed the connection");
        else if (errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK)
            return Failure(errno);
    }
}

UsbtmcReply UsbtmcDevice::Shared::ReadMessage(int timeout) {
    // One byte more than the longest answer tells a longer one from one that fits exactly.
    message.resize(kLongestAnswer + 1);
    for (;;) {
        const ssize_t n = ::read(fd, message.data(), message.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno == ETIMEDOUT) {
            // The device clear throws away an answer that would come late; where it does not
            // work, the answer is skipped when it comes.
            if (!ClearDevice())
                ++staleAnswers;
            return NoAnswer("no answer from the meter" + Within(timeout));
        }
        if (n < 0)
            return Failure(errno);
        if (n == 0)
            return Break("the meter closed the connection");
        if (static_cast<std::size_t>(n) > kLongestAnswer) {
            ClearDevice();
            return Break("the meter's answer is longer than " +
                         std::to_string(kLongestAnswer / 1024) +
                         " KiB: check the reading command, then open the meter again");
        }
        std::string answer(message.data(), static_cast<std::size_t>(n));
        // An answer is one line: what follows its line end is not part of it.
        const std::size_t end = answer.find('\n');
        if (end != std::string::npos)
            answer.resize(end);
        if (!answer.empty() && answer.back() == '\r')
            answer.pop_back();
        return {UsbtmcReply::Outcome::Answered, std::move(answer), {}};
    }
}

UsbtmcReply UsbtmcDevice::Shared::NoAnswer(const std::string& what) {
    return {UsbtmcReply::Outcome::NoAnswer, {}, what};
}

UsbtmcReply UsbtmcDevice::Shared::Break(const std::string& why) {
    broken = why;
    return {UsbtmcReply::Outcome::Broken, {}, why};
}

UsbtmcReply UsbtmcDevice::Shared::Failure(int error) {
    switch (error) {
        case ENODEV:
        case ENXIO:
        case ESHUTDOWN:
        case EPIPE:
        case ECONNRESET:
            return Break("the meter at " + name + " is gone (" + ErrnoText(error) +
                         "): plug it in or switch it on, then open it again");
        default:
            return Break("the exchange with the meter at " + name + " failed: " + ErrnoText(error));
    }
}

void UsbtmcDevice::Shared::SetDriverTimeout(int timeout) {
#if defined(USBTMC_IOCTL_SET_TIMEOUT)
    if (framing != Framing::Message || timeout == driverTimeout)
        return;
    driverTimeout = timeout;
    // Older drivers keep their fixed 5 s; the caller's own timer bounds the wait then.
    unsigned int milliseconds =
        static_cast<unsigned int>(std::max(timeout, kShortestDriverTimeout));
    ::ioctl(fd, USBTMC_IOCTL_SET_TIMEOUT, &milliseconds);
#else
    (void)timeout;
#endif
}

bool UsbtmcDevice::Shared::ClearDevice() {
#if defined(USBTMC_IOCTL_CLEAR)
    return framing == Framing::Message && ::ioctl(fd, USBTMC_IOCTL_CLEAR) == 0;
#else
    return false;
#endif
}

UsbtmcDevice::UsbtmcDevice(ReplyCallback reply) : reply_(std::move(reply)) {}

UsbtmcDevice::~UsbtmcDevice() {
    Close();
}

bool UsbtmcDevice::Supported() {
    return true;
}

bool UsbtmcDevice::Open(const std::string& path, std::string& error) {
    const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        error = OpenError(path, errno);
        return false;
    }
    struct stat status {};
    if (::fstat(fd, &status) != 0 || !S_ISCHR(status.st_mode)) {
        ::close(fd);
        error = path +
                " is not a device file: a USB meter appears as /dev/usbtmcN once the kernel's "
                "usbtmc driver has taken it";
        return false;
    }
    return Start(fd, Framing::Message, path, error);
}

bool UsbtmcDevice::Adopt(int fd, Framing framing, const std::string& name, std::string& error) {
    if (framing == Framing::Line)
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    return Start(fd, framing, name, error);
}

bool UsbtmcDevice::Start(int fd, Framing framing, const std::string& name, std::string& error) {
    Close();
    auto shared = std::make_shared<Shared>();
    shared->fd = fd;
    shared->framing = framing;
    shared->name = name;
    shared->reply = reply_;
    struct stat status {};
    shared->socket = ::fstat(fd, &status) == 0 && S_ISSOCK(status.st_mode);
    int wake[2];
    if (::pipe2(wake, O_CLOEXEC | O_NONBLOCK) != 0) {
        error = "the meter's worker could not be prepared: " + ErrnoText(errno);
        return false;  // the descriptor goes with `shared`
    }
    shared->wakeRead = wake[0];
    shared->wakeWrite = wake[1];
    try {
        // The worker holds the state it needs, so that it may outlive this object inside a read
        // that only the driver's timeout ends.
        std::thread(Shared::Work, shared).detach();
    } catch (const std::system_error& e) {
        error = std::string("the meter's worker thread could not be started: ") + e.what();
        return false;
    }
    shared_ = std::move(shared);
    return true;
}

void UsbtmcDevice::Close() {
    if (!shared_)
        return;
    {
        std::lock_guard lock(shared_->mutex);
        shared_->closed = true;
        shared_->jobs.clear();
        shared_->reply = nullptr;
    }
    shared_->wake.notify_all();
    const char byte = 1;
    [[maybe_unused]] const auto written = ::write(shared_->wakeWrite, &byte, 1);
    shared_.reset();
}

uint64_t UsbtmcDevice::Query(std::vector<std::string> commands, int timeoutMilliseconds) {
    if (!shared_)
        return 0;
    const uint64_t id = nextExchange_++;
    {
        std::lock_guard lock(shared_->mutex);
        shared_->jobs.push_back({id, std::move(commands), std::max(1, timeoutMilliseconds)});
    }
    shared_->wake.notify_all();
    return id;
}

uint64_t UsbtmcDevice::Begun() const {
    return shared_ ? shared_->begun.load() : 0;
}

}  // namespace tq

#else  // no USBTMC device files here

namespace tq {

struct UsbtmcDevice::Shared {};

UsbtmcDevice::UsbtmcDevice(ReplyCallback reply) : reply_(std::move(reply)) {}

UsbtmcDevice::~UsbtmcDevice() = default;

bool UsbtmcDevice::Supported() {
    return false;
}

bool UsbtmcDevice::Open(const std::string&, std::string& error) {
    error =
        "USBTMC device files (/dev/usbtmcN) exist on Linux only: use the meter's LAN address, "
        "TCPIP::host::port::SOCKET";
    return false;
}

bool UsbtmcDevice::Adopt(int, Framing, const std::string& name, std::string& error) {
    return Open(name, error);
}

bool UsbtmcDevice::Start(int, Framing, const std::string& name, std::string& error) {
    return Open(name, error);
}

void UsbtmcDevice::Close() {}

uint64_t UsbtmcDevice::Query(std::vector<std::string>, int) {
    return 0;
}

uint64_t UsbtmcDevice::Begun() const {
    return 0;
}

}  // namespace tq

#endif
