// The LAN announcement's name and records, and Avahi's main-loop interface over the Qt event loop:
// watches and timeouts fire when they should, never after they are freed, also when freed from
// their own callback.

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <avahi-common/timeval.h>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <functional>
#include <string>
#include <vector>

#include "core/Version.h"
#include "discovery/AvahiQtPoll.h"
#include "discovery/ScpiAnnouncement.h"
#include "tests/support/EventLoop.h"

namespace tq::testing {
namespace {

// Runs the event loop until `done` or `ms` have passed; true when done.
bool RunUntil(const std::function<bool()>& done, int ms = 2000) {
    CoreApp();
    return WaitFor(done, {}, ms);
}

void RunFor(int ms) {
    RunUntil([] { return false; }, ms);
}

// ---- The announcement
// ----------------------------------------------------------------------------

TEST(ScpiAnnouncement, NamesTheBoardWithItsIdentityAsLxiInstrumentsDo) {
    const ScpiAnnouncement a = AnnounceBoard("TQ2404", "1-4.2", kProgramVersion, 5025);
    EXPECT_EQ(a.name, "TQ2604X evaluation board 1-4.2");
    EXPECT_EQ(a.port, 5025);
    const std::vector<std::pair<std::string, std::string>> expected{
        {"txtvers", "1"},
        {"Manufacturer", "TQ2604X-EVAL"},
        {"Model", "TQ2404"},
        {"SerialNumber", "1-4.2"},
        {"FirmwareVersion", kProgramVersion}};
    EXPECT_EQ(a.txt, expected);
}

TEST(ScpiAnnouncement, LongTextIsCutWithinDnsLimitsAtACharacterBoundary) {
    struct Case {
        std::string serial;
        std::size_t nameBytes;  // the instance name's length after the cut
    };
    const std::string prefix = "TQ2604X evaluation board ";  // 25 bytes
    const Case cases[] = {
        {std::string(38, 'x'), 63},                   // exactly fits
        {std::string(39, 'x'), 63},                   // one byte over
        {std::string(37, 'x') + "\xC3\xA9", 62},      // é would end at byte 64: left out
        {std::string(36, 'x') + "\xE2\x82\xAC", 61},  // € straddles the limit
        {std::string(35, 'x') + "\xE2\x82\xAC", 63},  // € ends exactly at it
    };
    for (const Case& c : cases) {
        const ScpiAnnouncement a = AnnounceBoard("TQ2604X", c.serial, kProgramVersion, 1);
        EXPECT_EQ(a.name.size(), c.nameBytes) << c.serial;
        EXPECT_EQ(a.name.compare(0, prefix.size(), prefix), 0);
        EXPECT_EQ(c.serial.compare(0, a.name.size() - prefix.size(), a.name, prefix.size()), 0);
    }
    // One TXT string holds "key=value" in at most 255 bytes.
    const auto txt = BoardTxtRecords("TQ2604X", std::string(400, 's'), kProgramVersion);
    EXPECT_EQ(txt[3].first.size() + 1 + txt[3].second.size(), 255u);
}

// ---- The event loop's watches and timeouts
// --------------------------------------------------------

// The notifiers and timers need the application object before they are made.
struct WithCoreApp {
    WithCoreApp() { CoreApp(); }
};

// Each test has a poll of its own; `api` is the table Avahi's clients call.
class AvahiQtPollTest : public ::testing::Test, WithCoreApp {
protected:
    AvahiQtPoll poll;
    const AvahiPoll* api = poll.Api();
};

class Pipe {
public:
    Pipe() { EXPECT_EQ(pipe(fds_), 0); }
    ~Pipe() {
        close(fds_[0]);
        close(fds_[1]);
    }
    int ReadEnd() const { return fds_[0]; }
    int WriteEnd() const { return fds_[1]; }
    void Put() { EXPECT_EQ(write(fds_[1], "x", 1), 1); }
    void Take() {
        char c;
        EXPECT_EQ(read(fds_[0], &c, 1), 1);
    }

private:
    int fds_[2] = {-1, -1};
};

struct Seen {
    const AvahiPoll* api = nullptr;
    int calls = 0;
    int fd = -1;
    AvahiWatchEvent event{};
    AvahiWatchEvent reported{};  // watch_get_events inside the callback
    bool freeInCallback = false;
};

void OnWatch(AvahiWatch* w, int fd, AvahiWatchEvent event, void* data) {
    auto* seen = static_cast<Seen*>(data);
    ++seen->calls;
    seen->fd = fd;
    seen->event = event;
    seen->reported = seen->api->watch_get_events(w);
    if (seen->freeInCallback)
        seen->api->watch_free(w);
}

TEST_F(AvahiQtPollTest, AWatchFiresForTheEventsItWaitsFor) {
    Pipe pipe;
    Seen seen{api};
    AvahiWatch* w = api->watch_new(api, pipe.ReadEnd(), AVAHI_WATCH_IN, OnWatch, &seen);
    RunFor(50);
    EXPECT_EQ(seen.calls, 0) << "nothing to read yet";
    pipe.Put();
    ASSERT_TRUE(RunUntil([&] { return seen.calls > 0; }));
    EXPECT_EQ(seen.fd, pipe.ReadEnd());
    EXPECT_EQ(seen.event, AVAHI_WATCH_IN);
    EXPECT_EQ(seen.reported, AVAHI_WATCH_IN);
    pipe.Take();

    // Waiting for nothing: no call even with data waiting.
    api->watch_update(w, static_cast<AvahiWatchEvent>(0));
    const int before = seen.calls;
    pipe.Put();
    RunFor(50);
    EXPECT_EQ(seen.calls, before);
    api->watch_update(w, AVAHI_WATCH_IN);
    EXPECT_TRUE(RunUntil([&] { return seen.calls > before; }));
    api->watch_free(w);
    const int afterFree = seen.calls;
    RunFor(50);
    EXPECT_EQ(seen.calls, afterFree) << "a freed watch fired";
}

TEST_F(AvahiQtPollTest, AWatchForWritingFiresWhileTheDescriptorTakesData) {
    Pipe pipe;
    Seen seen{api};
    seen.freeInCallback = true;
    api->watch_new(api, pipe.WriteEnd(), AVAHI_WATCH_OUT, OnWatch, &seen);
    ASSERT_TRUE(RunUntil([&] { return seen.calls > 0; }));
    EXPECT_EQ(seen.event, AVAHI_WATCH_OUT);
    RunFor(50);
    EXPECT_EQ(seen.calls, 1) << "freed in its callback, it fired again";
}

TEST_F(AvahiQtPollTest, AWatchFreedInsideItsCallbackWithBothEventsReadyFiresOnce) {
    // A socket pair is readable and writable at once: both notifiers are ready in one round.
    int pair[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
    ASSERT_EQ(write(pair[1], "x", 1), 1);
    Seen seen{api};
    seen.freeInCallback = true;
    api->watch_new(api, pair[0], static_cast<AvahiWatchEvent>(AVAHI_WATCH_IN | AVAHI_WATCH_OUT),
                   OnWatch, &seen);
    ASSERT_TRUE(RunUntil([&] { return seen.calls > 0; }));
    RunFor(50);
    EXPECT_EQ(seen.calls, 1);
    close(pair[0]);
    close(pair[1]);
}

struct Timed {
    const AvahiPoll* api = nullptr;
    int calls = 0;
    bool freeInCallback = false;
};

void OnTimeout(AvahiTimeout* t, void* data) {
    auto* timed = static_cast<Timed*>(data);
    ++timed->calls;
    if (timed->freeInCallback)
        timed->api->timeout_free(t);
}

struct timeval In(int ms) {
    struct timeval tv;
    avahi_elapse_time(&tv, static_cast<unsigned>(ms), 0);
    return tv;
}

TEST_F(AvahiQtPollTest, TimeoutsFireAtTheirTimeOnceAndNotWhenDisabled) {
    struct Case {
        const char* what;
        int dueMs;        // -1: disabled (no time)
        int notBeforeMs;  // no call before this
        bool fires;
    };
    const Case cases[] = {
        {"due in 150 ms", 150, 120, true},
        {"already due", 0, 0, true},
        {"disabled", -1, 0, false},
    };
    for (const Case& c : cases) {
        Timed timed;
        timed.api = api;
        const struct timeval tv = In(c.dueMs < 0 ? 0 : c.dueMs);
        QElapsedTimer clock;
        clock.start();
        AvahiTimeout* t = api->timeout_new(api, c.dueMs < 0 ? nullptr : &tv, OnTimeout, &timed);
        const bool fired = RunUntil([&] { return timed.calls > 0; }, 400);
        EXPECT_EQ(fired, c.fires) << c.what;
        if (fired) {
            EXPECT_GE(clock.elapsed(), c.notBeforeMs) << c.what;
        }
        RunFor(c.dueMs + 50 > 50 ? c.dueMs + 50 : 50);
        EXPECT_EQ(timed.calls, c.fires ? 1 : 0) << c.what << ": a timeout fires once";
        api->timeout_free(t);
    }
}

TEST_F(AvahiQtPollTest, ATimeoutMovedDisabledOrFreedInItsCallbackDoesNotFireAgain) {
    Timed moved;
    moved.api = api;
    const struct timeval soon = In(30);
    AvahiTimeout* t = api->timeout_new(api, &soon, OnTimeout, &moved);
    const struct timeval later = In(300);
    api->timeout_update(t, &later);
    RunFor(150);
    EXPECT_EQ(moved.calls, 0) << "moved later, it fired at its first time";
    api->timeout_update(t, nullptr);
    RunFor(250);
    EXPECT_EQ(moved.calls, 0) << "disabled, it fired";
    const struct timeval again = In(10);
    api->timeout_update(t, &again);
    EXPECT_TRUE(RunUntil([&] { return moved.calls == 1; }));
    api->timeout_free(t);

    Timed freed;
    freed.api = api;
    freed.freeInCallback = true;
    const struct timeval now = In(0);
    api->timeout_new(api, &now, OnTimeout, &freed);
    ASSERT_TRUE(RunUntil([&] { return freed.calls > 0; }));
    RunFor(50);
    EXPECT_EQ(freed.calls, 1);
}

TEST_F(AvahiQtPollTest, WatchesAndTimeoutsStillPendingGoWithThePoll) {
    Pipe pipe;
    Seen seen;
    Timed timed;
    {
        AvahiQtPoll scoped;
        const AvahiPoll* scopedApi = scoped.Api();
        seen.api = scopedApi;
        timed.api = scopedApi;
        AvahiWatch* w =
            scopedApi->watch_new(scopedApi, pipe.ReadEnd(), AVAHI_WATCH_IN, OnWatch, &seen);
        const struct timeval tv = In(10);
        AvahiTimeout* t = scopedApi->timeout_new(scopedApi, &tv, OnTimeout, &timed);
        // Freed without the event loop running in between: their notifier and timer are deleted
        // later, which is with the poll here.
        scopedApi->watch_free(w);
        scopedApi->timeout_free(t);
    }
    pipe.Put();
    RunFor(50);
    EXPECT_EQ(seen.calls, 0);
    EXPECT_EQ(timed.calls, 0);
}

}  // namespace
}  // namespace tq::testing
