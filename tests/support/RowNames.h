#pragma once
// Parameterised tests named by their rows ("ChangeNothing/RegisterOutOfRange"), never by the
// bytes of the row, which change from build to build and pad every line of CTest's output:
//
//   INSTANTIATE_TEST_SUITE_P(Errors, SimCommandRefusals, ::testing::ValuesIn(kRows),
//                            tq::testing::ByName{});           // the row's `name`
//   ... tq::testing::NamedBy<&SimCase::line>{});               // or another text of the row

#include <gtest/gtest.h>

#include <QString>
#include <sstream>
#include <string>
#include <string_view>
#include <type_traits>

namespace tq::testing {

// A test name from a text: its letters and digits, a sign before a number as a word, a run of
// anything else between them an '_' ("reg 1 0 0x10" -> "reg_1_0_0x10", "power-cycle" ->
// "power_cycle", "-40" -> "Minus40", "+.5" -> "Plus_5"); "Empty" or "Blank" for a text with
// neither.
inline std::string NameOf(std::string_view text) {
    std::string name;
    bool gap = false;
    char previous = ' ';
    const auto add = [&](std::string_view word) {
        if (gap && !name.empty())
            name += '_';
        name += word;
        gap = false;
    };
    for (const char c : text) {
        const auto isWord = [](char x) {
            return (x >= 'a' && x <= 'z') || (x >= 'A' && x <= 'Z') || (x >= '0' && x <= '9');
        };
        if (isWord(c))
            add(std::string_view(&c, 1));
        else if ((c == '-' || c == '+') && !isWord(previous))
            add(c == '-' ? "Minus" : "Plus");  // a sign, not a dash within a word
        else
            gap = true;
        previous = c;
    }
    if (name.empty())
        return text.empty() ? "Empty" : "Blank";
    if (previous == '.')
        name += "_Dot";  // "click ToyForm." is not "click ToyForm"
    return name;
}
inline std::string NameOf(const char* text) {
    return text == nullptr ? "None" : NameOf(std::string_view(text));
}
inline std::string NameOf(const std::string& text) {
    return NameOf(std::string_view(text));
}
inline std::string NameOf(const QString& text) {
    return NameOf(text.toStdString());
}

// A number's name: "0.0149" -> "0_0149", "-40" -> "Minus40".
template <typename Number>
requires std::is_arithmetic_v<Number> std::string NameOf(Number number) {
    std::ostringstream text;
    text << +number;
    return NameOf(text.str());
}

// Names each row by some of its members, texts or numbers, joined by '_'.
template <auto... Fields>
struct NamedBy {
    template <typename Row>
    std::string operator()(const ::testing::TestParamInfo<Row>& info) const {
        std::string name;
        ((name += (name.empty() ? "" : "_") + NameOf(info.param.*Fields)), ...);
        return name;
    }
};

// Names each row by itself, a text or a number.
struct ByValue {
    template <typename Row>
    std::string operator()(const ::testing::TestParamInfo<Row>& info) const {
        return NameOf(info.param);
    }
};

// Names each row by its `name`.
struct ByName {
    template <typename Row>
    std::string operator()(const ::testing::TestParamInfo<Row>& info) const {
        return NameOf(info.param.name);
    }
};

}  // namespace tq::testing
