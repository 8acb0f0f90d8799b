#include "platform/SharedLibrary.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace tq {

#ifdef _WIN32
namespace {
std::string LastError() {
    return "Windows error " + std::to_string(GetLastError());
}
}  // namespace

SharedLibrary::SharedLibrary(const std::string& name) {
    handle_ = reinterpret_cast<void*>(LoadLibraryA(name.c_str()));
    if (!handle_)
        error_ = name + ": " + LastError();
}

SharedLibrary::~SharedLibrary() {
    if (handle_)
        FreeLibrary(static_cast<HMODULE>(handle_));
}

void* SharedLibrary::Symbol(const char* name) {
    void* address =
        handle_ ? reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(handle_), name))
                : nullptr;
    if (!address && handle_)
        error_ = std::string(name) + ": " + LastError();
    return address;
}
#else
SharedLibrary::SharedLibrary(const std::string& name) {
    handle_ = dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle_)
        error_ = dlerror();
}

SharedLibrary::~SharedLibrary() {
    if (handle_)
        dlclose(handle_);
}

void* SharedLibrary::Symbol(const char* name) {
    if (!handle_)
        return nullptr;
    dlerror();
    void* address = dlsym(handle_, name);
    if (!address) {
        const char* why = dlerror();
        error_ = why ? why : std::string(name) + ": not found";
    }
    return address;
}
#endif

}  // namespace tq
