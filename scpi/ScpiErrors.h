#pragma once
// SCPI error codes with their standard texts, the exception a command throws, and the error queue
// each client of an instrument owns. Header-only and free of Qt so the grammar can be unit-tested
// and fuzzed on its own.

#include <array>
#include <cstddef>
#include <deque>
#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>

namespace tq::scpi {

inline constexpr int kNoError = 0;
inline constexpr int kCommandError = -100;
inline constexpr int kSyntaxError = -102;
inline constexpr int kDataTypeError = -104;
inline constexpr int kParameterNotAllowed = -108;
inline constexpr int kMissingParameter = -109;
inline constexpr int kUndefinedHeader = -113;
inline constexpr int kHeaderSuffixOutOfRange = -114;
inline constexpr int kInvalidSuffix = -131;
inline constexpr int kExecutionError = -200;    // needs a detail: what ended how, and why
inline constexpr int kSettingsConflict = -221;  // needs a detail saying why
inline constexpr int kDataOutOfRange = -222;
inline constexpr int kTooMuchData = -223;  // a detail says the most the target holds
inline constexpr int kIllegalParameterValue = -224;
inline constexpr int kTriggerIgnored = -211;
inline constexpr int kInitIgnored = -213;
inline constexpr int kHardwareError = -240;            // needs a detail explaining the failure
inline constexpr int kMassStorageError = -250;         // needs a detail explaining the failure
inline constexpr int kConfigurationMemoryLost = -315;  // the board lost power: what was restored
inline constexpr int kQueueOverflow = -350;
inline constexpr int kInputBufferOverrun = -363;

// The standard text of a code, or an empty view for a code this program never reports.
constexpr std::string_view StandardText(int code) {
    struct Entry {
        int code;
        std::string_view text;
    };
    constexpr std::array<Entry, 21> kTexts{{
        {kNoError, "No error"},
        {kCommandError, "Command error"},
        {kSyntaxError, "Syntax error"},
        {kDataTypeError, "Data type error"},
        {kParameterNotAllowed, "Parameter not allowed"},
        {kMissingParameter, "Missing parameter"},
        {kUndefinedHeader, "Undefined header"},
        {kHeaderSuffixOutOfRange, "Header suffix out of range"},
        {kInvalidSuffix, "Invalid suffix"},
        {kExecutionError, "Execution error"},
        {kTriggerIgnored, "Trigger ignored"},
        {kInitIgnored, "Init ignored"},
        {kSettingsConflict, "Settings conflict"},
        {kDataOutOfRange, "Data out of range"},
        {kTooMuchData, "Too much data"},
        {kIllegalParameterValue, "Illegal parameter value"},
        {kHardwareError, "Hardware error"},
        {kMassStorageError, "Mass storage error"},
        {kConfigurationMemoryLost, "Configuration memory lost"},
        {kQueueOverflow, "Queue overflow"},
        {kInputBufferOverrun, "Input buffer overrun"},
    }};
    for (const Entry& e : kTexts) {
        if (e.code == code) {
            return e.text;
        }
    }
    return {};
}

// SCPI string data: enclosed in double quotes, an embedded double quote doubled.
inline std::string QuoteString(std::string_view text) {
    std::string out;
    out.reserve(text.size() + 2);
    out += '"';
    for (char c : text) {
        out += c;
        if (c == '"') {
            out += '"';
        }
    }
    out += '"';
    return out;
}

// The most characters (bytes) an error's text holds, as SYSTem:ERRor? answers it.
inline constexpr std::size_t kMaxErrorText = 255;

// `text` cut to kMaxErrorText bytes where it is longer: whole UTF-8 characters, then "..." to
// mark the cut.
inline std::string CutErrorText(std::string text) {
    if (text.size() <= kMaxErrorText) {
        return text;
    }
    constexpr std::string_view kMark = "...";
    std::size_t end = kMaxErrorText - kMark.size();
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) {
        --end;  // text[end] continues a character: cut before the character
    }
    text.resize(end);
    text += kMark;
    return text;
}

// "<standard text>" or "<standard text>; <detail>", cut to kMaxErrorText. Throws
// std::invalid_argument for a code without a standard text, and for -200 / -221 / -240 without
// a detail: both are mistakes in the caller.
inline std::string ErrorText(int code, std::string_view detail) {
    const std::string_view standard = StandardText(code);
    if (standard.empty()) {
        throw std::invalid_argument("no SCPI text for error code " + std::to_string(code));
    }
    if (detail.empty() && (code == kExecutionError || code == kSettingsConflict ||
                           code == kHardwareError || code == kMassStorageError)) {
        throw std::invalid_argument("SCPI error " + std::to_string(code) + " needs a detail");
    }
    std::string text(standard);
    if (!detail.empty()) {
        text += "; ";
        text += detail;
    }
    return CutErrorText(std::move(text));
}

// The form SYSTem:ERRor? answers: <code>,"<text>".
inline std::string FormatError(int code, std::string_view detail = {}) {
    return std::to_string(code) + ',' + QuoteString(ErrorText(code, detail));
}

// What a command throws when it fails; the server queues it and carries on with the next command.
class ScpiError : public std::runtime_error {
public:
    explicit ScpiError(int code, std::string detail = {})
        : std::runtime_error(ErrorText(code, detail)), code(code), detail(std::move(detail)) {}

    const int code;
    const std::string detail;
};

// The errors one client has not read yet, oldest first. A full queue keeps its oldest entries and
// turns the newest into "Queue overflow", so a client that never reads cannot grow it.
class ErrorQueue {
public:
    static constexpr std::size_t kCapacity = 16;

    void Push(int code, std::string_view detail = {}) {
        if (observer_) {
            observer_(code);
        }
        if (entries_.size() < kCapacity) {
            entries_.push_back(FormatError(code, detail));
        } else {
            entries_.back() = FormatError(kQueueOverflow);
            if (observer_) {
                observer_(kQueueOverflow);
            }
        }
    }
    void Push(const ScpiError& error) { Push(error.code, error.detail); }

    // The oldest error, removed from the queue, or 0,"No error".
    std::string Next() {
        if (entries_.empty()) {
            return FormatError(kNoError);
        }
        std::string oldest = std::move(entries_.front());
        entries_.pop_front();
        return oldest;
    }

    // Told the code of each error pushed, also one the full queue loses: the client's standard
    // event status register follows them.
    void SetObserver(std::function<void(int code)> observer) { observer_ = std::move(observer); }

    void Clear() { entries_.clear(); }
    bool Empty() const { return entries_.empty(); }
    std::size_t Size() const { return entries_.size(); }

private:
    std::deque<std::string> entries_;
    std::function<void(int)> observer_;
};

}  // namespace tq::scpi
