#pragma once
// What a meter run needs of a bench meter and of time, as small interfaces: the socket and USBTMC
// meters and the event loop's timer implement them above this layer, and tests use fakes.

#include <functional>
#include <string>
#include <vector>

namespace tq {

struct MeterReading {
    bool ok = false;
    double volts = 0;
    std::string error;  // what failed, when not ok
};

class Meter {
public:
    virtual ~Meter() = default;
    // Takes one DC voltage reading of the output of `channel` (0..3): a meter with a scanner
    // selects it first, one without reads whatever its probe touches. `done` is called exactly
    // once, later from the event loop (never inside this call), unless Cancel() comes first.
    virtual void Read(int channel, std::function<void(const MeterReading&)> done) = 0;
    // Forgets the reading in progress: its `done` is not called.
    virtual void Cancel() = 0;
    // True when the meter selects the channel itself (scanner channels), so nobody has to move
    // the probe between channels.
    virtual bool SelectsChannels() const = 0;
};

// How to reach a meter and take a reading with it.
struct MeterSettings {
    std::string address;                        // TCPIP::host::port::SOCKET
    std::string readCommand = "MEAS:VOLT:DC?";  // one DC voltage reading
    std::vector<std::string> setupCommands;     // sent once after connecting (range, NPLC)
    // A scanner's channel selection, {ch} standing for 1..4; empty: the user moves the probe.
    std::string selectCommand;
    int timeoutMilliseconds = 2000;  // for each answer
};

// A meter that is opened with settings, in the background.
class MeterConnection : public Meter {
public:
    // Starts connecting; false (with the reason) when the settings cannot work at all.
    virtual bool Open(const MeterSettings& settings, std::string& error) = 0;
    virtual bool IsOpen() const = 0;
    // Lets go of the meter: not open, and the reading in progress is forgotten.
    virtual void Close() = 0;
    virtual std::string Identity() const = 0;   // the meter's *IDN? answer once open
    virtual std::string LastError() const = 0;  // why it closed or could not open
};

}  // namespace tq
