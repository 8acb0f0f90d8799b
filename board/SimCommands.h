#pragma once
// The simulated board's bench controls as text commands, shared by the console's `sim` command
// and the program's --sim-setup file:
//   reg A R V        set register R at address A (R = 2 sets input and DAC registers)
//   get A R          print register R at address A as 0x... (R = 2 reads the input register)
//   output CH        print channel CH's output voltage in volts with 6 decimals
//   temp C           set the die temperature in degrees Celsius
//   unplug / plug    pull the cable out / plug it back (firmware and registers are kept)
//   power-cycle      the board loses power and comes back: registers at their power-on state
//   fail-download N  the next firmware download returns N
//   garble N         garble the next N replies
//   latency US       each vendor request takes US microseconds from now on (0 to 1000000)
//   nonlinear on/off the converter with or without its known INL bow and DNL steps
// Numbers are decimal or hexadecimal with 0x; signed and fractional only where the quantity is.

#include <cstddef>
#include <cstdint>
#include <istream>
#include <string>
#include <string_view>

#include "board/SimulatedBench.h"

namespace tq {

// An integer in decimal or 0x hexadecimal, optionally signed, with nothing else around it.
// False when the text is not such a number or lies outside [min, max].
bool ParseCommandInteger(std::string_view text, int64_t min, int64_t max, int64_t& value);

// A finite decimal number (signed, fractional) or a 0x hexadecimal integer.
bool ParseCommandReal(std::string_view text, double& value);

// Runs one command (without the word "sim"). On success appends what it prints to `output` (each
// line ends with '\n') and returns true; otherwise sets `error` to the reason and changes nothing.
bool RunSimCommand(SimulatorControl& sim, const std::string& args, std::string& output,
                   std::string& error);

// A set-up holds a few short lines; anything far larger is not one.
inline constexpr std::size_t kSimSetupMaxBytes = 1 << 20;
inline constexpr std::size_t kSimSetupMaxLineBytes = 4096;

// Applies a bench set-up: one command per line; blank lines and lines starting with # are
// skipped. Stops at the first failing line, a line longer than kSimSetupMaxLineBytes or a read
// error; `error` then names the line number.
bool RunSimSetup(SimulatorControl& sim, std::istream& in, std::string& error);

// Applies the set-up file at `path`: only a regular file of at most kSimSetupMaxBytes (a
// directory, a device or a pipe is refused before it is opened). False with the reason in
// `error` when the file cannot be read or a line fails.
bool RunSimSetupFile(SimulatorControl& sim, const std::string& path, std::string& error);

}  // namespace tq
