#include "remote/commands/Command.h"

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

CommandRow ForDigitalLines(CommandRow row) {
    row.maxSuffix = 2;
    return row;
}

CommandRow WholeSetting(std::string_view pattern, const ChannelSetting& setting) {
    return Describing(
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
        {.number = &setting});
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
