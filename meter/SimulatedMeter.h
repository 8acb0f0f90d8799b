#pragma once
// The simulated bench's DC voltmeter: on the loopback address it answers the SCPI a bench meter
// with a scanner answers, reading the simulated board's outputs, so the meter runs can be tried
// and tested without a meter.
//
//   *IDN?                                  TQ-SIM,DVM,0,1.0
//   MEASure:VOLTage:DC? [range[,res]] / READ?   one reading in volts
//   ROUTe:CLOSe (@101) .. (@104)           measure DAC A .. D (A at start)
//   ROUTe:CLOSe?                           the channel measured, as (@10n)
//   SIMulate:NOISe <uV>[,<seed>]            Gaussian noise of that standard deviation, seeded
//   SYSTem:ERRor?                          the oldest error, or 0,"No error"
// Anything else that configures a meter (CONF, SENS, TRIG, *RST, *CLS) is taken and ignored.

#include <QTcpServer>
#include <QTcpSocket>
#include <cstdint>
#include <deque>
#include <random>
#include <string>

namespace tq {

class SimulatedBench;

// The meter's answer to one line (empty: none), and its state; no sockets, so it is tested alone.
class SimulatedMeterLogic {
public:
    explicit SimulatedMeterLogic(const SimulatedBench& bench) : bench_(bench) {}
    std::string Answer(const std::string& line);
    int Channel() const { return channel_; }
    double NoiseVolts() const { return noiseVolts_; }

private:
    std::string One(const std::string& command);
    void Error(const std::string& error);

    const SimulatedBench& bench_;
    int channel_ = 0;
    double noiseVolts_ = 0;
    std::mt19937 random_{1};
    std::normal_distribution<double> normal_{0.0, 1.0};
    std::deque<std::string> errors_;
};

class SimulatedMeter : public QObject {
    Q_OBJECT
public:
    explicit SimulatedMeter(const SimulatedBench& bench, QObject* parent = nullptr);
    // On the loopback address; port 0 picks a free one.
    bool Listen(uint16_t port, QString& error);
    uint16_t Port() const { return server_.serverPort(); }

private:
    void OnConnection();

    SimulatedMeterLogic logic_;
    QTcpServer server_;
};

}  // namespace tq
