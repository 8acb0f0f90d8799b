#pragma once
// A meter that tests answer by hand, so a run's readings arrive exactly when the test says (its
// timer is FakeClock).

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "instrument/Meter.h"

namespace tq::testing {

class FakeMeter : public MeterConnection {
public:
    void Read(int channel, std::function<void(const MeterReading&)> done) override {
        channels.push_back(channel);
        pending = std::move(done);
    }
    void Cancel() override {
        pending = nullptr;
        ++cancels;
    }
    bool SelectsChannels() const override { return scanner; }
    bool Open(const MeterSettings& settings, std::string& error) override {
        if (settings.address.empty()) {
            error = "no address";
            return false;
        }
        opened = settings;
        open = true;
        return true;
    }
    bool IsOpen() const override { return open; }
    void Close() override {
        open = false;
        pending = nullptr;
    }
    std::string Identity() const override { return open ? "FAKE,DVM,1,0" : ""; }
    std::string LastError() const override { return open ? "" : "refused"; }

    // Answers the reading in progress; false when none was asked for.
    bool Answer(const MeterReading& reading) {
        if (!pending)
            return false;
        auto done = std::move(pending);
        pending = nullptr;
        done(reading);
        return true;
    }

    bool scanner = true;
    bool open = false;
    MeterSettings opened;
    int cancels = 0;
    std::vector<int> channels;
    std::function<void(const MeterReading&)> pending;
};

}  // namespace tq::testing
