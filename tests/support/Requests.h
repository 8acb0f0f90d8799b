#pragma once
// The requests the tests expect, as the recording adapter writes them down (RecordedCall::Brief):
// the request in hex, then value, index, direction and length.

#include <string>
#include <vector>

namespace tq::testing {

using Requests = std::vector<std::string>;

// A register read-back: the read command byte, answered in three bytes.
inline std::string Read(int commandByte) {
    return "DD " + std::to_string(commandByte) + " 0 1 3";
}
// A write of `data` under `commandByte`, LDAC left alone.
inline std::string Write(int commandByte, int data) {
    return "DD " + std::to_string(commandByte) + " " + std::to_string(data) + " 0 0";
}
// A write that pulses LDAC after it ("Pulse After Data Write").
inline std::string Pulsed(int commandByte, int data) {
    return "D9 " + std::to_string(commandByte) + " " + std::to_string(data) + " 0 0";
}
// A write of the function register.
inline std::string FunctionWrite(int word) {
    return Write(1, word);
}
// The board's pin word.
inline std::string PinWord(int value, int index) {
    return "DE " + std::to_string(value) + " " + std::to_string(index) + " 0 0";
}

}  // namespace tq::testing
