#pragma once
// The places for remote clients, shared by every transport: a raw connection and a VXI-11 link
// take one each, at most kMax in all, so that no kind of client can crowd out the others.
// Standard library only.

#include <functional>
#include <utility>

namespace tq {

class ClientPlaces {
public:
    static constexpr int kMax = 8;

    // False when all are taken.
    bool Take() {
        if (taken_ >= kMax)
            return false;
        ++taken_;
        Changed();
        return true;
    }
    void Give() {
        if (taken_ == 0)
            return;
        --taken_;
        Changed();
    }
    int Taken() const { return taken_; }
    // Told the number of clients after each change (the safe state's policy, the main window).
    void SetChanged(std::function<void(int)> changed) { changed_ = std::move(changed); }

private:
    void Changed() {
        if (changed_)
            changed_(taken_);
    }

    int taken_ = 0;
    std::function<void(int)> changed_;
};

}  // namespace tq
