#pragma once
// The IEEE 488.2 and SCPI status model, per client as its error queue: the standard event status
// register, the status byte and the OPERation and QUEStionable registers, and what the client
// waits for (its pending operations). The conditions are the instrument's, read from its activity
// registry and its board requests; each client latches their rising edges in its own event
// registers. Standard library only.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "instrument/Activities.h"
#include "scpi/ScpiErrors.h"
#include "scpi/ScpiGrammar.h"

namespace tq {

class Instrument;
class ListRun;
struct InstrumentChange;

namespace scpi {

// The standard event status register (*ESR?).
inline constexpr int kEventOperationComplete = 1 << 0;
inline constexpr int kEventQueryError = 1 << 2;
inline constexpr int kEventDeviceError = 1 << 3;     // -3xx
inline constexpr int kEventExecutionError = 1 << 4;  // -2xx
inline constexpr int kEventCommandError = 1 << 5;    // -1xx
inline constexpr int kEventPowerOn = 1 << 7;         // the board lost power and came back

// STATus:OPERation: the running activities' bits (each kind names its own), and a list run armed.
inline constexpr int kOperationCalibrating = tq::kOperationCalibrating;
inline constexpr int kOperationSweeping = tq::kOperationSweeping;
inline constexpr int kOperationMeasuring = tq::kOperationMeasuring;
inline constexpr int kOperationWaitingForTrigger = 1 << 5;
inline constexpr int kOperationRamping = tq::kOperationRamping;

// STATus:QUEStionable.
inline constexpr int kQuestionableCalibration = 1 << 8;  // a power loss left a channel's range
                                                         // or calibration unrestored (a condition)
inline constexpr int kQuestionableLink = 1 << 9;         // the board does not answer (a condition)
inline constexpr int kQuestionableLimit = 1 << 10;  // a change was refused by the output limits

// The status byte (*STB?).
inline constexpr int kStatusErrorQueue = 1 << 2;
inline constexpr int kStatusQuestionable = 1 << 3;
inline constexpr int kStatusMessageAvailable = 1 << 4;
inline constexpr int kStatusEvent = 1 << 5;
inline constexpr int kStatusMaster = 1 << 6;
inline constexpr int kStatusOperation = 1 << 7;

// The event status bit an error code sets: a command, execution, device-dependent or query error.
int EventBitOf(int code);

// Every bit of a SCPI status register but bit 15, which SCPI leaves out.
inline constexpr int kAllConditions = 0x7FFF;

// One client's registers.
struct StatusRegisters {
    int events = 0;  // the standard event status register
    int eventEnable = 0;
    int serviceEnable = 0;
    int operationEvent = 0;
    int operationEnable = 0;
    int questionableEvent = 0;
    int questionableEnable = 0;
    // The transition filters: which condition bits latch their event bit when they rise
    // (positive) and when they fall (negative).
    int operationPositive = kAllConditions;
    int operationNegative = 0;
    int questionablePositive = kAllConditions;
    int questionableNegative = 0;

    // The status byte, with `errorsQueued` for bit 2 and `messageAvailable` for bit 4 (MAV);
    // MSS summarises the bits *SRE enables.
    int StatusByte(bool errorsQueued, bool messageAvailable = false) const;
    // *CLS: the event registers.
    void ClearEvents();
    // STATus:PRESet: the OPERation and QUEStionable enable registers and transition filters.
    void Preset();
    // Latches a change of the conditions in the event registers, through the filters.
    void Latch(int operationBefore, int operation, int questionableBefore, int questionable);
    // The power-on status clear (*PSC 1): the enable registers of *ESE and *SRE.
    void ClearEnables();
};

}  // namespace scpi

// One client of the protocol: who it is to the instrument, its error queue, its status and what it
// waits for.
struct RemoteClient {
    RemoteClient();
    RemoteClient(const RemoteClient&) = delete;
    RemoteClient& operator=(const RemoteClient&) = delete;

    // The origin its changes are made with (Instrument::Origin), and whose activities' startedBy
    // it is: an address of its own that no later client takes while an activity it started runs.
    std::unique_ptr<char> token = std::make_unique<char>();
    const void* origin = token.get();
    scpi::ErrorQueue errors;
    scpi::StatusRegisters status;
    scpi::DataFormat format;              // FORMat: this client's, as its error queue is
    bool operationCompleteArmed = false;  // *OPC: set the OPC event once nothing is pending
    bool resetPending = false;   // *RST waits for the safe state's ramp before the start state
    std::string resetRampError;  // why that ramp stopped before its end, or ""
    // Whether an answer waits for the client (the status byte's MAV): its transport knows.
    std::function<bool()> messageAvailable;
    // How the lock names it to the others while it holds the lock: its transport says.
    std::string name = "a remote client";
    // Told after each of its commands (a transport that looks for its status byte's edges).
    std::function<void()> commandDone;
};

// The instrument's conditions and every client's registers that follow them.
class StatusModel {
public:
    StatusModel(Instrument& instrument, const ListRun* lists);
    ~StatusModel();
    StatusModel(const StatusModel&) = delete;
    StatusModel& operator=(const StatusModel&) = delete;

    void Attach(RemoteClient& client);
    // A client that leaves while its run goes on leaves its origin here until the run ends.
    void Detach(RemoteClient& client);

    int OperationCondition() const { return operation_; }
    int QuestionableCondition() const { return questionable_; }

    // Reads the conditions again and latches their rising edges in every client; after each
    // command (arming a list run tells the instrument nothing).
    void Update();

    // Whether `origin` is a remote client's, present or gone while its run goes on (a window's
    // and the program's are not).
    bool IsClient(const void* origin) const;

    // A ramp, a list run or a meter run that the client started and that has not ended.
    bool Pending(const RemoteClient& client) const;
    // *OPC: the OPC event at once when nothing is pending, else when the last pending ends.
    void ArmOperationComplete(RemoteClient& client);

private:
    void Observe(const InstrumentChange& change);
    // How `ended` ended, to the client that started it and to no other, before that client's
    // *OPC is set or its *OPC? answered: an execution error when it ended other than as it was
    // made to (Activity::OutcomeReported).
    void TellStarter(const Activity& ended);
    int ReadOperation() const;

    Instrument& instrument_;
    const ListRun* lists_;
    int listener_ = 0;
    std::vector<RemoteClient*> clients_;
    std::vector<std::unique_ptr<char>> departed_;  // origins of gone clients, still in use
    int operation_ = 0;
    int questionable_ = 0;
    bool linkDown_ = false;  // the last board request failed
};

}  // namespace tq
