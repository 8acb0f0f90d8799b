#pragma once
// SIGINT and SIGTERM as something an event loop can wait for: after Install(), each such signal
// makes the descriptor ReadFd() readable, so the program can end cleanly from its own loop
// rather than inside a signal handler. Where there are no such signals, ReadFd() is -1 and
// nothing is installed.

namespace tq {

class TerminationSignals {
public:
    // Installs the handlers once; true when the descriptor is ready to watch.
    static bool Install();
    static int ReadFd();
    // Takes the pending notification off the descriptor.
    static void Acknowledge();
    // A write to a connection its peer has closed fails instead of ending the program (SIGPIPE),
    // for writers that cannot ask for that themselves (libtirpc's).
    static void IgnoreBrokenPipe();
};

}  // namespace tq
