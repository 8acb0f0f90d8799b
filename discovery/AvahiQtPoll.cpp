#include "discovery/AvahiQtPoll.h"

#include <avahi-common/timeval.h>

#include <QSocketNotifier>
#include <QTimer>
#include <chrono>
#include <limits>

// Avahi declares these types and leaves their contents to each main-loop implementation.
struct AvahiWatch {
    int fd = -1;
    AvahiWatchCallback callback = nullptr;
    void* userdata = nullptr;
    AvahiWatchEvent happened = static_cast<AvahiWatchEvent>(0);
    QSocketNotifier* read = nullptr;
    QSocketNotifier* write = nullptr;
};

struct AvahiTimeout {
    AvahiTimeoutCallback callback = nullptr;
    void* userdata = nullptr;
    QTimer* timer = nullptr;
};

namespace tq {
namespace {

QObject* Owner(const AvahiPoll* api) {
    return static_cast<QObject*>(api->userdata);
}

// A callback may free its own watch or timeout: after calling it nothing of the watch is touched,
// and the notifier it came from is deleted by the event loop, not inside its own signal.
void Dispatch(AvahiWatch* w, AvahiWatchEvent event) {
    w->happened = event;
    const AvahiWatchCallback callback = w->callback;
    callback(w, w->fd, event, w->userdata);
}

QSocketNotifier* MakeNotifier(AvahiWatch* w, QSocketNotifier::Type type, QObject* owner) {
    auto* notifier = new QSocketNotifier(w->fd, type, owner);
    const AvahiWatchEvent event = type == QSocketNotifier::Read ? AVAHI_WATCH_IN : AVAHI_WATCH_OUT;
    QObject::connect(notifier, &QSocketNotifier::activated, notifier,
                     [w, event] { Dispatch(w, event); });
    return notifier;
}

void WatchUpdate(AvahiWatch* w, AvahiWatchEvent events) {
    w->read->setEnabled((events & AVAHI_WATCH_IN) != 0);
    w->write->setEnabled((events & AVAHI_WATCH_OUT) != 0);
}

AvahiWatch* WatchNew(const AvahiPoll* api, int fd, AvahiWatchEvent events,
                     AvahiWatchCallback callback, void* userdata) {
    auto* w = new AvahiWatch{fd, callback, userdata};
    w->read = MakeNotifier(w, QSocketNotifier::Read, Owner(api));
    w->write = MakeNotifier(w, QSocketNotifier::Write, Owner(api));
    WatchUpdate(w, events);
    return w;
}

AvahiWatchEvent WatchGetEvents(AvahiWatch* w) {
    return w->happened;
}

void WatchFree(AvahiWatch* w) {
    for (QSocketNotifier* notifier : {w->read, w->write}) {
        notifier->setEnabled(false);
        notifier->deleteLater();
    }
    delete w;
}

// Avahi's times are absolute (gettimeofday); a QTimer waits a duration.
int MillisecondsUntil(const struct timeval* tv) {
    const AvahiUsec left = -avahi_age(tv);
    if (left <= 0)
        return 0;
    const AvahiUsec ms = (left + 999) / 1000;
    return ms > std::numeric_limits<int>::max() ? std::numeric_limits<int>::max()
                                                : static_cast<int>(ms);
}

void TimeoutUpdate(AvahiTimeout* t, const struct timeval* tv) {
    if (tv == nullptr) {
        t->timer->stop();
        return;
    }
    t->timer->start(MillisecondsUntil(tv));
}

AvahiTimeout* TimeoutNew(const AvahiPoll* api, const struct timeval* tv,
                         AvahiTimeoutCallback callback, void* userdata) {
    auto* t = new AvahiTimeout{callback, userdata, new QTimer(Owner(api))};
    t->timer->setSingleShot(true);
    t->timer->setTimerType(Qt::PreciseTimer);
    QObject::connect(t->timer, &QTimer::timeout, t->timer, [t] {
        const AvahiTimeoutCallback call = t->callback;
        call(t, t->userdata);
    });
    TimeoutUpdate(t, tv);
    return t;
}

void TimeoutFree(AvahiTimeout* t) {
    t->timer->stop();
    t->timer->deleteLater();
    delete t;
}

}  // namespace

AvahiQtPoll::AvahiQtPoll() : owner_(std::make_unique<QObject>()) {
    api_.userdata = owner_.get();
    api_.watch_new = WatchNew;
    api_.watch_update = WatchUpdate;
    api_.watch_get_events = WatchGetEvents;
    api_.watch_free = WatchFree;
    api_.timeout_new = TimeoutNew;
    api_.timeout_update = TimeoutUpdate;
    api_.timeout_free = TimeoutFree;
}

AvahiQtPoll::~AvahiQtPoll() = default;

}  // namespace tq
