#pragma once
// Who may change the board from the page. The password is kept only as a salted PBKDF2 hash; a
// browser that signs in becomes a client of the protocol (its own error queue, claims and
// outcomes, named for the lock "web page user at ADDRESS") and every change it asks for is a
// protocol line run for it, so the claims, the output guard and the lock judge it as any
// client's. Wrong passwords are slowed per address, with a bounded number of addresses kept.

#include <QByteArray>
#include <chrono>
#include <cstddef>
#include <map>
#include <memory>
#include <string>
#include <string_view>

#include "remote/InstrumentCommands.h"

namespace tq {

class PasswordHash {
public:
    // PBKDF2-HMAC-SHA256: 0.15 s a try on one core (checked off the event loop).
    static constexpr int kRounds = 30000;
    // Hashes `password` with a fresh random salt and overwrites it.
    explicit PasswordHash(std::string& password);
    bool Matches(std::string_view candidate) const;

private:
    QByteArray salt_;
    QByteArray key_;
};

// After kFreeFailures wrong passwords from one address, each further try waits, twice as long as
// the one before (1 s, 2 s, ... at most kLongestWait); the right password ends the slowing. At most
// kAddresses are remembered: a new one pushes out the one whose last failure is oldest.
class SignInThrottle {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr int kFreeFailures = 3;
    static constexpr std::chrono::seconds kLongestWait{60};
    static constexpr std::chrono::minutes kForget{15};
    static constexpr std::size_t kAddresses = 1024;

    // How long `address` must still wait before its next try; zero: it may try now.
    Clock::duration Wait(const std::string& address, Clock::time_point now) const;
    void Failed(const std::string& address, Clock::time_point now);
    void Succeeded(const std::string& address) { entries_.erase(address); }
    std::size_t Size() const { return entries_.size(); }

private:
    struct Entry {
        int failures = 0;
        Clock::time_point last;
        Clock::time_point next;  // the earliest next try
    };
    std::map<std::string, Entry> entries_;
};

class WebSessions {
public:
    using Clock = std::chrono::steady_clock;
    // More sign-ins end the one unused longest.
    static constexpr std::size_t kMaxSessions = 16;

    struct Session {
        std::string token;  // every change carries it
        std::unique_ptr<ScpiSession> client;
        Clock::time_point used;
    };

    // `idle`: a session unused this long has ended; zero: never.
    WebSessions(InstrumentCommands& commands, std::chrono::seconds idle);
    ~WebSessions();

    // A new session for a browser at `address`; its id goes into the cookie.
    std::string Open(const std::string& address, Clock::time_point now);
    // The live session with this id, marked used; null when there is none (or it was idle too
    // long: it ends here).
    Session* Find(const std::string& id, Clock::time_point now);
    void Close(const std::string& id) { sessions_.erase(id); }

    // Runs a protocol line for the session: "" when it ran without error, else the errors it
    // queued in the program's words (`-222,"Data out of range; ..."`), one a line.
    static std::string Run(Session& session, std::string_view line);

private:
    InstrumentCommands& commands_;
    std::chrono::seconds idle_;
    std::map<std::string, Session> sessions_;
};

// `bytes` random bytes from the system's generator, as hexadecimal.
std::string RandomHex(std::size_t bytes);

}  // namespace tq
