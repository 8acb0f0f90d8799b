#pragma once
// A meter at the far end of a socket pair, answering from a thread of its own as a USB meter
// answers through the usbtmc driver: at once, late, with garbage, never, with an answer that
// does not end, or by hanging up. A stream socket stands for a byte stream (Line framing), a
// sequenced-packet socket for the driver's one-read-one-answer (Message framing).

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/UsbtmcDevice.h"

namespace tq::testing {

class FakeUsbtmc {
public:
    enum class Mode { Answer, Garble, Hang, Late, HangUp, Flood };

    explicit FakeUsbtmc(UsbtmcDevice::Framing framing) : framing_(framing) {
        int ends[2] = {-1, -1};
        const int type = framing == UsbtmcDevice::Framing::Line ? SOCK_STREAM : SOCK_SEQPACKET;
        if (::socketpair(AF_UNIX, type | SOCK_CLOEXEC, 0, ends) == 0) {
            deviceEnd_ = ends[0];
            meterEnd_ = ends[1];
            thread_ = std::thread([this] { Serve(); });
        }
    }
    ~FakeUsbtmc() {
        stop_ = true;
        if (thread_.joinable())
            thread_.join();
        for (const int fd : {deviceEnd_, meterEnd_})
            if (fd >= 0)
                ::close(fd);
    }
    FakeUsbtmc(const FakeUsbtmc&) = delete;
    FakeUsbtmc& operator=(const FakeUsbtmc&) = delete;

    // The end for the device under test, which closes it; -1 when the pair could not be made.
    int TakeDeviceEnd() {
        const int fd = deviceEnd_;
        deviceEnd_ = -1;
        return fd;
    }

    // How the queries after the first `good` ones are answered.
    void Set(Mode mode, int good = 0, int lateMilliseconds = 600) {
        std::lock_guard lock(mutex_);
        mode_ = mode;
        good_ = good;
        late_ = std::chrono::milliseconds(lateMilliseconds);
    }
    void SetReading(const std::string& reading) {
        std::lock_guard lock(mutex_);
        reading_ = reading;
    }
    // Answers without their line end (a device whose answers end with the message alone).
    void SetLineEnd(const std::string& end) {
        std::lock_guard lock(mutex_);
        lineEnd_ = end;
    }
    // Empty: *IDN? gets no answer.
    void SetIdentity(const std::string& identity) {
        std::lock_guard lock(mutex_);
        identity_ = identity;
    }
    std::vector<std::string> Lines() const {
        std::lock_guard lock(mutex_);
        return lines_;
    }
    int Queries() const {
        std::lock_guard lock(mutex_);
        return queries_;
    }

private:
    using Clock = std::chrono::steady_clock;

    void Serve() {
        std::string buffer;
        while (!stop_ && meterEnd_ >= 0) {
            SendDue();
            pollfd fd{meterEnd_, POLLIN, 0};
            if (::poll(&fd, 1, 10) <= 0)
                continue;
            char chunk[4096];
            const ssize_t n = ::recv(meterEnd_, chunk, sizeof chunk, 0);
            if (n <= 0)
                return;
            buffer.append(chunk, static_cast<std::size_t>(n));
            if (framing_ == UsbtmcDevice::Framing::Message && buffer.back() != '\n')
                buffer += '\n';  // each packet is one command
            for (std::size_t end; (end = buffer.find('\n')) != std::string::npos;) {
                const std::string line = buffer.substr(0, end);
                buffer.erase(0, end + 1);
                if (!Take(line))
                    return;
            }
        }
    }

    // False once the meter has hung up.
    bool Take(const std::string& line) {
        std::lock_guard lock(mutex_);
        lines_.push_back(line);
        if (line == "*IDN?") {
            if (!identity_.empty())
                Queue(identity_ + lineEnd_, Clock::now());
            return true;
        }
        if (line.empty() || line.back() != '?')
            return true;
        ++queries_;
        const Mode mode = queries_ <= good_ ? Mode::Answer : mode_;
        switch (mode) {
            case Mode::Answer:
                Queue(reading_ + lineEnd_, Clock::now());
                break;
            case Mode::Garble:
                Queue("\x01\xFFgarbage" + lineEnd_, Clock::now());
                break;
            case Mode::Hang:
                break;
            case Mode::Late:
                Queue(reading_ + lineEnd_, Clock::now() + late_);
                break;
            case Mode::HangUp:
                ::shutdown(meterEnd_, SHUT_RDWR);
                return false;
            case Mode::Flood:
                Queue(std::string(UsbtmcDevice::kLongestAnswer + 100, '7'), Clock::now());
                break;
        }
        return true;
    }

    // A meter answers in order: an answer waits for the late one before it.
    void Queue(std::string answer, Clock::time_point due) {
        if (!due_.empty() && due_.back().first > due)
            due = due_.back().first;
        due_.emplace_back(due, std::move(answer));
    }

    void SendDue() {
        std::lock_guard lock(mutex_);
        while (!due_.empty() && due_.front().first <= Clock::now()) {
            const std::string& answer = due_.front().second;
            [[maybe_unused]] const auto sent =
                ::send(meterEnd_, answer.data(), answer.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
            due_.pop_front();
        }
    }

    const UsbtmcDevice::Framing framing_;
    int deviceEnd_ = -1;
    int meterEnd_ = -1;
    std::atomic<bool> stop_{false};
    mutable std::mutex mutex_;
    Mode mode_ = Mode::Answer;
    int good_ = 0;
    std::chrono::milliseconds late_{600};
    std::string reading_ = "+1.25000E+00";
    std::string lineEnd_ = "\n";
    std::string identity_ = "FAKE,USBTMC,1,0";
    std::vector<std::string> lines_;
    int queries_ = 0;
    std::deque<std::pair<Clock::time_point, std::string>> due_;
    std::thread thread_;
};

}  // namespace tq::testing
