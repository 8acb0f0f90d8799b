#pragma once
// A setup: the board's whole configuration, or part of it (a calibration holds only each
// channel's fine gain and offset), as the program saves and opens it, and optionally the Waveform
// Generator's definition. The file format is JSON,
// "format": 1; docs/setup-format.md describes it. Every entry is optional: opening a setup writes
// only what it holds.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "instrument/Instrument.h"
#include "instrument/Waveform.h"

namespace tq {

inline constexpr int kSetupFormat = 1;

struct ChannelSetup {
    std::optional<int32_t> data;        // the N-bit code of the data register
    std::optional<int32_t> coarseGain;  // 0..3
    std::optional<int32_t> fineGain;    // signed, -32..31
    std::optional<int32_t> offset;      // signed, -128..127 (14-bit device: -4..3)
};

// The output protection a setup carries: every channel's limits and the options.
struct SetupProtection {
    std::array<ChannelLimits, kChannelCount> limits{};
    ProtectionOptions options;
};

struct Setup {
    std::string program;            // the program that saved it, for the reader
    std::optional<int16_t> device;  // 16 or 14 bits
    std::string board;              // the board it was saved from ("" : any board)

    std::optional<bool> ldac, clr, rstin, binaryCoding, driveD0, driveD1;
    std::optional<bool> pulseAfterDataWrite;
    std::optional<bool> localGroundOffset, d1Output, d1High, d0Output, d0High, serialOutputDisabled;
    std::array<ChannelSetup, kChannelCount> channels{};
    std::optional<SetupProtection> protection;
    // The Waveform Generator's definition: only the windows' Save Setup writes it; opening a
    // setup hands it to the Generator (WaveformRun::OfferDefinition) and writes nothing for it.
    std::optional<WaveformDefinition> waveform;
};

// What is wrong with a setup, naming the key ("channels.B.offset: 300 is outside -128 to 127").
class SetupError : public InstrumentError {
public:
    using InstrumentError::InstrumentError;
};

// The whole configuration: registers read back (with the serial output enabled for the reads),
// pins, function bits and the pulse setting from the program's state, which alone knows them.
Setup CaptureSetup(Instrument& instrument);
// Only each channel's fine gain and offset.
Setup CalibrationPart(const Setup& setup);

// `indent` 0: one line, no line feed (for the protocol).
std::string SetupToJson(const Setup& setup, int indent = 2);
// Reads and checks the whole text: not JSON, a newer format, unknown keys, values outside their
// register's range. Throws SetupError.
Setup SetupFromJson(std::string_view text);

// The Generator's definition alone, as the program keeps it between runs (the setup's
// "waveform" object); reading it throws SetupError naming the key.
std::string WaveformDefinitionToJson(const WaveformDefinition& definition);
WaveformDefinition WaveformDefinitionFromJson(std::string_view text);

// Whether the setup fits this instrument: its device's resolution and its values' ranges there.
// Throws SetupError.
void CheckSetup(const Setup& setup, const Instrument& instrument);
// Saved from a board other than this one (a setup that names no board fits any).
bool FromAnotherBoard(const Setup& setup, const Instrument& instrument);

// Writes the setup so that no output passes through an intermediate value: CLR low first
// (outputs held at 0 V), pins and function bits, each channel's range, fine gain and offset, the
// data registers without the pulse, one LOAD, then CLR as the setup (or the board before) has
// it. A setup without data, range, coding or pin entries (a calibration) is written without the
// CLR hold. Check it first.
//
// With output protection (in effect, or carried by the setup) the outputs the setup would
// produce are judged first against both the limits in effect and the setup's own, and a refusal
// (LimitError) writes nothing; the setup's protection then takes effect. Where a ramp is set the
// data registers are written with the code of 0 V during the hold, and the outputs ramp to the
// setup's codes after CLR is released.
void ApplySetup(Instrument& instrument, const Setup& setup);

}  // namespace tq
