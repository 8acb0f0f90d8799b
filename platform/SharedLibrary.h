#pragma once
// A shared library loaded while the program runs rather than at its start, so that a run that
// never needs it (the simulated board needs no USB) does not pay for mapping it.

#include <string>

namespace tq {

class SharedLibrary {
public:
    // Loads the library of this file name, found as the system finds libraries.
    explicit SharedLibrary(const std::string& name);
    ~SharedLibrary();
    SharedLibrary(const SharedLibrary&) = delete;
    SharedLibrary& operator=(const SharedLibrary&) = delete;

    bool Loaded() const { return handle_ != nullptr; }
    // Why the library did not load, or why the last symbol was not found.
    const std::string& Error() const { return error_; }
    // The address of an exported function or object, or null (with Error() saying why).
    void* Symbol(const char* name);

private:
    void* handle_ = nullptr;
    std::string error_;
};

}  // namespace tq
