#pragma once
// Avahi's main-loop interface (AvahiPoll) over the Qt event loop: file watches become
// QSocketNotifiers and timeouts QTimers, so the Avahi client's callbacks run on the thread that
// owns the instrument, between other events, like every other client of it. No thread, no lock.

#include <avahi-common/watch.h>

#include <QObject>
#include <memory>

namespace tq {

class AvahiQtPoll {
public:
    AvahiQtPoll();
    ~AvahiQtPoll();
    AvahiQtPoll(const AvahiQtPoll&) = delete;
    AvahiQtPoll& operator=(const AvahiQtPoll&) = delete;

    // For avahi_client_new. Every client made on it must be freed before this object goes.
    const AvahiPoll* Api() const { return &api_; }

private:
    AvahiPoll api_{};
    // Owns every notifier and timer, so that those freed inside their own callbacks (deleted
    // later) and those still pending at the end go with it.
    std::unique_ptr<QObject> owner_;
};

}  // namespace tq
