#include "ui/main/ActivityStatus.h"

#include <cctype>
#include <string_view>

namespace tq {
namespace {

// "the waveform run" -> "Waveform run".
std::string Title(std::string_view name) {
    for (const std::string_view article : {"the ", "a ", "an "})
        if (name.substr(0, article.size()) == article) {
            name.remove_prefix(article.size());
            break;
        }
    std::string title(name);
    if (!title.empty())
        title[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(title[0])));
    return title;
}

// "DAC A", "DAC A-D", "DAC A, C".
std::string Channels(const std::vector<int16_t>& channels) {
    std::string letters;
    bool run = channels.size() > 2;
    for (std::size_t i = 0; i < channels.size(); ++i) {
        if (channels[i] < 0 || channels[i] > 3)
            return {};
        run = run && (i == 0 || channels[i] == channels[i - 1] + 1);
    }
    if (channels.empty())
        return {};
    const auto letter = [](int16_t channel) { return static_cast<char>('A' + channel); };
    if (run)
        return std::string("DAC ") + letter(channels.front()) + "-" + letter(channels.back());
    for (const int16_t channel : channels) {
        if (!letters.empty())
            letters += ", ";
        letters += letter(channel);
    }
    return "DAC " + letters;
}

bool NamesItsChannels(ActivityKind kind) {
    return kind == ActivityKind::LinearityTest || kind == ActivityKind::AutomaticCalibration ||
           kind == ActivityKind::MeterRun;
}

}  // namespace

std::string ActivityStatusText(const Activity& activity, bool remote) {
    std::string text = Title(activity.name);
    if (NamesItsChannels(activity.kind)) {
        const std::string channels = Channels(activity.channels);
        if (!channels.empty())
            text += " " + channels;
    }
    if (activity.total > 0) {
        text += " " + std::to_string(activity.done) + "/" + std::to_string(activity.total);
    } else if (activity.kind == ActivityKind::TemperatureLog) {
        text +=
            " " + std::to_string(activity.done) + (activity.done == 1 ? " reading" : " readings");
    } else if (activity.done > 0) {
        text += " " + std::to_string(activity.done) + (activity.done == 1 ? " step" : " steps");
    }
    if (remote)
        text += " (remote)";
    return text;
}

std::optional<WindowId> ActivityWindow(ActivityKind kind) {
    switch (kind) {
        case ActivityKind::WaveformRun:
        case ActivityKind::ListRun:
            return WindowId::Waveform;
        case ActivityKind::TemperatureLog:
            return WindowId::TemperatureLog;
        case ActivityKind::MeterRun:
        case ActivityKind::LinearityTest:
        case ActivityKind::AutomaticCalibration:
            return WindowId::Meter;
        case ActivityKind::Ramp:
            break;
    }
    return std::nullopt;
}

}  // namespace tq
