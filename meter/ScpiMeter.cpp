#include "meter/ScpiMeter.h"

#include <QTimer>
#include <charconv>
#include <cmath>
#include <string_view>

#include "core/InputExcerpt.h"

namespace tq {
namespace {

// The commands that take one reading of `channel` (0..3): the scanner's selection, {ch} standing
// for 1..4, when there is one, then the reading command.
std::vector<std::string> ReadingCommands(const MeterSettings& settings, int channel) {
    std::vector<std::string> commands;
    if (!settings.selectCommand.empty()) {
        std::string select = settings.selectCommand;
        const std::size_t at = select.find("{ch}");
        if (at != std::string::npos)
            select.replace(at, 4, std::to_string(channel + 1));
        commands.push_back(std::move(select));
    }
    commands.push_back(settings.readCommand);
    return commands;
}

MeterReading ReadingFromAnswer(const std::string& text) {
    double volts = 0;
    if (!ParseReading(text, volts))
        return {false, 0, "the meter's answer is not a number: " + QuotedInput(text)};
    return {true, volts, {}};
}

}  // namespace

bool CheckReadingSettings(const MeterSettings& settings, std::string& error) {
    if (settings.readCommand.empty()) {
        error = "the meter needs a command that takes a reading (such as MEAS:VOLT:DC?)";
        return false;
    }
    if (settings.timeoutMilliseconds <= 0) {
        error = "the meter's timeout must be at least 1 ms";
        return false;
    }
    return true;
}

bool ParseReading(const std::string& text, double& volts) {
    std::size_t first = text.find_first_not_of(" \t");
    std::size_t last = text.find_last_not_of(" \t");
    if (first == std::string::npos)
        return false;
    std::string_view v(text.data() + first, last - first + 1);
    if (!v.empty() && v[0] == '+')
        v.remove_prefix(1);
    if (v.empty() || !(v[0] == '-' || v[0] == '.' || (v[0] >= '0' && v[0] <= '9')))
        return false;
    double value = 0;
    auto [end, ec] = std::from_chars(v.data(), v.data() + v.size(), value);
    // 9.9E37 is SCPI's overload, not a voltage.
    if (ec != std::errc() || end != v.data() + v.size() || !std::isfinite(value) ||
        std::fabs(value) > 1e30)
        return false;
    volts = value;
    return true;
}

void ScpiMeter::Read(int channel, std::function<void(const MeterReading&)> done) {
    done_ = std::move(done);
    if (!ready_) {
        // Completed from the event loop, as every reading is, and cancellable as they are.
        QTimer::singleShot(0, this, [this] {
            auto pending = std::move(done_);
            done_ = nullptr;
            if (pending)
                pending({false, 0, "the meter is not connected"});
        });
        return;
    }
    Ask(ReadingCommands(settings_, channel), [this](const std::string& text) {
        auto done = std::move(done_);
        done_ = nullptr;
        if (done)
            done(ReadingFromAnswer(text));
    });
}

void ScpiMeter::Identify() {
    std::vector<std::string> commands = settings_.setupCommands;
    commands.push_back("*IDN?");
    Ask(std::move(commands), [this](const std::string& identity) {
        identity_ = identity;
        ready_ = true;
        Identified();
    });
}

void ScpiMeter::NoAnswer(const std::string& why) {
    auto done = std::move(done_);
    done_ = nullptr;
    if (done)
        done({false, 0, why});
    else if (!ready_)
        Break(why + " to *IDN?");
}

void ScpiMeter::Broken(const std::string& reason) {
    lastError_ = ready_ ? reason : "the meter could not be opened: " + reason;
    ready_ = false;
    auto done = std::move(done_);
    done_ = nullptr;
    if (done)
        done({false, 0, reason});
}

void ScpiMeter::Forget() {
    done_ = nullptr;
    ready_ = false;
    identity_.clear();
}

}  // namespace tq
