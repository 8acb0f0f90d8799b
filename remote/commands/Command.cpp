#include "remote/commands/Command.h"

#include <algorithm>
#include <utility>

#include "remote/StatusRegisters.h"
#include "remote/commands/Arguments.h"

namespace tq {

CommandRow Action(std::string_view pattern, std::function<void(Call&)> act) {
    return {pattern, scpi::Forms::kSet, [act = std::move(act)](Call& c) {
                args::NoParameters(c.command);
                act(c);
                return std::string();
            }};
}

CommandRow SetOnly(std::string_view pattern, std::function<void(Call&)> set) {
    return {pattern, scpi::Forms::kSet, [set = std::move(set)](Call& c) {
                set(c);
                return std::string();
            }};
}

CommandRow Query(std::string_view pattern, std::function<std::string(Call&)> answer) {
    return {pattern, scpi::Forms::kQuery, [answer = std::move(answer)](Call& c) {
                args::NoParameters(c.command);
                return answer(c);
            }};
}

CommandRow Setting(std::string_view pattern, std::function<std::string(Call&)> get,
                   std::function<void(Call&)> set) {
    return {pattern, scpi::Forms::kSetAndQuery,
            [get = std::move(get), set = std::move(set)](Call& c) {
                if (c.query) {
                    args::NoParameters(c.command);
                    return get(c);
                }
                set(c);
                return std::string();
            }};
}

CommandRow Numeric(std::string_view pattern, std::function<NumberBounds(Call&)> bounds,
                   std::function<std::string(Call&)> get, std::function<void(Call&)> set,
                   std::function<std::string(double)> answer) {
    if (!answer)
        answer = [](double value) { return scpi::FormatFloat(static_cast<float>(value)); };
    return {pattern, scpi::Forms::kSetAndQuery,
            [bounds = std::move(bounds), get = std::move(get), set = std::move(set),
             answer = std::move(answer)](Call& c) {
                if (!c.query) {
                    set(c);
                    return std::string();
                }
                scpi::CheckParamCount(c.command, 0, 1);
                if (c.command.params.empty())
                    return get(c);
                const scpi::Parameter& p = c.command.params[0];
                if (p.kind != scpi::ParamKind::kCharacter)
                    throw scpi::ScpiError(scpi::kParameterNotAllowed);
                const NumberBounds b = bounds(c);
                if (scpi::IsMinimum(p))
                    return answer(b.min);
                if (scpi::IsMaximum(p))
                    return answer(b.max);
                if (scpi::IsDefault(p) && b.def)
                    return answer(*b.def);
                throw scpi::ScpiError(scpi::kIllegalParameterValue,
                                      scpi::IsDefault(p)
                                          ? "this setting has no default"
                                          : "the query takes MINimum, MAXimum or DEFault");
            }};
}

CommandRow OnOff(std::string_view pattern, std::function<bool(Call&)> get,
                 std::function<void(Call&, bool)> set) {
    return Setting(
        pattern, [get = std::move(get)](Call& c) { return args::Bool(get(c)); },
        [set = std::move(set)](Call& c) { set(c, scpi::ReadBoolean(args::Only(c.command))); });
}

StopReason StopBy(const Call& c, const std::string& command) {
    return {c.client.origin, "another client's " + command};
}

CommandRow ForChannelLists(CommandRow row) {
    row.channelLists = true;
    return row;
}

namespace {

bool IsChannelList(const scpi::Parameter& p) {
    const std::size_t first = p.value.find_first_not_of(" \t");
    return p.kind == scpi::ParamKind::kExpression && first != std::string::npos &&
           p.value[first] == '@';
}

}  // namespace

bool EndsInChannelList(const scpi::ParsedCommand& command) {
    return !command.params.empty() && IsChannelList(command.params.back());
}

std::vector<int16_t> ChannelList(const scpi::Parameter& p, int channels) {
    const std::string forms = "channel lists are (@1), (@1,3) or (@1:4)";
    // The list as an error quotes it: a long one cut short.
    const std::string list =
        "(" + (p.value.size() > 40 ? p.value.substr(0, 40) + "..." : p.value) + ")";
    const std::string_view text = std::string_view(p.value).substr(p.value.find('@') + 1);
    // One channel number; its digits only, blanks around it allowed.
    const auto number = [&](std::string_view part) {
        const std::size_t first = part.find_first_not_of(" \t");
        const std::size_t last = part.find_last_not_of(" \t");
        if (first == std::string_view::npos)
            throw scpi::ScpiError(scpi::kSyntaxError, "an empty entry in " + list + "; " + forms);
        part = part.substr(first, last - first + 1);
        if (part.size() > 9 || part.find_first_not_of("0123456789") != std::string_view::npos)
            throw scpi::ScpiError(scpi::kSyntaxError, "'" + std::string(part.substr(0, 20)) +
                                                          "' in " + list + " is no channel; " +
                                                          forms);
        const int channel = std::stoi(std::string(part));
        if (channel < 1 || channel > channels)
            throw scpi::ScpiError(scpi::kDataOutOfRange,
                                  "channel " + std::to_string(channel) + " in " + list +
                                      ": the channels are 1 to " + std::to_string(channels));
        return channel;
    };
    std::vector<int16_t> named;
    const auto add = [&](int channel) {
        const auto ch = static_cast<int16_t>(channel - 1);
        if (std::find(named.begin(), named.end(), ch) == named.end())
            named.push_back(ch);
    };
    std::size_t start = 0;
    while (start <= text.size()) {
        const std::size_t comma = std::min(text.find(',', start), text.size());
        const std::string_view entry = text.substr(start, comma - start);
        if (const std::size_t colon = entry.find(':'); colon != std::string_view::npos) {
            const int from = number(entry.substr(0, colon));
            const int to = number(entry.substr(colon + 1));
            for (int ch = from; from <= to ? ch <= to : ch >= to; ch += from <= to ? 1 : -1)
                add(ch);
        } else {
            add(number(entry));
        }
        start = comma + 1;
    }
    return named;
}

CommandRow ForDigitalLines(CommandRow row) {
    row.maxSuffix = 2;
    return row;
}

CommandRow WholeSetting(std::string_view pattern, const ChannelSetting& setting) {
    return ForChannelLists(Describing(
        Numeric(
            pattern, [&setting](Call& c) { return PresentBounds(c.in, setting, c.Channel()); },
            [&setting](Call& c) {
                return scpi::FormatInt(static_cast<int64_t>(*setting.read(c.in, c.Channel())));
            },
            [&setting](Call& c) {
                const NumberBounds bounds = PresentBounds(c.in, setting, c.Channel());
                setting.set(c.in, c.Channel(), args::Int(args::Only(c.command), bounds));
            },
            [](double value) { return scpi::FormatInt(static_cast<int64_t>(value)); }),
        {.number = &setting}));
}

CommandRow WholeSettingOfAll(std::string_view pattern, const ChannelSetting& setting) {
    return SetOnly(pattern, [&setting](Call& c) {
        const NumberBounds bounds = PresentBounds(c.in, setting, kAllChannels);
        setting.set(c.in, kAllChannels, args::Int(args::Only(c.command), bounds));
    });
}

CommandRow OnOff(std::string_view pattern, const BoardSwitch& setting, bool inverted) {
    return Describing(
        OnOff(
            pattern, [&setting, inverted](Call& c) { return setting.read(c.in) != inverted; },
            [&setting, inverted](Call& c, bool on) { setting.set(c.in, on != inverted); }),
        {.board = {&setting}, .inverted = inverted});
}

std::string_view ShortForm(std::string_view mnemonic) {
    std::size_t capitals = 0;
    while (capitals < mnemonic.size() && mnemonic[capitals] >= 'A' && mnemonic[capitals] <= 'Z')
        ++capitals;
    return mnemonic.substr(0, capitals);
}

CommandRow Choice(std::string_view pattern, const BoardSwitch& setting, std::string_view on,
                  std::string_view off) {
    return Describing(
        Setting(
            pattern,
            [&setting, on, off](Call& c) {
                return std::string(ShortForm(setting.read(c.in) ? on : off));
            },
            [&setting, on, off](Call& c) { setting.set(c.in, args::Choice(c.command, on, off)); }),
        {.board = {&setting}, .words = {on, off}});
}

CommandRow PassingLock(CommandRow row) {
    row.passesLock = true;
    return row;
}

CommandRow Describing(CommandRow row, DescribedSettings described) {
    row.described = std::move(described);
    return row;
}

}  // namespace tq
