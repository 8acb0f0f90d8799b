// Setups: captured from the board, written as JSON, read back with every check, and applied in
// the order that keeps the outputs from passing through intermediate values.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "adapter/fake/RecordingAdapter.h"
#include "adapter/simulated/SimulatedBoard.h"
#include "instrument/Setup.h"
#include "tests/support/RecordedInstrument.h"
#include "tests/support/SimulatedInstrument.h"

namespace tq {
namespace {

struct Simulated : testing::SimulatedInstrument {
    std::vector<uint16_t> Registers() const {
        std::vector<uint16_t> all;
        for (int ch = 0; ch < 4; ++ch)
            for (int reg : {2, 3, 4, 5})
                all.push_back(board.GetRegister(ch, reg));
        all.push_back(board.GetRegister(1, 0));
        return all;
    }
    std::vector<double> Outputs() const {
        return {board.OutputVolts(0), board.OutputVolts(1), board.OutputVolts(2),
                board.OutputVolts(3)};
    }
};

// Everything set differently on each channel, then saved, changed back and opened: the same
// registers and outputs come back.
TEST(SetupRoundTrip, GivesTheSameRegistersAndOutputs) {
    Simulated s;
    Instrument& in = s.instrument;
    for (int16_t ch = 0; ch < 4; ++ch) {
        in.SetRangeCode(ch, ch % 3);
        in.SetFineGain(ch, 5 - 7 * ch);
        in.SetOffset(ch, 30 * ch - 50);
        in.SetChannelVoltage(ch, 1.5f * ch - 4.0f);
    }
    in.SetFunctionFlag(FunctionFlag::LocalGndOffset, true);
    in.SetFunctionFlag(FunctionFlag::SdoDisable, true);
    in.SetD1Output(true);
    in.SetFunctionFlag(FunctionFlag::D1High, true);
    const std::vector<uint16_t> registers = s.Registers();
    const std::vector<double> outputs = s.Outputs();
    const std::string text = SetupToJson(CaptureSetup(in));
    EXPECT_EQ(s.state.FnSdoDisable, 1);  // read with the serial output on, then off again

    Simulated fresh;
    const tq::Setup setup = SetupFromJson(text);
    CheckSetup(setup, fresh.instrument);
    EXPECT_FALSE(FromAnotherBoard(setup, fresh.instrument));
    ApplySetup(fresh.instrument, setup);
    EXPECT_EQ(fresh.Registers(), registers);
    EXPECT_EQ(fresh.Outputs(), outputs);
    EXPECT_EQ(SetupToJson(CaptureSetup(fresh.instrument)), text);
}

// The order on the wire: CLR low, pins and function bits, ranges, gains and offsets, data
// without the pulse, one LOAD, CLR back; the pulse setting as it was.
TEST(SetupApply, HoldsTheOutputsAtZeroWhileItWrites) {
    testing::RecordedInstrument recorded;
    RecordingAdapter& adapter = recorded.adapter;
    Instrument& in = recorded.instrument;
    tq::Setup setup;
    setup.binaryCoding = false;
    setup.channels[1] = {49152, 2, -1, 3};
    ApplySetup(in, setup);
    EXPECT_EQ(adapter.Requests(),
              (std::vector<std::string>{"DE 151 0 0 0",  // CLR low
                                        "DE 147 0 0 0",  // two's complement
                                        "D9 25 2 0 0", "D9 33 63 0 0", "D9 41 3 0 0",
                                        "DD 17 49152 0 0",  // data without the pulse
                                        "DD 5 0 0 0",       // LOAD
                                        "DE 155 0 0 0"}));  // CLR back high
    EXPECT_TRUE(in.PulseAfterDataWrite());
}

// A calibration moves the outputs by microvolts: it is written without the CLR hold.
TEST(SetupApply, ACalibrationWritesOnlyGainAndOffset) {
    Simulated s;
    s.instrument.SetFineGain(2, 9);
    const tq::Setup calibration = CalibrationPart(CaptureSetup(s.instrument));
    const std::string text = SetupToJson(calibration);
    EXPECT_EQ(text.find("data"), std::string::npos);
    EXPECT_EQ(text.find("pins"), std::string::npos);
    testing::RecordedInstrument recorded{/*pulseAfterDataWrite=*/false,
                                         {"Simulated board", "SIMULATED"}};
    ApplySetup(recorded.instrument, SetupFromJson(text));
    ASSERT_EQ(recorded.adapter.Requests().size(), 8u);
    EXPECT_EQ(recorded.adapter.Requests()[4], "DD 34 9 0 0");
}

struct BadSetup {
    const char* name;
    std::string text;
    std::string error;  // the start of the message
    int16_t resolution = 16;
};

class SetupRefused : public ::testing::TestWithParam<BadSetup> {};

// Each bad setup is refused by key before anything is written.
TEST_P(SetupRefused, NamesTheKeyAndWritesNothing) {
    const BadSetup& c = GetParam();
    testing::RecordedInstrument recorded{/*pulseAfterDataWrite=*/false};
    recorded.instrument.SetResolution(c.resolution);
    try {
        CheckSetup(SetupFromJson(c.text), recorded.instrument);
        FAIL() << "accepted";
    } catch (const SetupError& e) {
        EXPECT_EQ(std::string(e.what()).rfind(c.error, 0), 0u) << e.what();
    }
    EXPECT_TRUE(recorded.adapter.calls.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Files, SetupRefused,
    ::testing::Values(
        BadSetup{"NotJson", "format: 1", "not a setup (JSON): line 1, column 1"},
        BadSetup{"NotAnObject", "[1]", "not a setup: the file must hold one JSON object"},
        BadSetup{"NoFormat", "{}", "format: missing"},
        BadSetup{"NewerFormat", R"({"format": 2})", "format: 2 is newer than this program"},
        BadSetup{"UnknownKey", R"({"format": 1, "colour": "red"})", "colour: not a key"},
        BadSetup{"UnknownChannelKey", R"({"format": 1, "channels": {"B": {"gain": 1}}})",
                 "channels.B.gain: not a key"},
        BadSetup{"NoSuchChannel", R"({"format": 1, "channels": {"E": {}}})",
                 "channels.E: not a key"},
        BadSetup{"OffsetOutOfRange", R"({"format": 1, "channels": {"C": {"offset": 128}}})",
                 "channels.C.offset: a whole number from -128 to 127"},
        BadSetup{"DataFraction", R"({"format": 1, "channels": {"A": {"data": 1.5}}})",
                 "not a setup (JSON): line 1, column 43: a whole number expected"},
        BadSetup{"PinNotABoolean", R"({"format": 1, "pins": {"clr": 1}})",
                 "pins.clr: true or false expected"},
        BadSetup{"UnknownCoding", R"({"format": 1, "pins": {"coding": "gray"}})",
                 "pins.coding: \"binary\" or \"twos-complement\" expected"},
        BadSetup{"FormatZero", R"({"format": 0})", "format: 0 is not a setup format"},
        BadSetup{"ProgramNotAString", R"({"format": 1, "program": 2})",
                 "program: a string expected"},
        BadSetup{"UnknownDevice", R"({"format": 1, "device": 12})",
                 "device: " + ResolutionsText() + " expected"},
        BadSetup{"DeviceBeyondInt", R"({"format": 1, "device": 4294967312})",
                 "device: " + ResolutionsText() + " expected"},
        BadSetup{"BoardNotAString", R"({"format": 1, "board": ["Simulated board"]})",
                 "board: a string expected"},
        BadSetup{"UnknownFunctionKey", R"({"format": 1, "function": {"d2High": true}})",
                 "function.d2High: not a key"},
        BadSetup{"FunctionFlagNotABoolean", R"({"format": 1, "function": {"d0High": "yes"}})",
                 "function.d0High: true or false expected"},
        BadSetup{"SwitchNotABoolean", R"({"format": 1, "pulseAfterDataWrite": null})",
                 "pulseAfterDataWrite: true or false expected"},
        BadSetup{"DataNotANumber", R"({"format": 1, "channels": {"A": {"data": "0x8000"}}})",
                 "channels.A.data: a whole number from"},
        // Of two faults the first in the file's order of parts is named: the format, what
        // wrote the setup, the flags, the channels.
        BadSetup{"FormatBeforeTheRest", R"({"program": 2, "format": 3})", "format: 3 is newer"},
        BadSetup{"OriginBeforeFlags", R"({"format": 1, "pins": {"clr": 1}, "board": 7})",
                 "board: a string expected"},
        BadSetup{"FlagsBeforeChannels",
                 R"({"format": 1, "channels": {"A": {"offset": 999}}, "pins": {"ldac": 0}})",
                 "pins.ldac: true or false expected"},
        BadSetup{"SixteenBitsOnFourteen", R"({"format": 1, "device": 16})",
                 "device: the setup is for the 16-bit device; this is the 14-bit one", 14},
        BadSetup{"FourteenBitDataRange", R"({"format": 1, "channels": {"A": {"data": 20000}}})",
                 "channels.A.data: 20000 is outside 0 to 16383 on the 14-bit device", 14},
        // Where the text stops being JSON, and why, as a person editing the file needs it.
        BadSetup{"Empty", "", "not a setup (JSON): line 1, column 1: a value expected"},
        BadSetup{"KeyTwice", "{\"format\": 1,\n \"format\": 1}",
                 "not a setup (JSON): line 2, column 10: the key \"format\" appears twice"},
        BadSetup{"Exponent", R"({"format": 1e0})",
                 "not a setup (JSON): line 1, column 13: a whole number expected"},
        BadSetup{"FractionOverflowing", R"({"format": 1e400})",
                 "not a setup (JSON): line 1, column 13: a whole number expected"},
        BadSetup{"LeadingZero", R"({"format": 01})",
                 "not a setup (JSON): line 1, column 12: a number with a leading zero"},
        BadSetup{"BeyondInt64", R"({"format": 9223372036854775808})",
                 "not a setup (JSON): line 1, column 12: a number too large"},
        BadSetup{"UnclosedString", R"({"format": 1, "program": "tq)",
                 "not a setup (JSON): line 1, column 29: the string has no closing quote"},
        BadSetup{"TabInString", "{\"format\": 1, \"program\": \"a\tb\"}",
                 "not a setup (JSON): line 1, column 28: a control character inside a string"},
        BadSetup{"NulInString", std::string("{\"format\": 1, \"program\": \"a\0b\"}", 32),
                 "not a setup (JSON): line 1, column 28: a control character inside a string"},
        BadSetup{"UnknownEscape", R"({"format": 1, "program": "\q"})",
                 "not a setup (JSON): line 1, column 28: an unknown escape in a string"},
        BadSetup{"ShortHexEscape", R"({"format": 1, "program": "\u00g0"})",
                 "not a setup (JSON): line 1, column 31: four hexadecimal digits expected after "
                 "\\u"},
        BadSetup{"LoneSurrogate", R"({"format": 1, "program": "\udc00"})",
                 "not a setup (JSON): line 1, column 32: a broken surrogate pair"},
        BadSetup{"NotUtf8", "{\"format\": 1, \"program\": \"\xc3\"}",
                 "not a setup (JSON): line 1, column 28: a string that is not UTF-8 text"},
        BadSetup{"TextAfterTheEnd", R"({"format": 1} {})",
                 "not a setup (JSON): line 1, column 15: text after the end of the document"},
        BadSetup{"NulAfterTheEnd", std::string("{\"format\": 1}\0", 14),
                 "not a setup (JSON): line 1, column 14: text after the end of the document"},
        BadSetup{"NoColon", R"({"format" 1})",
                 "not a setup (JSON): line 1, column 11: ':' expected"},
        BadSetup{"KeyWithoutQuotes", "{\"format\": 1,\n  \"pins\": {\"clr\": true,}}",
                 "not a setup (JSON): line 2, column 24: a key in double quotes expected"},
        BadSetup{"NoComma", R"({"format": 1 "device": 16})",
                 "not a setup (JSON): line 1, column 14: '}' expected"},
        BadSetup{"ArrayNotClosed", R"({"format": 1, "x": [1 2]})",
                 "not a setup (JSON): line 1, column 23: ']' expected"},
        BadSetup{"NoValue", R"({"format": 1, "device": })",
                 "not a setup (JSON): line 1, column 25: a value expected"},
        BadSetup{"MisspeltLiteral", R"({"format": tru})",
                 "not a setup (JSON): line 1, column 12: a value expected"},
        BadSetup{"NestedTooDeep",
                 R"({"format": 1, "x": )" + std::string(33, '[') + std::string(33, ']') + "}",
                 "not a setup (JSON): line 1, column 52: nested more than 32 deep"},
        // The Waveform Generator's definition: checked key by key as the rest.
        BadSetup{"WaveformKeyOfOtherUnits",
                 R"({"format": 1, "waveform": {"channels": {"B": {"amplitudeCodes": 5}}}})",
                 "waveform.channels.B.amplitudeCodes: not a key"},
        BadSetup{"WaveformEmptyList",
                 R"({"format": 1, "waveform": {"channels": {"D": {"listMicrovolts": []}}}})",
                 "waveform.channels.D.listMicrovolts: a list [ ... ] of 1 to 65536"},
        BadSetup{"LongerThanAMebibyte",
                 R"({"format": 1, "program": ")" + std::string(1 << 20, 'x') + "\"}",
                 "not a setup (JSON): the text is longer than 1 MiB"}),
    [](const auto& info) { return std::string(info.param.name); });

// The Generator's definition comes back as it was (in whole microvolts, codes, microseconds);
// opening it writes nothing, and a setup the program captures never holds it.
TEST(SetupWaveform, ComesBackAsItWasAndWritesNothing) {
    WaveformDefinition d;
    d.channels[0] = {true, WaveShape::Sine, false, 2.5, -0.125, 32, std::nullopt};
    d.channels[2] = {true,
                     WaveShape::List,
                     false,
                     std::nullopt,
                     std::nullopt,
                     std::nullopt,
                     std::vector<double>{1.5, -0.25, 10.5263}};
    d.dwellMilliseconds = 0.5;
    d.periods = 3;
    d.continuous = true;
    tq::Setup setup;
    setup.waveform = d;
    const tq::Setup back = SetupFromJson(SetupToJson(setup));
    ASSERT_TRUE(back.waveform.has_value());
    EXPECT_EQ(*back.waveform, d);
    EXPECT_EQ(WaveformDefinitionFromJson(WaveformDefinitionToJson(d)), d);

    testing::RecordedInstrument recorded{/*pulseAfterDataWrite=*/false};
    ApplySetup(recorded.instrument, back);
    EXPECT_TRUE(recorded.adapter.calls.empty());
    EXPECT_EQ(SetupToJson(CaptureSetup(recorded.instrument)).find("waveform"), std::string::npos);
}

// A byte order mark, as some editors write one, is no fault; a board name that is not UTF-8 is
// written so that the file reads back.
TEST(SetupText, ReadsWhatEditorsAndBoardsGiveIt) {
    EXPECT_EQ(SetupFromJson("\xef\xbb\xbf{\"format\": 1, \"device\": 14}").device, 14);
    tq::Setup setup;
    setup.board =
        "\xff"
        "1-4";
    const std::string text = SetupToJson(setup, 0);
    EXPECT_EQ(text,
              "{\"format\":1,\"board\":\"\xef\xbf\xbd"
              "1-4\"}");
    EXPECT_EQ(SetupFromJson(text).board,
              "\xef\xbf\xbd"
              "1-4");
}

TEST(SetupBoard, ASetupFromAnotherBoardIsToldApart) {
    testing::RecordedInstrument recorded{/*pulseAfterDataWrite=*/false, {"TQ2604X board", "1-4.2"}};
    const Instrument& in = recorded.instrument;
    EXPECT_TRUE(FromAnotherBoard(SetupFromJson(R"({"format": 1, "board": "1-3"})"), in));
    EXPECT_FALSE(FromAnotherBoard(SetupFromJson(R"({"format": 1, "board": "1-4.2"})"), in));
    EXPECT_FALSE(FromAnotherBoard(SetupFromJson(R"({"format": 1})"), in));
}

}  // namespace
}  // namespace tq
