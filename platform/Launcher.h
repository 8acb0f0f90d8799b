#pragma once
// Starting another program without waiting for it, and the file test that goes with it.

#include <memory>
#include <string>

namespace tq {

class ProgramLauncher {
public:
    virtual ~ProgramLauncher() = default;
    // Whether `path` names an existing file (not a folder).
    virtual bool FileExists(const std::string& path) = 0;
    // Starts the program at `path` in a normal window that takes the focus and returns at once;
    // false when it could not be started.
    virtual bool StartDetached(const std::string& path) = 0;
};

std::unique_ptr<ProgramLauncher> SystemLauncher();

}  // namespace tq
