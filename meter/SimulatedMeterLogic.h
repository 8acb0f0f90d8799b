#pragma once
// What the simulated bench's DC voltmeter answers, read with the protocol's grammar
// (scpi/ScpiGrammar.h) from a table of rows, one per command:
//
//   *IDN?                                  TQ-SIM,DVM,0,1.0
//   MEASure:VOLTage[:DC]? [range[,res]] / READ?   one reading in volts
//   ROUTe:CLOSe (@101) .. (@104)           measure DAC A .. D (A at start)
//   ROUTe:CLOSe?                           the channel measured, as (@10n)
//   SIMulate:NOISe <uV>[,<seed>]            Gaussian noise of that standard deviation, seeded
//   SYSTem:ERRor[:NEXT]?                   the oldest error, or +0,"No error"
// Anything else that configures a meter (CONFigure, SENSe, VOLTage, TRIGger, DISPlay, SYSTem set
// commands, *RST, *CLS) is taken and ignored. Errors are SCPI's bare texts
// (-222,"Data out of range"); a failed query answers nothing. No sockets, so it is tested alone.

#include <random>
#include <string>
#include <string_view>

#include "scpi/ScpiErrors.h"
#include "scpi/ScpiGrammar.h"

namespace tq {

class SimulatedBench;

class SimulatedMeterLogic {
public:
    explicit SimulatedMeterLogic(const SimulatedBench& bench) : bench_(bench) {}
    // The answers to one line, joined by ';' (empty: none).
    std::string Answer(const std::string& line);
    int Channel() const { return channel_; }
    double NoiseVolts() const { return noiseVolts_; }

private:
    using Handler = std::string (SimulatedMeterLogic::*)(const scpi::ParsedCommand&);
    // One command: its header as the grammar's table takes it, its forms and what it does (the
    // answer of a query). A subsystem row takes every header below its mnemonic.
    struct Row {
        std::string_view pattern;
        scpi::Forms forms;
        Handler run;
        bool subsystem = false;
    };
    static const Row kRows[];
    static const scpi::CommandTable& Table();

    std::string Identity(const scpi::ParsedCommand&);
    std::string Reading(const scpi::ParsedCommand&);
    std::string Route(const scpi::ParsedCommand& command);
    std::string RouteQuery(const scpi::ParsedCommand&);
    std::string Noise(const scpi::ParsedCommand& command);
    std::string NextError(const scpi::ParsedCommand&);
    std::string Ignore(const scpi::ParsedCommand&);

    const SimulatedBench& bench_;
    int channel_ = 0;
    double noiseVolts_ = 0;
    std::mt19937 random_{1};
    std::normal_distribution<double> normal_{0.0, 1.0};
    scpi::ErrorQueue errors_;
};

}  // namespace tq
