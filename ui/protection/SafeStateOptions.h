#pragma once
// The output protection's options carried out: the outputs go to the safe state (the runs
// stopped, every output at 0 V, ramped where a ramp is set) when the program ends, when the last
// remote client disconnects and when the board answers again after it stopped answering.

#include <QObject>
#include <QString>
#include <functional>
#include <optional>
#include <string>

#include "instrument/Instrument.h"

namespace tq {

class WaveformRun;
class MeterRuns;

class SafeStateOptions : public QObject {
    Q_OBJECT
public:
    // `report` tells the user when a safe state the options asked for failed.
    using Report = std::function<void(const QString& why)>;
    // Either run may be null.
    SafeStateOptions(Instrument& instrument, WaveformRun* waveform, MeterRuns* meter, Report report,
                     QObject* parent = nullptr);
    ~SafeStateOptions() override;

    // The protocol server's client count changed (its ClientCountChanged).
    void ClientCountChanged(int count);

    // The program is ending. With the option on, and a board that has answered, the runs stop
    // and the outputs reach 0 V before this returns (a ramp's waits are waited out). Returns why
    // that failed, or nothing.
    std::optional<std::string> ProgramEnding();

private:
    void Take(const InstrumentChange& change);
    // From a queued call, never inside the instrument call that noticed the reason.
    void EnterLater(const QString& when);

    Instrument& instrument_;
    WaveformRun* waveform_;
    MeterRuns* meter_;
    Report report_;
    int listener_ = 0;
    bool answered_ = false;  // a board request has succeeded since start
    bool failing_ = false;   // the last board request failed
};

}  // namespace tq
