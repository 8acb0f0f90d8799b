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

}  // namespace

std::string ActivityStatusText(const Activity& activity, bool remote) {
    const ActivityKind& kind = activity.Kind();
    std::string text = Title(kind.name);
    if (kind.namesItsChannels) {
        const std::string channels = Channels(activity.Channels());
        if (!channels.empty())
            text += " " + channels;
    }
    const int64_t done = activity.Done();
    if (activity.Total() > 0) {
        text += " " + std::to_string(done) + "/" + std::to_string(activity.Total());
    } else if (*kind.countsIn) {
        text += " " + std::to_string(done) + " " + kind.countsIn + (done == 1 ? "" : "s");
    } else if (done > 0) {
        text += " " + std::to_string(done) + (done == 1 ? " step" : " steps");
    }
    if (remote)
        text += " (remote)";
    return text;
}

std::optional<WindowId> ActivityWindow(const Activity& activity) {
    return WindowByName(QString::fromLatin1(activity.Kind().window));
}

}  // namespace tq
