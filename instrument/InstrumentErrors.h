#pragma once
// What an instrument call throws when it cannot do what it was asked. Each error's text says what
// failed, in words a user can act on.

#include <cstdint>
#include <stdexcept>
#include <string>

namespace tq {

class InstrumentError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A board request failed; `code` is the adapter's result (the table of board/AdapterResults.h).
class RequestError : public InstrumentError {
public:
    RequestError(int32_t code, const std::string& explanation)
        : InstrumentError(explanation), code_(code) {}
    int32_t Code() const { return code_; }

private:
    int32_t code_;
};

// A value outside what its target takes (a voltage beyond the range, a code beyond the register).
class ValueRangeError : public InstrumentError {
public:
    using InstrumentError::InstrumentError;
};

// The output protection refused a change: the text names the channel, the value and the limit.
class LimitError : public InstrumentError {
public:
    using InstrumentError::InstrumentError;
};

// The board answered, but with a reading that means nothing (the temperature converter's reading
// outside its 12 bits).
class ReadingError : public InstrumentError {
public:
    using InstrumentError::InstrumentError;
};

}  // namespace tq
