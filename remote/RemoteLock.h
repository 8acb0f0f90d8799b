#pragma once
// The one lock over every remote client: a VXI-11 link's lock and a raw client's
// SYSTem:LOCK:REQuest? are the same. While one client holds it, the others' changes are refused
// (the queries and the safety actions pass); the windows are no client and stay usable. A client
// is known by its origin (RemoteClient::origin) and named for the others by its transport
// ("client at 127.0.0.1:50712", "VXI-11 link from 127.0.0.1"). Standard library only.

#include <functional>
#include <map>
#include <string>
#include <utility>

namespace tq {

class RemoteLock {
public:
    // Told the holder's name after each change, "" once it is free.
    using Listener = std::function<void(const std::string& holder)>;

    // True when `origin` holds the lock now: it was free, or `origin` held it already.
    bool Take(const void* origin, std::string name) {
        if (holder_ != nullptr && holder_ != origin)
            return false;
        if (holder_ == nullptr) {
            holder_ = origin;
            name_ = std::move(name);
            Changed();
        }
        return true;
    }
    // False when `origin` does not hold it.
    bool Give(const void* origin) {
        if (origin == nullptr || holder_ != origin)
            return false;
        holder_ = nullptr;
        name_.clear();
        Changed();
        return true;
    }
    bool Held() const { return holder_ != nullptr; }
    bool HeldBy(const void* origin) const { return holder_ != nullptr && holder_ == origin; }
    // Held by another than `origin`: its changes are refused.
    bool HeldByAnother(const void* origin) const { return holder_ != nullptr && holder_ != origin; }
    const std::string& Holder() const { return name_; }

    int AddListener(Listener listener) {
        listeners_.emplace(++lastListener_, std::move(listener));
        return lastListener_;
    }
    void RemoveListener(int id) { listeners_.erase(id); }

private:
    void Changed() {
        // A listener may take the lock or remove itself: each is called from a copy.
        const auto listeners = listeners_;
        for (const auto& [id, listener] : listeners)
            listener(name_);
    }

    const void* holder_ = nullptr;
    std::string name_;
    std::map<int, Listener> listeners_;
    int lastListener_ = 0;
};

}  // namespace tq
