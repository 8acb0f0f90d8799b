// The command tree against the simulated board: each exchange is a line sent and the response
// line expected (empty when the line holds no query), in order, from power-on. A line "<unplug>"
// or "<plug>" unplugs or plugs the simulated board in instead, "<power-cycle>" makes it lose
// power without the program's knowing, "<unplug after N>" unplugs it once N more requests are
// done; a line "2>..." is a second client's.

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "adapter/fake/RecordingAdapter.h"
#include "adapter/simulated/SimulatedBoard.h"
#include "board/BoardRequests.h"
#include "core/DeviceState.h"
#include "core/Version.h"
#include "instrument/MeterRuns.h"
#include "remote/InstrumentCommands.h"
#include "tests/support/ChannelHolder.h"
#include "tests/support/FakeClock.h"
#include "tests/support/FakeMeter.h"
#include "tests/support/RecordedInstrument.h"
#include "tests/support/SimulatedInstrument.h"

namespace tq {
namespace {

struct Board : testing::SimulatedInstrument {
    InstrumentCommands commands{instrument, &board};
    ScpiSession session{commands};
    ScpiSession second{commands};
    int unplugIn = 0;
    Board() {
        instrument.AddListener([this](const InstrumentChange& change) {
            if (change.kind == InstrumentChange::Kind::RequestResult && unplugIn > 0 &&
                --unplugIn == 0)
                board.Unplug();
        });
    }
    std::string Send(const std::string& line) {
        if (line.rfind("2>", 0) == 0)
            return second.Execute(line.substr(2)).value_or("");
        return session.Execute(line).value_or("");
    }
};

using Exchange = std::pair<std::string, std::string>;

struct ConversationCase {
    const char* name;
    std::vector<Exchange> exchanges;
};

class Conversation : public ::testing::TestWithParam<ConversationCase> {};

TEST_P(Conversation, AnswersAsExpected) {
    Board b;
    for (const auto& [line, expected] : GetParam().exchanges) {
        if (line == "<unplug>")
            b.board.Unplug();
        else if (line == "<plug>")
            b.board.Plug();
        else if (line == "<power-cycle>")
            b.board.PowerCycle();
        else if (line.rfind("<unplug after ", 0) == 0)
            b.unplugIn = std::stoi(line.substr(14));
        else
            EXPECT_EQ(b.Send(line), expected) << line;
    }
}

const std::string kNoError = "0,\"No error\"";
const std::string kPowerLoss =
    "-315,\"Configuration memory lost; the board lost power: outputs at 0 V, ranges and "
    "calibration restored\"";
// Every output at its 0 V code: DAC A with its offset register of 12 (12/8 LSB) and the
// amplifiers' own offsets.
const std::string kAtZero = "0.0008195007;-0.00022;0.00018;-0.00041";
const std::string kAboveZero = "DAC A: 0.000457764 V is above its limit of 0 V";
const std::string kNoAnswer =
    "The board did not answer a USB request (input/output error). Check the USB cable and the "
    "board's power; the program goes on by itself once the board answers again.";
const std::string kVersion = kProgramVersion;

INSTANTIATE_TEST_SUITE_P(
    Protocol, Conversation,
    ::testing::Values(
        ConversationCase{"Common",
                         {{"*IDN?", "TQ2604X-EVAL,TQ2604X,SIMULATED," + kVersion},
                          {"*OPC?;*TST?;*STB?", "1;0;0"},
                          {"*WAI;*CLS", ""},
                          {"SYST:VERS?;SYSTEM:RESOLUTION?", "1999.0;16"}}},
        // DAC B's fixed error is -1.4e-4 gain and -220 uV.
        ConversationCase{
            "VoltageOnItsChannel",
            {{"SOUR2:VOLT 5", ""},
             {"SOUR2:VOLT?;BENC:VOLT2?;BENC:VOLT1?", "5;4.99908;0.00035"},
             {":source2:voltage:level:immediate:amplitude 2500 mV;SOUR2:DATA?", "40960"}}},
        // After ';' a header is looked up below the path the previous command left, then from
        // the root (so every line written from the root works as before); a leading ':' goes
        // to the root, a common command keeps the path.
        ConversationCase{
            "PathKeptAfterASemicolon",
            {{"SOUR2:VOLT 1;DATA?;VOLT?;:SOUR1:DATA?", "36045;1.000061;32768"},
             {"SOUR2:VOLT 1;SYST:ERR?;SOUR2:DATA?", kNoError + ";36045"},
             {"SOUR2:VOLT:LIM:HIGH 2;LOW -2;HIGH?;*OPC?;LOW?;SOUR2:VOLT:LIM:HIGH NONE;LOW NONE",
              "2;1;-2"},
             {"SOUR3:VOLT:RANG 10.2564;:VOLT:RANG?;SOUR3:VOLT:RANG?", "10;10.2564"},
             {"SOUR5:VOLT 1;DATA 5;SOUR1:DATA?;SYST:ERR?;ERR?",
              "32768;-114,\"Header suffix out of range\";-114,\"Header suffix out of range\""}}},
        ConversationCase{"RefusedValuesWriteNothing",
                         {{"SOUR1:VOLT 10.5", ""},
                          {"SOUR1:DATA 70000;SOUR1:DATA 1.5;SOUR1:VOLT NAN;SOUR1:VOLT 1 A", ""},
                          {"SOUR1:VOLT:RANG 11;SOUR1:DATA?", "32768"},
                          {"SYST:ERR?",
                           "-222,\"Data out of range; 10.5 V is outside the channel's range, "
                           "-10 V to 10 V\""},
                          {"SYST:ERR?;SYST:ERR?;SYST:ERR?;SYST:ERR?;SYST:ERR?",
                           "-222,\"Data out of range; 70000 is outside 0 to 65535\";-224,"
                           "\"Illegal parameter value\";-104,\"Data type error\";-131,\"Invalid "
                           "suffix\";-224,\"Illegal parameter value; the ranges are 10 V, 10.2564 "
                           "V and 10.5263 V\""},
                          {"SOUR1:VOLT 1e300;SOUR1:VOLT:RANG 1e300;SOUR1:DATA?;SYST:ERR?",
                           "32768;-222,\"Data out of range; 1e+300 V is outside the channel's "
                           "range, -10 V to 10 V\""}}},
        ConversationCase{"RangeByItsVoltsAndMax",
                         {{"SOUR3:VOLT:RANG 10.2565", ""},
                          {"SOUR3:VOLT:RANG?;SOUR3:VOLT MAX;SOUR3:DATA?", "10.2564;65535"},
                          {"REG:WRIT 3,3,3;SOUR4:VOLT:RANG?", "10"}}},
        ConversationCase{"AllDacsWithDacAsRange",
                         {{"SOUR1:VOLT:RANG 10.5263;SOUR:ALL:VOLT 10", ""},
                          {"SOUR4:DATA?;SOUR:ALL:VOLT?", "63898;9.91E+37"},
                          {"SYST:ERR?", "-113,\"Undefined header\""}}},
        ConversationCase{"ReadBacksWithTheSerialOutputOff",
                         {{"SOUR1:DATA 4660;CONT:SDO OFF", ""},
                          {"SOUR1:DATA?;CONT:SDO?;REG:READ? 1,0;CONT:SDO?", "4660;0;0;0"},
                          // A voltage's write reads the range back with it enabled too.
                          {"SOUR1:VOLT 2.5;VOLT?;:CONT:SDO?;:SYST:ERR?", "2.5;0;" + kNoError}}},
        ConversationCase{"PulseAndLdac",
                         {{"SOUR:PULS?;PIN:LDAC 0;SYST:ERR?",
                           "1;-221,\"Settings conflict; LDAC stays high while SOURce:PULSe is ON; "
                           "turn it OFF first\""},
                          {"SOUR:PULS OFF;SOUR1:VOLT 5;BENC:VOLT1?", "0.00035"},
                          {"OUTP:LOAD;BENC:VOLT1?", "5.0014"}}},
        // *RST brings binary coding back with the rest of the start state.
        ConversationCase{"CodingClearAndReset",
                         {{"SOUR:COD TWOS;SOUR2:VOLT -2.5;SOUR2:DATA?;SOUR2:VOLT?", "57344;-2.5"},
                          {"*RST;SOUR2:DATA?;BENC:VOLT2?;SOUR:COD?", "32768;-0.00022;BIN"}}},
        // The start state with the outputs held at 0 V; calibration data, limits, the status
        // enables and the error queue stay.
        ConversationCase{
            "ResetToTheStartState",
            {{"SOUR:COD TWOS;SOUR:PULS OFF;PIN:LDAC 0;PIN:RST 0;CONT:GND ON;CONT:SDO OFF;"
              "DIG1:DIR OUT;DIG1:LEV 1;DIG2:DRIV 1;SOUR3:VOLT:RANG 10.5263;SOUR3:GAIN 5;"
              "SOUR3:OFFS -7;SOUR4:DATA 100;SOUR2:VOLT:LIM:HIGH 2;*ESE 36;STAT:OPER:ENAB 8;NOPE",
              ""},
             {"*RST", ""},
             {"SOUR:COD?;SOUR:PULS?;PIN:LDAC?;PIN:CLR?;PIN:RST?;CONT:GND?;CONT:SDO?;DIG1:DIR?;"
              "DIG2:DRIV?;SOUR3:VOLT:RANG?;SOUR4:DATA?;BENC:VOLT4?",
              "BIN;1;1;1;1;0;1;IN;0;10;32768;-0.00041"},
             {"SOUR3:GAIN?;SOUR3:OFFS?;SOUR2:VOLT:LIM:HIGH?;*ESE?;STAT:OPER:ENAB?;SYST:ERR?",
              "5;-7;2;36;8;-113,\"Undefined header\""}}},
        // Each error sets its class's event bit; the status byte sums the enabled ones.
        ConversationCase{"StandardEventStatus",
                         {{"*ESE 48;*ESE?;*SRE 255;*SRE?;*STB?", "48;191;0"},
                          {"NOPE;SOUR1:VOLT 11;*STB?;*ESR?;*ESR?;*STB?", "100;48;0;68"},
                          {"*CLS;*STB?;*ESE 256;*ESR?;*ESE?", "0;16;48"},
                          {"*OPC;*ESR?;*OPC?;*WAI;*OPT?", "1;1;0"}}},
        ConversationCase{"ErrorQueueAtOnce",
                         {{"SYST:ERR:ALL?;SYST:ERR:COUN?", "0,\"No error\";0"},
                          {"NOPE;SOUR1:DATA 1.5;SYST:ERR:COUN?;SYST:ERR:ALL?;SYST:ERR:COUN?",
                           "2;-113,\"Undefined header\",-224,\"Illegal parameter value\";0"}}},
        // A refusal by the limits is a QUEStionable event; a ramp an OPERation event.
        ConversationCase{
            "LimitAndRampEvents",
            {{"SOUR2:VOLT:LIM:HIGH 2;STAT:QUES:ENAB 1024;STAT:OPER:ENAB 256", ""},
             {"SOUR2:VOLT 3;STAT:QUES:COND?;*STB?;STAT:QUES?;STAT:QUES?;*STB?", "0;12;1024;0;4"},
             {"SOUR2:VOLT:RAMP:STEP 0.5;SOUR2:VOLT 1.5;STAT:OPER:COND?;*STB?", "0;132"},
             {"STAT:OPER?;STAT:OPER?;STAT:PRES;STAT:QUES:ENAB?;STAT:OPER:ENAB?", "256;0;0;0"}}},
        // LINK is a condition: set while the board does not answer, clear once it does.
        ConversationCase{
            "BoardLinkIsQuestionable",
            {{"<unplug>", ""},
             {"SOUR1:VOLT 1;STAT:QUES:COND?;STAT:QUES?;STAT:QUES?;*ESR?", "512;512;0;16"},
             {"<plug>", ""},
             {"SOUR1:VOLT 1;STAT:QUES:COND?;STAT:QUES?", "0;0"}}},
        // Slots hold whole setups; an empty one says so.
        ConversationCase{
            "SavedSetupSlots",
            {{"SOUR:COD TWOS;SOUR2:VOLT 5;SOUR3:GAIN 7;*SAV 3;*RST;SOUR3:GAIN 0", ""},
             {"*RCL 3;SOUR2:VOLT?;SOUR3:GAIN?;SOUR:COD?", "5;7;TWOS"},
             {"*RCL 4;*SAV 10;*RCL;SYST:ERR:ALL?",
              "-224,\"Illegal parameter value; setup slot 4 is empty\",-222,\"Data out of "
              "range; 10 is outside 0 to 9\",-109,\"Missing parameter\""}}},
        ConversationCase{
            "OutputProtection",
            {{"SOUR2:VOLT:LIM:HIGH 2;SOUR2:VOLT:LIM:LOW -2000 MV;SOUR2:VOLT:LIM:HIGH?;"
              "VOLT:LIM:LOW?;SOUR2:VOLT:LIM:LOW?",
              "2;-9.9E+37;-2"},
             {"SOUR2:VOLT 3;SYST:ERR?;SOUR2:DATA?",
              "-221,\"Settings conflict; DAC B: 3 V is above its limit of 2 V\";32768"},
             {"SOUR2:VOLT:LIM:LOW 1;SYST:ERR?;SOUR2:VOLT:LIM:LOW?",
              "-222,\"Data out of range; DAC B: the low limit 1 V is above 0 V; the window must "
              "hold 0 V, the safe state\";-2"},
             {"SOUR2:VOLT 1.5;SOUR2:DATA 60000;SOUR:ALL:VOLT -2.5;SOUR:COD TWOS;SOUR2:DATA?",
              "37683"},
             {"SYST:ERR?;SYST:ERR?;SYST:ERR?;SYST:ERR?",
              "-221,\"Settings conflict; DAC B: 8.31055 V is above its limit of 2 V\";-221,"
              "\"Settings conflict; DAC B: -2.5 V is below its limit of -2 V\";-221,\"Settings "
              "conflict; DAC B: -8.50006 V is below its limit of -2 V\";0,\"No error\""},
             {"SOUR2:VOLT:RAMP:STEP 0.5;SOUR2:VOLT:RAMP:WAIT 20 MS;SOUR2:VOLT:RAMP:STEP?;"
              "SOUR2:VOLT:RAMP:WAIT?;SOUR2:VOLT -1.5;OUTP:RAMP?;SOUR2:DATA?",
              "0.5;0.02;0;27853"},
             {"OUTP:SAFE:EXIT ON;OUTP:SAFE:EXIT?;OUTP:SAFE:DISC?;OUTP:SAFE:RET?", "1;0;0"},
             {"SOUR2:VOLT:LIM:HIGH NONE;SOUR2:VOLT:RAMP:STEP 0;SOUR2:VOLT:LIM:HIGH?;"
              "SOUR2:VOLT:RAMP:STEP?;SOUR2:VOLT 9;OUTP:SAFE;SOUR1:DATA?;SOUR2:DATA?",
              "9.9E+37;0;32768;32768"}}},
        ConversationCase{"DigitalLines",
                         {{"DIG1:DIR OUT;DIG1:LEV 1;DIG1:STAT?;BENC:DIG1?", "1;1"},
                          {"DIG2:DRIV 1;DIG2:STAT?;BENC:DIG2?;DIG2:DIR?", "1;1;IN"},
                          {"DIG1:DRIV 1;DIG3:STAT?;SYST:ERR?",
                           "9.91E+37;-221,\"Settings conflict; D0 is an output of the converter: "
                           "the board drives it only as an input (DIGital1:DIRection IN)\""}}},
        ConversationCase{
            "GainOffsetAndFourteenBits",
            {{"SOUR3:GAIN -3;SOUR3:OFFS 100;SOUR3:GAIN?;SOUR3:OFFS?", "-3;100"},
             {"SOUR3:GAIN 32;SYST:ERR?", "-222,\"Data out of range; 32 is outside -32 to 31\""},
             {"SYST:RES 14;*IDN?;SOUR1:DATA 16383;SOUR1:DATA?;REG:READ? 0,2",
              "TQ2604X-EVAL,TQ2404,SIMULATED," + kVersion + ";16383;65532"},
             {"SOUR1:OFFS -4;SOUR1:OFFS?;SOUR1:OFFS 4;SYST:ERR?",
              "-4;-222,\"Data out of range; 4 is outside -4 to 3\""},
             {"SOUR1:OFFS? MIN;SOUR1:DATA? MAX;SOUR1:DATA? DEF;SOUR1:DATA MAX;"
              "SOUR1:DATA?",
              "-4;16383;8192;16383"},
             // A setup is checked against the device in use, and every bound follows it back.
             {"SYST:SET #242{\"format\":1,\"channels\":{\"A\":{\"offset\":5}}};SYST:ERR?",
              "-224,\"Illegal parameter value; channels.A.offset: 5 is outside -4 to 3 on the "
              "14-bit device\""},
             {"SYST:RES 16;SOUR1:OFFS? MIN;SOUR1:DATA? MAX;SOUR1:OFFS 5;SOUR1:OFFS?",
              "-128;65535;5"}}},
        // Numbers with multipliers or in #H/#B/#Q, MINimum/MAXimum/DEFault set and asked.
        ConversationCase{
            "NumbersAndWords",
            {{"SOUR1:VOLT 1500 mV;SOUR1:DATA?;SOUR1:VOLT 250000 UV;SOUR1:DATA?;"
              "SOUR1:VOLT 0.002 KV;SOUR1:DATA?",
              "37683;33587;39322"},
             {"SOUR1:DATA #HFFFF;SOUR1:DATA?;SOUR1:DATA #b1010;SOUR1:DATA?;SOUR1:DATA #Q777;"
              "SOUR1:DATA?;REG:WRIT #H1,#H2,#H1234;REG:READ? 1,2",
              "65535;10;511;4660"},
             {"SOUR1:VOLT? MAX;SOUR1:VOLT? MIN;SOUR1:VOLT? DEF;SOUR1:DATA? MAX;SOUR1:DATA? DEF;"
              "SOUR1:GAIN? MIN;SOUR1:OFFS? MAXIMUM",
              "10;-10;0;65535;32768;-32;127"},
             {"SOUR3:VOLT:RANG MAX;SOUR3:VOLT:RANG?;SOUR3:VOLT MAX;SOUR3:DATA?;SOUR3:VOLT MIN;"
              "SOUR3:DATA?;SOUR3:VOLT:RANG? MIN;SOUR3:VOLT:RANG DEF;SOUR3:VOLT:RANG?",
              "10.5263;65535;0;10;10"},
             {"SOUR1:GAIN 5;SOUR1:GAIN DEF;SOUR1:GAIN?;SOUR1:VOLT 3;SOUR1:VOLT DEF;SOUR1:DATA?",
              "0;32768"},
             {"SOUR:COD TWOS;SOUR1:DATA? DEF;SOUR1:DATA 5;SOUR1:DATA DEF;SOUR1:DATA?;SOUR:COD BIN",
              "0;0"},
             {"SOUR:ALL:GAIN MAX;SOUR4:GAIN?;SOUR:ALL:GAIN DEF;SOUR4:GAIN?;SOUR:ALL:DATA MIN;"
              "SOUR4:DATA?",
              "31;0;0"},
             {"SOUR1:VOLT? 5;SOUR1:VOLT? ON;SOUR1:DATA? DEF,1;REG:WRIT 1,2,DEF;SYST:ERR?;ERR?;ERR?;"
              "ERR?",
              "9.91E+37;9.91E+37;9.91E+37;-108,\"Parameter not allowed\";-224,\"Illegal parameter "
              "value; the query takes MINimum, MAXimum or DEFault\";-108,\"Parameter not "
              "allowed\";-224,\"Illegal parameter value; this setting has no default\""},
             {"SOUR2:VOLT:LIM:HIGH? MAX;SOUR2:VOLT:LIM:LOW? MIN;SOUR2:VOLT:LIM:HIGH? DEF;"
              "SOUR2:VOLT:RAMP:STEP? MAX;SOUR2:VOLT:RAMP:WAIT? MAX;SOUR2:VOLT:RAMP:WAIT? DEF",
              "10.5263;-10.5263;9.9E+37;21.0526;10;0"},
             {"SOUR2:VOLT:LIM:HIGH MIN;SOUR2:VOLT:LIM:HIGH?;SOUR2:VOLT:LIM:HIGH DEF;"
              "SOUR2:VOLT:LIM:HIGH?;SOUR2:VOLT:LIM:LOW MAX;SOUR2:VOLT:LIM:LOW?;"
              "SOUR2:VOLT:LIM:LOW DEF",
              "0;9.9E+37;0"},
             {"SOUR2:VOLT:RAMP:WAIT 5 US;SOUR2:VOLT:RAMP:WAIT?;SOUR2:VOLT:RAMP:WAIT 11;SYST:ERR?;"
              "SOUR2:VOLT:RAMP:WAIT DEF;SOUR2:VOLT:RAMP:WAIT?",
              "5E-06;-222,\"Data out of range; 11 s is outside 0 s to 10 s\";0"},
             {"SOUR2:VOLT:LIM:HIGH 20;SYST:ERR?",
              "-222,\"Data out of range; DAC B: the high limit must lie within -10.5263 V to "
              "10.5263 V\""}}},
        // A block's bytes are its own: white space at its end, line feeds, separators.
        ConversationCase{
            "SetupBlocks",
            {{"SYST:SET #213{\"format\":1} ;:SYST:ERR?", kNoError},
             {"SYST:SET #244{\n  \"format\": 1,\n  \"pins\": {\"clr\": false}\n}\n;SYST:ERR?;"
              "PIN:CLR?",
              kNoError + ";0"},
             {"SYST:SET #0{\"format\":1,\"pins\":{\"clr\":true}}", ""},
             {"PIN:CLR?;SYST:ERR?", "1;" + kNoError},
             // #0 runs to the line's end: what follows is the block's.
             {"SYST:SET #0{\"format\":1};PIN:CLR?", ""},
             {"SYST:ERR?",
              "-224,\"Illegal parameter value; not a setup (JSON): line 1, column 13: text after "
              "the end of the document\""}}},
        // Every on/off setting takes ON, OFF, 1 and 0, answers 1 or 0 and refuses anything else.
        ConversationCase{
            "OnOffSettings",
            {{"CONT:GND ON;CONT:GND?;CONT:GND 0;CONT:GND?;PIN:CLR OFF;PIN:CLR?;PIN:CLR 1", "1;0;0"},
             {"PIN:RST 0;PIN:RST?;PIN:RST ON;OUTP:SAFE:RET 1;OUTP:SAFE:RET?;OUTP:SAFE:DISC?",
              "0;1;0"},
             {"CONT:GND 2;PIN:CLR;SOUR:PULS \"ON\";PIN:LDAC? 1;OUTP:SAFE:EXIT 1 V", "9.91E+37"},
             {"SYST:ERR?;SYST:ERR?;SYST:ERR?;SYST:ERR?;SYST:ERR?",
              "-224,\"Illegal parameter value\";-109,\"Missing parameter\";-104,\"Data type "
              "error\";-108,\"Parameter not allowed\";-131,\"Invalid suffix\""},
             {"DIG1:LEV? 1;DIG3:LEV 1;BENC:DIG3?;SYST:ERR?;SYST:ERR?;SYST:ERR?",
              "9.91E+37;9.91E+37;-108,\"Parameter not allowed\";-114,\"Header suffix out of "
              "range\";-114,\"Header suffix out of range\""}}},
        ConversationCase{"TemperatureFromTheBench",
                         {{"BENC:TEMP 40;BENC:TEMP?", "40"},
                          {"MEAS:TEMP?;MEAS:TEMP:VOLT?", "39.925297;1.4771265"},
                          {"BENC:TEMP? MIN;BENC:TEMP? MAX;BENC:TEMP 200;SYST:ERR?",
                           "-40;150;-222,\"Data out of range; 200 is outside -40 to 150\""}}},
        // A cable glitch keeps the board's registers; a power cycle loses them, and the program
        // restores the range it knew before it codes the next voltage.
        ConversationCase{
            "LinkAndPowerOfTheBench",
            {{"BENC:LINK OFF;BENC:LINK?;SOUR1:VOLT 2;*STB?", "0;4"},
             {"*CLS;BENC:LINK ON;BENC:LINK?;SOUR1:VOLT 5;BENC:VOLT1?;*STB?", "1;5.0014;0"},
             {"SOUR1:VOLT:RANG 10.5263;BENC:POW:CYCL;SOUR1:VOLT 5;*CLS;SOUR1:VOLT 5;"
              "SOUR1:VOLT:RANG?;BENC:VOLT1?",
              "10.5263;5.0014567"}}},
        // After a power loss every client is told, the range and calibration are back on the
        // board (its read-backs), every output is at 0 V (DAC A: 12/8 LSB of offset and its
        // own 350 uV) and the next voltage lands where it did before, in either coding.
        ConversationCase{
            "PowerLossInBinaryCoding",
            {{"SOUR1:VOLT:RANG 10.2564;:SOUR1:GAIN 5;OFFS 12;VOLT 5;:BENC:VOLT1?", "5.0021205"},
             {"BENC:POW:CYCL;*ESR?;SYST:ERR?", "136;" + kPowerLoss},
             {"2>*ESR?;SYST:ERR?;STAT:QUES:COND?", "136;" + kPowerLoss + ";0"},
             {"REG:READ? 0,4;REG:READ? 0,5;REG:READ? 0,3;REG:READ? 0,2", "5;12;1;32768"},
             {"BENC:VOLT1?;BENC:VOLT2?;BENC:VOLT3?;BENC:VOLT4?", kAtZero},
             {"SOUR1:VOLT 5;SYST:ERR?;BENC:VOLT1?", kNoError + ";5.0021205"}}},
        ConversationCase{
            "PowerLossInTwosComplement",
            {{"SOUR:COD TWOS;:SOUR1:VOLT:RANG 10.2564;:SOUR1:GAIN 5;OFFS 12;VOLT 5;"
              ":BENC:VOLT1?",
              "5.0021205"},
             {"BENC:POW:CYCL;*ESR?;SYST:ERR?", "136;" + kPowerLoss},
             {"2>*ESR?;SYST:ERR?", "136;" + kPowerLoss},
             {"REG:READ? 0,4;REG:READ? 0,5;REG:READ? 0,3;REG:READ? 0,2", "5;12;1;0"},
             {"BENC:VOLT1?;BENC:VOLT2?;BENC:VOLT3?;BENC:VOLT4?;SOUR:COD?", kAtZero + ";TWOS"},
             {"SOUR1:VOLT 5;SYST:ERR?;BENC:VOLT1?", kNoError + ";5.0021205"}}},
        // The output protection judges releasing CLR: with DAC A's offset above its limit of
        // 0 V at the 0 V code, CLR stays low and the text says why.
        ConversationCase{"PowerLossHoldsClrWhereALimitRefuses",
                         {{"SOUR1:OFFS 12;VOLT:LIM:HIGH 0;:BENC:VOLT1?", "0.00080776366"},
                          {"BENC:POW:CYCL;SYST:ERR?;PIN:CLR?;BENC:VOLT1?;REG:READ? 0,5",
                           "-315,\"Configuration memory lost; the board lost power: outputs at 0 "
                           "V, ranges and calibration restored; CLR held low: " +
                               kAboveZero + "\";0;0;12"},
                          {"PIN:CLR 1;SYST:ERR?", "-221,\"Settings conflict; " + kAboveZero + "\""},
                          {"SOUR1:VOLT:LIM:HIGH NONE;:PIN:CLR 1;:BENC:VOLT1?", "0.00080776366"}}},
        // The board stops answering after the pins and the function word: what is owed is
        // named, CALibration holds until the next return restores it, and every client is told
        // again.
        ConversationCase{
            "PowerLossCutShort",
            {{"SOUR2:GAIN -3;OFFS 7", ""},
             {"<unplug after 6>", ""},
             {"BENC:POW:CYCL;SYST:ERR?;STAT:QUES:COND?;BENC:VOLT2?",
              "-315,\"Configuration memory lost; the board lost power: outputs at 0 V, not "
              "restored: DAC B fine gain, offset; CLR held low: the board stopped "
              "answering\";768;0"},
             {"BENC:LINK ON;:SOUR2:GAIN?;OFFS?;:SYST:ERR?;STAT:QUES:COND?;:BENC:VOLT2?",
              "-3;7;" + kPowerLoss + ";0;4.7028807e-05"}}},
        // A glitch: the board kept its registers, nothing is told beyond the failed request's
        // -240, and no output moves.
        ConversationCase{
            "GlitchMovesNothing",
            {{"SOUR1:VOLT:RANG 10.2564;:SOUR1:GAIN 5;VOLT 5;:SOUR2:VOLT -3", ""},
             {"BENC:LINK OFF;:SOUR1:VOLT 2;:BENC:LINK ON;:SOUR3:VOLT 1;*ESR?", "16"},
             {"SYST:ERR?;SYST:ERR?",
              "-240,\"Hardware error; board request failed (-1): " + kNoAnswer + "\";" + kNoError},
             {"2>*ESR?;SYST:ERR?", "0;" + kNoError},
             {"BENC:VOLT1?;BENC:VOLT2?;BENC:VOLT3?;SOUR1:GAIN?",
              "5.0016513;-2.999678;1.000561;5"}}},
        // A power loss the program finds through a client's request: a read it interrupted is
        // taken again and the setting answers no error; a write that did not reach its output
        // answers -240.
        ConversationCase{
            "ErrorsDescribeTheOutput",
            {{"SOUR3:VOLT:RANG 10.5263;:SOUR3:OFFS -20", ""},
             {"<power-cycle>", ""},
             {"SOUR3:VOLT 9;SYST:ERR?;SYST:ERR?;BENC:VOLT3?",
              kPowerLoss + ";" + kNoError + ";9.002359"},
             {"<power-cycle>", ""},
             {"SOUR3:DATA 50000;SYST:ERR?",
              "-240,\"Hardware error; board request failed (-1): " + kNoAnswer + "\""},
             {"SOUR3:DATA?;SYST:ERR?;BENC:VOLT3?", "32768;" + kPowerLoss + ";-0.0006230929"}}},
        // OUTPut is the CLR pin: OFF holds every output at 0 V with the registers kept, ON
        // brings them back, judged as any release of CLR (refused beyond a ramp step, with the
        // way out); *RST turns it on.
        ConversationCase{
            "OutputSwitch",
            {{"OUTP?;:SOUR1:VOLT 5;:SOUR2:VOLT -3;:OUTP OFF;:OUTP?;PIN:CLR?;:BENC:VOLT? (@1:4)",
              "1;0;0;0,0,0,0"},
             {"SOUR1:DATA?;:OUTP:STAT ON;:OUTP?;:BENC:VOLT? (@1,2)", "49152;1;5.0014,-2.999678"},
             {"SOUR1:VOLT:RAMP:STEP 1;:OUTP 0;:OUTP 1;:SYST:ERR?;:OUTP?;:BENC:VOLT1?",
              "-221,\"Settings conflict; DAC A: turning the outputs on moves the output from 0 V "
              "to 5 V at once, more than its ramp step of 1 V; set it within its ramp step of 0 V "
              "first, turn the outputs on, then set it again (it ramps)\";0;0"},
             {"SOUR1:VOLT 0.5;:OUTP ON;:SYST:ERR?;:OUTP?;:SOUR1:VOLT 5;:BENC:VOLT1?",
              kNoError + ";1;5.0014"},
             {"OUTP OFF;*RST;OUTP?;PIN:CLR?", "1;1"}}},
        // A channel list names the channels instead of the suffix: one answer each, every
        // channel in its own range, and the whole list checked before anything is sent.
        ConversationCase{
            "ChannelLists",
            {{"SOUR3:VOLT:RANG 10.5263;:VOLT 2,(@1,2);VOLT? (@1:4);:SOUR3:VOLT:RANG?",
              "2.000122,2.000122,0,0;10.5263"},
             {"VOLT 10.4,(@3,4);SYST:ERR?;:SOUR:DATA? (@3,4)",
              "-222,\"Data out of range; 10.4 V is outside the channel's range, -10 V to 10 V\";"
              "32768,32768"},
             {":VOLT 10.4,(@3);VOLT MAX,(@3,4);:SOUR:DATA? (@4:3);:VOLT:RANG? (@1:4)",
              "65535,65535;10,10,10.5263,10"},
             {"SOUR:GAIN 3,(@2:3);OFFS -5,(@4);GAIN? (@1:4);OFFS? (@4,1);GAIN? MAX,(@1)",
              "0,3,3,0;-5,0;31"},
             {"VOLT:LIM:HIGH 2,(@2);:VOLT 1,(@1,2,3);VOLT 3,(@1,2);:SYST:ERR?;:VOLT? (@1:3)",
              "-221,\"Settings conflict; DAC B: 3 V is above its limit of 2 V\";1.000061,1.000061,"
              "1.0000114"},
             {"VOLT:LIM:HIGH 3,(@1,2);VOLT:LIM:LOW 1,(@3,4);SYST:ERR?;VOLT:LIM:HIGH? (@1:4)",
              "-222,\"Data out of range; DAC C: the low limit 1 V is above 0 V; the window must "
              "hold 0 V, the safe state\";3,3,9.9E+37,9.9E+37"},
             {"VOLT:RAMP:STEP 0.5,(@1,2);VOLT 2.5,(@1,2);*OPC?;VOLT? (@1,2);:BENC:VOLT? (@1)",
              "1;2.5,2.5;2.500875"},
             {"SOUR2:VOLT 1,(@1);SOUR:ALL:VOLT 1,(@1);:VOLT? (@5);VOLT? (@1:a);VOLT? (1,2);"
              ":SOUR2:VOLT 1;VOLT? (@1)",
              "9.91E+37;9.91E+37;9.91E+37;9.91E+37"},
             {"SYST:ERR:ALL?",
              "-108,\"Parameter not allowed; a header suffix and a channel list together; name "
              "the channels in the list alone\",-108,\"Parameter not allowed\",-222,\"Data out "
              "of range; channel 5 in (@5): the channels are 1 to 4\",-102,\"Syntax error; 'a' "
              "in (@1:a) is no channel; channel lists are (@1), (@1,3) or (@1:4)\",-108,"
              "\"Parameter not allowed\",-108,\"Parameter not allowed; a header suffix and a "
              "channel list together; name the channels in the list alone\""},
             // A long list is quoted cut short.
             {"VOLT? (@1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,9);:SYST:ERR?",
              "9.91E+37;-222,\"Data out of range; channel 9 in "
              "(@1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1...): the channels are 1 to 4\""}}},
        // The transition filters choose the edges the event registers latch; the codes alone;
        // the one instrument; the power-on status clear.
        ConversationCase{
            "FiltersCodesAndPowerOnClear",
            {{"STAT:OPER:PTR?;STAT:OPER:NTR?;STAT:QUES:PTR?;STAT:QUES:NTR?", "32767;0;32767;0"},
             {"STAT:OPER:PTR 0;:SOUR2:VOLT:RAMP:STEP 0.5;:SOUR2:VOLT 1.5;:STAT:OPER?", "0"},
             {"STAT:OPER:NTR 256;:SOUR2:VOLT -1;:STAT:OPER?;:STAT:OPER:NTR?", "256;256"},
             {"STAT:QUES:PTR 0;NTR 512;:SOUR2:VOLT:LIM:HIGH 1;:SOUR2:VOLT 2", ""},
             {"<unplug>", ""},
             {"SOUR1:VOLT 1;:STAT:QUES:COND?;STAT:QUES?", "512;0"},
             {"<plug>", ""},
             {"SOUR1:VOLT 1;:STAT:QUES?;:STAT:PRES;:STAT:OPER:PTR?;STAT:QUES:NTR?", "512;32767;0"},
             {"*CLS;NOPE;SOUR1:DATA 1.5;SYST:ERR:CODE?;SYST:ERR:CODE:NEXT?;SYST:ERR:CODE?",
              "-113;-224;0"},
             {"NOPE;NOPE;SYST:ERR:CODE:ALL?;SYST:ERR:CODE:ALL?", "-113,-113;0"},
             {"INST:NSEL?;INST:NSEL 1;INST:NSEL 2;SYST:ERR?;INST:NSEL?",
              "1;-222,\"Data out of range; there is one instrument, 1\";1"},
             // A power loss the program can tell: DAC C's gain differs from the power-on state.
             {"*ESE 36;*SRE 16;:SOUR3:GAIN 5", ""},
             {"2>*ESE 4", ""},
             {"*PSC?;BENC:POW:CYCL;*ESE?;*SRE?;*ESR?", "0;36;16;184"},
             {"2>*ESE?", "4"},
             {"*PSC 1;*PSC?;BENC:POW:CYCL;*ESE?;*SRE?;*ESR?", "1;0;0;136"},
             {"2>*ESE?", "0"}}},
        ConversationCase{"GrammarErrors",
                         {{"SOUR5:VOLT 1;SOUR:VOLT;*IDN? 1;SOUR:VOLT 1,2;@@@", "9.91E+37"},
                          {"SYST:ERR?;SYST:ERR?;SYST:ERR?;SYST:ERR?;SYST:ERR?;*STB?",
                           "-114,\"Header suffix out of range\";-109,\"Missing parameter\";-108,"
                           "\"Parameter not allowed\";-108,\"Parameter not allowed\";-102,"
                           "\"Syntax error\";0"}}}),
    [](const auto& info) { return std::string(info.param.name); });

// The description a client reads (SYSTem:DESCription?) against the commands it names: on each
// device, coding and range, every number's MINimum, MAXimum and DEFault on each channel are what
// its header's query answers, and every switch's header answers a query without an error.
struct DescribedCase {
    const char* name;
    std::string before;  // sent first
    std::string model;
    double dataMax;    // SOURce1:DATA
    double offsetMin;  // SOURce1:OFFSet
    double voltsMax3;  // SOURce3:VOLTage
};

class Description : public ::testing::TestWithParam<DescribedCase> {};

// The long form of a header with its optional parts in and channel `n`: sendable as it is.
std::string Sendable(std::string header, int n) {
    std::string out;
    for (const char ch : header)
        if (ch != '[' && ch != ']')
            out += ch;
    if (const std::size_t at = out.find("<n>"); at != std::string::npos)
        out.replace(at, 3, std::to_string(n));
    return out;
}

TEST_P(Description, FollowsTheDeviceAndIsWhatTheQueriesAnswer) {
    const DescribedCase& c = GetParam();
    Board b;
    EXPECT_EQ(b.Send(c.before + ";SYST:ERR?"), kNoError);
    const std::string block = b.Send("SYST:DESC?");
    ASSERT_GE(block.size(), 3u);
    ASSERT_EQ(block[0], '#') << block;
    const std::size_t digits = static_cast<std::size_t>(block[1] - '0');
    const nlohmann::json d = nlohmann::json::parse(block.substr(2 + digits));
    EXPECT_EQ(std::stoul(block.substr(2, digits)), block.size() - 2 - digits);
    EXPECT_EQ(d["model"], c.model);
    const auto setting = [&](const std::string& name) {
        for (const auto& s : d["settings"])
            if (s["name"] == name)
                return s;
        ADD_FAILURE() << name << " is not described";
        return nlohmann::json::object();
    };
    EXPECT_EQ(setting("data")["max"][0], c.dataMax);
    EXPECT_EQ(setting("offset")["min"][0], c.offsetMin);
    EXPECT_EQ(setting("voltage")["max"][2], c.voltsMax3);
    int numbers = 0;
    for (const auto& s : d["settings"]) {
        const std::string header = s["header"];
        SCOPED_TRACE(header);
        if (!s.contains("min")) {
            const std::string answer = b.Send(Sendable(header, 1) + "?;SYST:ERR?");
            EXPECT_EQ(answer.substr(answer.find(';') + 1), kNoError) << answer;
            continue;
        }
        ++numbers;
        for (int n = 1; n <= kChannelCount; ++n) {
            const std::string query = Sendable(header, n) + "?";
            const auto i = static_cast<std::size_t>(n - 1);
            EXPECT_EQ(std::stod(b.Send(query + " MIN")), s["min"][i].get<double>()) << n;
            EXPECT_EQ(std::stod(b.Send(query + " MAX")), s["max"][i].get<double>()) << n;
            if (s.contains("default")) {
                EXPECT_EQ(std::stod(b.Send(query + " DEF")), s["default"].get<double>()) << n;
            }
        }
    }
    EXPECT_EQ(numbers, 9) << "voltage, range, data, gain, offset, two limits, ramp step and wait";
    EXPECT_EQ(b.Send("SYST:ERR?"), kNoError);
}

INSTANTIATE_TEST_SUITE_P(
    Devices, Description,
    ::testing::Values(DescribedCase{"SixteenBits", "*CLS", "TQ2604X", 65535, -128, 10},
                      DescribedCase{"FourteenBitsTwosComplementWideRange",
                                    "SYST:RES 14;SOUR:COD TWOS;SOUR3:VOLT:RANG 10.5263", "TQ2404",
                                    16383, -4, 10.5263}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ErrorQueue, SixteenEntriesTheLastBecomesOverflow) {
    Board b;
    for (int i = 0; i < 20; ++i)
        b.Send("NOPE");
    std::string last;
    for (int i = 0; i < 16; ++i)
        last = b.Send("SYST:ERR?");
    EXPECT_EQ(last, "-350,\"Queue overflow\"");
    EXPECT_EQ(b.Send("SYST:ERR?"), kNoError);
}

// A failed request is a hardware error with the adapter's explanation; the query answers
// SCPI's not-a-number.
TEST(HardwareErrors, NameTheAdaptersExplanation) {
    Board b;
    b.board.Unplug();
    EXPECT_EQ(b.Send("SOUR1:VOLT?;*TST?"), "9.91E+37;1");
    const std::string error = b.Send("SYST:ERR?");
    EXPECT_EQ(error.rfind("-240,\"Hardware error; board request failed (-1): ", 0), 0u) << error;
}

// Without the simulated bench the BENCh commands do not exist; nothing reaches the board from a
// rejected command.
TEST(RealBoard, HasNoBenchAndRejectedCommandsSendNothing) {
    testing::RecordedInstrument real{/*pulseAfterDataWrite=*/false, {"TQ2604X board", "1-4.2"}};
    InstrumentCommands commands{real.instrument, nullptr};
    ScpiSession session{commands};
    EXPECT_EQ(session.Execute("BENC:VOLT1?;*IDN?").value_or(""),
              "9.91E+37;TQ2604X-EVAL,TQ2604X,1-4.2," + kVersion);
    session.Execute("SOUR1:DATA -1;SOUR1:DATA x;SOUR9:VOLT 1;SOUR1:GAIN 1e999;REG:WRIT 8,0,0");
    EXPECT_TRUE(real.adapter.calls.empty());
}

}  // namespace
}  // namespace tq

namespace tq {
namespace {

std::string Block(const std::string& json) {
    const std::string length = std::to_string(json.size());
    return "#" + std::to_string(length.size()) + length + json;
}

// A setup travels as a definite-length block: saved, everything changed, opened again; a bad
// one is refused by key, one from another board only with ANYBoard. Separators and quotes inside
// a block are its bytes, not the line's grammar.
TEST(SetupBlock, RoundTripsWithTheChecksOfAFile) {
    Board b;
    b.Send("SOUR2:VOLT 5;SOUR3:GAIN 7;SOUR4:OFFS -9;SOUR:COD TWOS");
    const std::string saved = b.Send("SYST:SET?");
    ASSERT_EQ(saved.rfind("#3", 0), 0u) << saved;
    EXPECT_EQ(saved.find('\n'), std::string::npos);
    const std::string json = saved.substr(5);
    EXPECT_EQ(json.size(), static_cast<std::size_t>(std::stoi(saved.substr(2, 3))));
    b.Send("*RST;SOUR:COD BIN;SOUR2:VOLT -1;SOUR3:GAIN 0;SOUR4:OFFS 0");
    EXPECT_EQ(b.Send("SYST:SET " + saved +
                     ";SYST:ERR?;SOUR2:VOLT?;SOUR3:GAIN?;SOUR4:OFFS?;"
                     "SOUR:COD?"),
              "0,\"No error\";-5;7;-9;TWOS");  // 0xC000 in two's complement
    EXPECT_EQ(b.Send("SYST:SET " +
                     Block(R"({"format":1,"program":"a;b,\"c","channels":{"A":)"
                           R"({"fineGain":40}}})") +
                     ";SYST:ERR?;SOUR1:GAIN?"),
              "-224,\"Illegal parameter value; channels.A.fineGain: a whole number from -32 to "
              "31 expected\";0");
    const std::string other =
        Block(R"({"format":1,"board":"1-4.2","channels":{"A":{"fineGain":3}}})");
    EXPECT_EQ(b.Send("SYST:SET " + other + ";SYST:ERR?;SOUR1:GAIN?"),
              "-221,\"Settings conflict; the setup was saved from board 1-4.2, this is "
              "SIMULATED; add ,ANYBoard to open it anyway\";0");
    EXPECT_EQ(b.Send("SYST:SET " + other + ",ANYB;SYST:ERR?;SOUR1:GAIN?"), "0,\"No error\";3");
    EXPECT_EQ(b.Send("SYST:SET \"{}\";SYST:SET #9;SYST:ERR?;SYST:ERR?"),
              "-104,\"Data type error\";-102,\"Syntax error\"");
}

// *LRN? is one line that, sent back, restores every setting SYSTem:SETup? holds.
TEST(SetupBlock, LearntLineSentBackRestoresEverySetting) {
    Board b;
    b.Send(
        "SOUR:COD TWOS;:SOUR:PULS OFF;:PIN:LDAC 0;:PIN:RST 0;:OUTP OFF;:CONT:GND ON;"
        ":DIG1:DIR OUT;:DIG1:LEV 1;:DIG2:DRIV 1;:SOUR3:VOLT:RANG 10.5263;:SOUR3:GAIN 5;"
        ":SOUR2:OFFS -7;:SOUR4:DATA 100;:SOUR1:VOLT 2;:SOUR2:VOLT:LIM:HIGH 2;"
        ":SOUR2:VOLT:RAMP:STEP 1;:SOUR2:VOLT:RAMP:WAIT 0.01;:OUTP:SAFE:EXIT 1;:CONT:SDO OFF");
    ASSERT_EQ(b.Send("SYST:ERR:ALL?"), "0,\"No error\"");
    const std::string setup = b.Send("SYST:SET?");
    const std::string learnt = b.Send("*LRN?");
    ASSERT_EQ(learnt.rfind("SYSTem:SETup #", 0), 0u) << learnt;
    EXPECT_EQ(learnt.find('\n'), std::string::npos);
    b.Send(
        "*RST;:SOUR:ALL:GAIN 0;:SOUR:ALL:OFFS 0;:SOUR2:VOLT:LIM:HIGH NONE;"
        ":SOUR2:VOLT:RAMP:STEP NONE;:OUTP:SAFE:EXIT 0");
    ASSERT_NE(b.Send("SYST:SET?"), setup);
    b.Send(learnt);
    EXPECT_EQ(b.Send("SYST:ERR:ALL?"), "0,\"No error\"");
    EXPECT_EQ(b.Send("SYST:SET?"), setup);
    EXPECT_EQ(b.Send("OUTP?;PIN:RST?;SOUR:COD?;SOUR3:GAIN?"), "0;0;TWOS;5");
}

}  // namespace
}  // namespace tq

namespace tq {
namespace {

// The meter commands with a meter and a timer that the test answers.
struct MeterBoard : testing::SimulatedInstrument {
    testing::FakeMeter meter;
    testing::FakeClock timer;
    MeterRuns runs{instrument, meter, timer};
    InstrumentCommands commands{instrument, &board, nullptr, &runs};
    ScpiSession session{commands};
    std::string Send(const std::string& line) { return session.Execute(line).value_or(""); }
    // A linearity test of nine codes on DAC C, one reading each, waiting for its first reading;
    // DAC B and D hold codes of their own.
    void StartLinearityOnDacC() {
        Send("MET:ADDR \"TCPIP::127.0.0.1::5025::SOCKET\";MET:OPEN;MET:COUN 1");
        Send("SOUR2:DATA 1000;SOUR4:DATA 2000");
        ASSERT_EQ(Send("MET:LIN 3,9;MET:PROG?"), "RUNNING,0,9");
        ASSERT_TRUE(timer.Fire());
        ASSERT_TRUE(meter.pending);
    }
    // Answers every settle and reading with the board's output until the run stops asking.
    void Drive() {
        for (int i = 0; i < 100000 && runs.Active(); ++i)
            if (!timer.Fire() &&
                !meter.Answer({true, board.OutputVolts(meter.channels.back()), {}}))
                break;
    }
};

TEST(MeterCommands, SettingsAreKeptAndOpenTheMeter) {
    MeterBoard b;
    EXPECT_EQ(b.Send("MET:ADDR \"TCPIP::127.0.0.1::5025::SOCKET\";MET:ADDR?"),
              "\"TCPIP::127.0.0.1::5025::SOCKET\"");
    EXPECT_EQ(b.Send("MET:SET \"CONF:VOLT:DC 10; SENS:VOLT:NPLC 10\";MET:SET?"),
              "\"CONF:VOLT:DC 10;SENS:VOLT:NPLC 10\"");
    EXPECT_EQ(b.Send("MET:SEL 'ROUT:CLOS (@10{ch})';MET:TIME 500;MET:SETT 20;MET:COUN 3"), "");
    EXPECT_EQ(b.Send("MET:TIME?;MET:SETT?;MET:COUN?;MET:STAT?"), "500;20;3;CLOSED");
    EXPECT_EQ(b.Send("MET:OPEN;MET:STAT?;MET:IDN?"), "OPEN;\"FAKE,DVM,1,0\"");
    EXPECT_EQ(b.meter.opened.selectCommand, "ROUT:CLOS (@10{ch})");
    EXPECT_EQ(b.meter.opened.setupCommands,
              (std::vector<std::string>{"CONF:VOLT:DC 10", "SENS:VOLT:NPLC 10"}));
    EXPECT_EQ(b.Send("MET:COUN 0;SYST:ERR?"), "-222,\"Data out of range; 0 is outside 1 to 100\"");
    EXPECT_EQ(b.Send("MET:TIME? DEF;MET:SETT? MAX;MET:COUN? MIN;MET:COUN DEF;MET:COUN?"),
              "2000;600000;1;2");
    EXPECT_EQ(b.Send("MET:ADDR 5;SYST:ERR?"), "-104,\"Data type error\"");
    // An address of neither form is refused when it is given, naming the forms; texts are
    // bounded, and an error's text is cut to 255 characters, the cut marked.
    const std::string forms =
        "-224,\"Illegal parameter value; a meter's address is TCPIP::host::port::SOCKET (a LAN "
        "meter, port 5025 on most) or /dev/usbtmcN (a USB meter through Linux's usbtmc driver)";
    const std::vector<std::pair<std::string, std::string>> refused = {
        {"\"COM3\"", forms + ", not 'COM3'\""},
        {"\"TCPIP::meter::70000::SOCKET\"",
         forms + "; the meter's port '70000' is not a number from 1 to 65535\""},
        {"\"" + std::string(4097, 'z') + "\"",
         "-223,\"Too much data; a meter setting holds at most 4096 bytes\""},
    };
    for (const auto& [address, error] : refused)
        EXPECT_EQ(b.Send("MET:ADDR " + address + ";SYST:ERR?;MET:ADDR?"),
                  error + ";\"TCPIP::127.0.0.1::5025::SOCKET\"")
            << address;
    const std::string cut = b.Send("MET:ADDR \"TCPIP::" + std::string(300, 'z') + "\";SYST:ERR?");
    EXPECT_EQ(cut.size(), std::string("-224,\"\"").size() + 255) << cut;
    EXPECT_EQ(cut.substr(cut.size() - 4), "...\"");
    EXPECT_EQ(b.Send("MET:ADDR \"/dev/usbtmc3\";MET:ADDR?;MET:ADDR \"\";MET:ADDR?;SYST:ERR?"),
              "\"/dev/usbtmc3\";\"\";" + kNoError);
}

TEST(MeterCommands, CalibrationRunsToTheEndAndReports) {
    MeterBoard b;
    EXPECT_EQ(b.Send("MET:CAL ALL;SYST:ERR?"),
              "-221,\"Settings conflict; the meter is not connected (refused); open it first\"");
    b.Send("MET:ADDR \"TCPIP::127.0.0.1::5025::SOCKET\";MET:OPEN");
    EXPECT_EQ(b.Send("MET:CAL ALL;MET:PROG?"), "RUNNING,0,16");
    // The run owns the channels it drives.
    EXPECT_EQ(b.Send("SOUR2:VOLT 1;SYST:ERR?"),
              "-221,\"Settings conflict; DAC B is driven by the automatic calibration; stop it to "
              "change the output\"");
    EXPECT_EQ(b.Send("SOUR:ALL:DATA 5;SYST:ERR?"),
              "-221,\"Settings conflict; DAC A is driven by the automatic calibration; stop it to "
              "change the output\"");
    b.Drive();
    EXPECT_EQ(b.Send("MET:PROG?"), "FINISHED,16,16");
    const std::string result = b.Send("MET:RES?");
    EXPECT_NE(result.find("every error is within 1 LSB"), std::string::npos) << result;
    EXPECT_EQ(b.Send("SOUR2:VOLT 1;SYST:ERR?"), kNoError);
}

TEST(MeterCommands, LinearityGivesItsCsvAndStopEndsARun) {
    MeterBoard b;
    b.Send("MET:ADDR \"TCPIP::127.0.0.1::5025::SOCKET\";MET:OPEN;MET:COUN 1");
    EXPECT_EQ(b.Send("MET:LIN 3,5;MET:PROG?"), "RUNNING,0,5");
    b.Drive();
    EXPECT_EQ(b.Send("MET:PROG?"), "FINISHED,5,5");
    const std::string csv = b.Send("MET:CSV?");
    EXPECT_EQ(csv.substr(0, 2), "#3");
    EXPECT_NE(csv.find("code,set_volts,reading_volts,inl_lsb,dnl_lsb\n0,-10.0000000,"),
              std::string::npos)
        << csv;
    EXPECT_NE(csv.find("\n65535,"), std::string::npos) << csv;
    // Five codes 16384 apart: no DNL (its column empty), the step error with its size instead.
    EXPECT_NE(csv.find(",\n65535,"), std::string::npos) << csv;
    const std::string report = b.Send("MET:RES?");
    EXPECT_EQ(report.find("DNL:"), std::string::npos) << report;
    EXPECT_NE(report.find("step error over steps of 16383 to 16384 codes: "), std::string::npos)
        << report;

    EXPECT_EQ(b.Send("MET:LIN 1,100,32000,32099;MET:PROG?"), "RUNNING,0,100");
    EXPECT_EQ(b.Send("MET:STOP;MET:PROG?;MET:CSV?"), "STOPPED,0,100;#10");
    EXPECT_EQ(b.Send("MET:LIN 1,2,5,5;SYST:ERR?"),
              "-224,\"Illegal parameter value; the last code must be above the first\"");
    EXPECT_EQ(b.Send("MET:LIN 5,2;SYST:ERR?"), "-222,\"Data out of range; 5 is outside 1 to 4\"");
}

struct RefusedCase {
    const char* name;
    std::string line;
};

class RefusedDuringARun : public ::testing::TestWithParam<RefusedCase> {};

// Every register of every channel and the function register, from the board itself.
std::vector<int32_t> BoardRegisters(const SimulatedBoard& board) {
    std::vector<int32_t> all{board.GetRegister(1, kRegFunction)};
    for (int channel = 0; channel < kChannelCount; ++channel)
        for (int16_t reg : {kRegData, kRegCoarseGain, kRegFineGain, kRegOffset})
            all.push_back(board.GetRegister(channel, reg));
    return all;
}

TEST_P(RefusedDuringARun, ChangesNothing) {
    MeterBoard b;
    b.StartLinearityOnDacC();
    ASSERT_TRUE(b.meter.Answer({true, b.board.OutputVolts(2), {}}));
    const auto before = b.board.OutputVolts(2);
    const auto registers = BoardRegisters(b.board);
    EXPECT_EQ(b.Send(GetParam().line + ";SYST:ERR?"),
              "-221,\"Settings conflict; DAC C is driven by the linearity test; stop it to change "
              "the output\"");
    EXPECT_EQ(BoardRegisters(b.board), registers);
    EXPECT_EQ(b.board.OutputVolts(2), before);
    EXPECT_EQ(b.Send("MET:PROG?"), "RUNNING,1,9");
    b.Drive();
    EXPECT_EQ(b.Send("MET:PROG?"), "FINISHED,9,9");
    EXPECT_EQ(b.Send(GetParam().line + ";SYST:ERR?"), kNoError) << "still refused after the run";
}

INSTANTIATE_TEST_SUITE_P(
    Commands, RefusedDuringARun,
    ::testing::Values(
        RefusedCase{"Voltage", "SOUR3:VOLT 1"}, RefusedCase{"VoltageMax", "SOUR3:VOLT MAX"},
        RefusedCase{"Data", "SOUR3:DATA 5"}, RefusedCase{"Range", "SOUR3:VOLT:RANG 10.2564"},
        RefusedCase{"Gain", "SOUR3:GAIN 3"}, RefusedCase{"Offset", "SOUR3:OFFS -2"},
        RefusedCase{"AllVoltage", "SOUR:ALL:VOLT 2"}, RefusedCase{"AllData", "SOUR:ALL:DATA 5"},
        RefusedCase{"AllRange", "SOUR:ALL:VOLT:RANG 10"}, RefusedCase{"AllGain", "SOUR:ALL:GAIN 1"},
        RefusedCase{"AllOffset", "SOUR:ALL:OFFS 1"}, RefusedCase{"Clear", "OUTP:CLE"},
        RefusedCase{"RegisterData", "REG:WRIT 2,2,100"},
        RefusedCase{"RegisterAll", "REG:WRIT 4,4,1"},
        RefusedCase{"RegisterClear", "REG:WRIT 4,0,0"},
        // A setup holds every output at 0 V while it is written: refused before it starts.
        RefusedCase{"Setup", "SYST:SET #242{\"format\":1,\"channels\":{\"C\":{\"data\":100}}}"},
        RefusedCase{"SetupOtherChannel",
                    "SYST:SET #242{\"format\":1,\"channels\":{\"A\":{\"data\":100}}}"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(MeterCommands, TheSafeStateStopsARunFirst) {
    MeterBoard b;
    b.StartLinearityOnDacC();
    EXPECT_EQ(b.Send("*RST;SYST:ERR?;MET:PROG?"), "0,\"No error\";STOPPED,0,9");
    EXPECT_FALSE(b.meter.pending) << "the reading was not cancelled";
    for (int channel = 0; channel < kChannelCount; ++channel)
        EXPECT_EQ(b.board.GetRegister(channel, kRegData), 0x8000) << channel;
    EXPECT_FALSE(testing::HeldBy(b.instrument, 2));
}

TEST(MeterCommands, ExistOnlyWithAMeter) {
    testing::SimulatedInstrument sim;
    InstrumentCommands commands{sim.instrument, &sim.board};
    ScpiSession session{commands};
    EXPECT_EQ(session.Execute("MET:PROG?;SYST:ERR?").value_or(""),
              "9.91E+37;-113,\"Undefined header\"");
}

}  // namespace
}  // namespace tq

namespace tq {
namespace {

// Every command of the table, with every subsystem in, is in docs/scpi.md under its pattern: '#'
// written <n> (<d> for the digital lines), a long optional tail perhaps written "...".
TEST(CommandRows, EachIsDocumented) {
    testing::SimulatedInstrument sim;
    testing::FakeMeter meter;
    testing::FakeClock meterTimer;
    MeterRuns runs{sim.instrument, meter, meterTimer};
    testing::FakeClock runTimer;
    WaveformRun run{sim.instrument, runTimer};
    const InstrumentCommands commands{sim.instrument, &sim.board, &run, &runs};
    std::ifstream file(TQ_DOCS_FOLDER "/scpi.md");
    ASSERT_TRUE(file) << TQ_DOCS_FOLDER "/scpi.md";
    std::stringstream docs;
    docs << file.rdbuf();
    for (const CommandRow& row : commands.Rows()) {
        std::string written(row.pattern);
        if (const std::size_t suffix = written.find('#'); suffix != std::string::npos)
            written.replace(suffix, 1, row.maxSuffix == 2 ? "<d>" : "<n>");
        std::string shortened = written;
        const std::string tail = "[:LEVel][:IMMediate][:AMPLitude]";
        if (const std::size_t at = shortened.find(tail); at != std::string::npos)
            shortened.replace(at, tail.size(), "...");
        EXPECT_TRUE(docs.str().find('`' + written) != std::string::npos ||
                    docs.str().find('`' + shortened) != std::string::npos)
            << written << " is not in docs/scpi.md";
    }
}

}  // namespace
}  // namespace tq
