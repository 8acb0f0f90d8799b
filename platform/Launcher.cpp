#include "platform/Launcher.h"

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <cerrno>
#endif

namespace tq {

namespace {

#ifdef _WIN32
class WindowsLauncher : public ProgramLauncher {
public:
    bool FileExists(const std::string& path) override {
        const DWORD attributes = GetFileAttributesA(path.c_str());
        return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
    }

    bool StartDetached(const std::string& path) override {
        STARTUPINFOA startup{};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESHOWWINDOW;
        startup.wShowWindow = SW_SHOWNORMAL;
        PROCESS_INFORMATION process{};
        std::string commandLine = "\"" + path + "\"";
        if (!CreateProcessA(path.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                            nullptr, &startup, &process))
            return false;
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
        return true;
    }
};
#else
class PosixLauncher : public ProgramLauncher {
public:
    bool FileExists(const std::string& path) override {
        struct stat info {};
        return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
    }

    // Double fork, so that the started program is never left as a zombie of ours; a pipe closed
    // on exec tells whether the exec succeeded.
    bool StartDetached(const std::string& path) override {
        int fds[2];
        if (::pipe(fds) != 0)
            return false;
        ::fcntl(fds[0], F_SETFD, FD_CLOEXEC);
        ::fcntl(fds[1], F_SETFD, FD_CLOEXEC);
        const char* file = path.c_str();
        char* const argv[] = {const_cast<char*>(file), nullptr};

        const pid_t child = ::fork();
        if (child < 0) {
            ::close(fds[0]);
            ::close(fds[1]);
            return false;
        }
        if (child == 0) {
            ::close(fds[0]);
            ::setsid();
            const pid_t grandchild = ::fork();
            if (grandchild == 0) {
                ::execv(file, argv);
                const int error = errno;
                [[maybe_unused]] const ssize_t written = ::write(fds[1], &error, sizeof error);
                ::_exit(127);
            }
            if (grandchild < 0) {
                const int error = errno;
                [[maybe_unused]] const ssize_t written = ::write(fds[1], &error, sizeof error);
            }
            ::_exit(0);
        }

        ::close(fds[1]);
        int status = 0;
        while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
        }
        int error = 0;
        ssize_t received = 0;
        do {
            received = ::read(fds[0], &error, sizeof error);
        } while (received < 0 && errno == EINTR);
        ::close(fds[0]);
        return received == 0;
    }
};
#endif

}  // namespace

std::unique_ptr<ProgramLauncher> SystemLauncher() {
#ifdef _WIN32
    return std::make_unique<WindowsLauncher>();
#else
    return std::make_unique<PosixLauncher>();
#endif
}

}  // namespace tq
