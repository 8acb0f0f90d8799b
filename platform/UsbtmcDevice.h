#pragma once
// A USB meter through the Linux kernel's USBTMC driver (/dev/usbtmcN). The driver answers a query
// through write() and then a read() that blocks until the meter answers or the driver's timeout
// ends it, so every exchange runs on a worker thread that this class owns and ends in a callback
// on that thread; the caller takes the reply to its own thread. Where there are no such device
// files, a stand-in whose Open says so. No Qt here.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace tq {

struct UsbtmcReply {
    enum class Outcome {
        Answered,  // `answer` holds the answer, without its line end
        NoAnswer,  // nothing came within the exchange's time; the device is still usable
        Broken,    // the device is gone or the connection closed; every later exchange fails
    };
    Outcome outcome = Outcome::Broken;
    std::string answer;
    std::string error;  // what failed, for NoAnswer and Broken
};

class UsbtmcDevice {
public:
    // How answers are framed on the descriptor.
    enum class Framing {
        Message,  // one read() is one whole answer, as the USBTMC driver delivers it
        Line,     // a byte stream in which an answer ends at its line end (a socket, a pipe)
    };
    // Called on the worker thread once for each exchange, in the order they were asked, until
    // Close(). It must only hand the reply on (post it to an event loop), never call back here.
    using ReplyCallback = std::function<void(uint64_t exchange, const UsbtmcReply& reply)>;

    // A longer answer is not a reading: the exchange fails rather than memory growing.
    static constexpr std::size_t kLongestAnswer = 64 * 1024;

    explicit UsbtmcDevice(ReplyCallback reply);
    ~UsbtmcDevice();
    UsbtmcDevice(const UsbtmcDevice&) = delete;
    UsbtmcDevice& operator=(const UsbtmcDevice&) = delete;

    // Whether this system has USBTMC device files at all.
    static bool Supported();
    // Opens a USBTMC device file; false with what failed and what to do about it.
    bool Open(const std::string& path, std::string& error);
    // Takes a descriptor that is open already and closes it when done (tests hand one end of a
    // socket pair); `name` names it in errors.
    bool Adopt(int fd, Framing framing, const std::string& name, std::string& error);
    // Forgets the exchanges not yet begun and lets the worker go. Never waits for the meter: a
    // worker inside a blocking read ends when the read does. No callback comes after it returns.
    void Close();
    bool IsOpen() const { return shared_ != nullptr; }

    // Queues an exchange: each command is written with a line end, then the answer to the last
    // one is read; all of it within `timeoutMilliseconds`. Returns the exchange's number (from 1).
    uint64_t Query(std::vector<std::string> commands, int timeoutMilliseconds);
    // The number of the exchange the worker has begun last (0 before the first).
    uint64_t Begun() const;

    struct Shared;

private:
    bool Start(int fd, Framing framing, const std::string& name, std::string& error);

    ReplyCallback reply_;
    std::shared_ptr<Shared> shared_;
    uint64_t nextExchange_ = 1;
};

}  // namespace tq
