#pragma once
// Lines the program says while it serves (clients arriving and leaving), on standard error
// without ever waiting for it: standard error may be a pipe that nobody reads, a terminal held
// with Ctrl-S or a full socket to the journal, and the program serves on meanwhile. A line that
// does not fit at once is dropped and counted; before the next line that fits, a line says how
// many were dropped. Whole lines only: a line is never cut in the middle by another writer.

#include <cstdint>
#include <string>
#include <string_view>

namespace tq {

class StandardErrorLog {
public:
    // The longest line written whole (PIPE_BUF on Linux): a longer one is cut to it.
    static constexpr std::size_t kLongestLine = 4096;

    // On standard error, or on `fd` (a test's pipe).
    explicit StandardErrorLog(int fd = 2) : fd_(fd) {}

    // `line` without its line feed; false when it was dropped.
    bool Say(std::string_view line);
    // Says how many lines were dropped when that fits now (a timer calls it while Owed()).
    void Retry();
    // Lines dropped and not yet told of.
    std::uint64_t Owed() const { return dropped_; }

private:
    // The whole of `bytes` when it fits now; nothing otherwise (a remainder a socket did not
    // take goes out first next time).
    bool Write(std::string_view bytes);
    bool TellDropped();

    int fd_;
    std::uint64_t dropped_ = 0;
    std::string rest_;  // of a line a socket took in part
};

}  // namespace tq
