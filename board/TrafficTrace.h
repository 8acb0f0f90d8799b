#pragma once
// The board traffic as trace lines, one per adapter call, for whoever shows it (the automation
// console's `trace`). The tracing adapter provides it; app/ hands it on, so that its readers need
// no adapter.

#include <cstddef>
#include <string>
#include <vector>

namespace tq {

class TrafficTrace {
public:
    virtual ~TrafficTrace() = default;
    // The lines since the last call (oldest first); `dropped` receives how many older lines were
    // dropped to keep the trace bounded.
    virtual std::vector<std::string> TakeLines(std::size_t& dropped) = 0;
};

}  // namespace tq
