#pragma once
// Every action a user can take on the board, each with its target named in the call: a channel
// (address 0..3 for DAC A..D, 4 for ALL DACs where that makes sense), a register, a pin, a flag.
// Windows, the automation console and the remote server are its clients; none of them relies on
// a "current channel" that another one left behind.
//
// A call sends its whole sequence of requests as the windows' handlers always have; if any of
// them failed, the call then throws RequestError with the adapter's code and explanation. After
// every change it tells its listeners what changed, so every view shows the board as it is.
//
// It is a facade over its components: the converter mirror (what the program knows of every
// register, pin and flag), the channel claims, the output guard (send, ramp or refuse), the
// activity registry (ramps and runs) and the board link. Every write takes one path: claims,
// guard, send, mirror, notify.

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/ConverterCoding.h"
#include "core/ConverterProfile.h"
#include "core/DeviceState.h"
#include "core/Tables.h"
#include "instrument/Activities.h"
#include "instrument/ChannelClaims.h"
#include "instrument/ConverterMirror.h"
#include "instrument/InstrumentErrors.h"
#include "instrument/OutputGuard.h"
#include "instrument/OutputProtection.h"
#include "instrument/RunTimer.h"
#include "instrument/Temperature.h"

namespace tq {

class BoardRequests;
class Ramp;
class RegisterAccess;

// The board's pins that the pin word carries.
enum class Pin { Ldac, Clr, Rstin, BinaryCoding, DriveD0, DriveD1 };
// The function register's six control bits.
enum class FunctionFlag { LocalGndOffset, D1Output, D1High, D0Output, D0High, SdoDisable };

struct InstrumentChange {
    enum class Kind {
        Register,             // a register was written or read back: address, reg, value
        Pins,                 // the pin word was sent
        FunctionFlags,        // the function flags were written
        D0Direction,          // value 1: the converter drives D0
        D1Direction,          // value 1: the converter drives D1
        PulseAfterDataWrite,  // value 0 or 1
        ReadWrite,            // the R/W bit of the word just sent
        Resolution,           // value 16 or 14
        RequestResult,        // a board request finished with this result (negative: failed)
        Refused,     // a change refused: value 0 a running activity owns the channel (address),
                     // 1 the output protection's limits; text says why
        Protection,  // limits or protection options changed (address: the channel, or -1)
        Activity,    // value 1: an activity began, 2: it advanced, 0: it ended (text: why it
                     // ended before its end, or ""); activity: the activity, and its outcome
        BoardBack,   // the board answered again after failed requests (text: what the program
                     // found and did); value 1: it had lost power, and the program restored it
        Word,        // a command word went to the converter: readBack (its R/W bit), reg, address
                     // and value (the data sent, or the register's value read back)
    };
    Kind kind;
    int16_t address = 0;
    int16_t reg = 0;
    int32_t value = 0;
    bool readBack = false;                   // Register: read back rather than written
    const void* origin = nullptr;            // who asked (see Instrument::Origin)
    std::string text{};                      // what a view shows of it (Refused, Activity)
    const tq::Activity* activity = nullptr;  // Activity: valid during the notification
};

struct BoardIdentity {
    std::string displayName;  // "Simulated board", or the real board's name
    std::string serial;       // "SIMULATED", or the USB location of a real board
};

struct VoltageSetting {
    float volts;       // the voltage written, after limiting to the range
    int32_t code;      // the N-bit code (14-bit codes not yet multiplied by 4)
    float rangeVolts;  // the full scale of the range it was coded for
};

class Instrument {
public:
    using Listener = std::function<void(const InstrumentChange&)>;

    Instrument(DeviceState& state, BoardRequests& requests, BoardIdentity identity);
    ~Instrument();
    Instrument(const Instrument&) = delete;
    Instrument& operator=(const Instrument&) = delete;

    // Listeners are called after each change, on the caller's thread. They must not call back
    // into the instrument.
    //
    // A board that stopped answering may have had a cable glitch (it kept its registers) or lost
    // power (every register and pin at its power-on state). Before the first request that could
    // find it back, the program reads back registers whose known value differs from their
    // power-on state and decides from what comes back (see BoardLink.cpp): after a glitch it
    // sends nothing (only a pin or function word that failed while the board was away); after a
    // power loss it restores, with CLR held low, the pins, the function word, the ranges and
    // calibration it knew and each data register's 0 V code, then releases CLR, and tells the
    // listeners (BoardBack, value 1); when nothing it knew differs from the power-on state it
    // cannot tell, and sends its pins and function word again. A register read cut by the
    // board's return is taken again, and counts as a failure only when that fails too.
    int AddListener(Listener listener);
    void RemoveListener(int id);

    // While one lives, changes are reported with this origin, so that a view can tell its own
    // changes from everyone else's.
    class Origin {
    public:
        Origin(Instrument& instrument, const void* origin);
        ~Origin();
        Origin(const Origin&) = delete;
        Origin& operator=(const Origin&) = delete;

    private:
        Instrument& instrument_;
        const void* previous_;
    };

    const BoardIdentity& Identity() const { return identity_; }
    // A real board's location is known once it is connected.
    void SetIdentity(BoardIdentity identity) { identity_ = std::move(identity); }
    const DeviceState& State() const { return state_; }

    int16_t Resolution() const { return state_.Resolution; }
    // The resolution of one of the devices of core/ConverterProfile.h; another is a
    // ValueRangeError. The listeners hear of it.
    void SetResolution(int16_t bits);
    // The device in use: its model, codes, ranges and the bounds of fine gain and offset.
    const ConverterProfile& Profile() const { return ProfileOf(state_.Resolution); }
    // The device with the board's coding: the top code, the code of 0 V, the 14-bit frame.
    ConverterCoding Coding() const {
        return ConverterCoding(state_.Resolution, state_.BinaryCoding != 0);
    }

    bool PulseAfterDataWrite() const { return pulseAfterDataWrite_; }
    // While writes pulse LDAC the pin stays high: turning the pulse on raises a low LDAC (one pin
    // word), and SetPin(Ldac, false) is refused while it is on.
    void SetPulseAfterDataWrite(bool on);

    // Registers by address and register select, as the converter takes them.
    void WriteRegister(int16_t address, int16_t reg, int32_t data);
    int32_t ReadRegister(int16_t address, int16_t reg);

    // --- channel outputs (address 0..3; ALL DACs = 4 where allowed) ---

    // As the voltage entry does: reads the channel's coarse gain (DAC A's for ALL DACs), limits
    // the voltage to that range, codes it for the board's coding and resolution and writes the
    // data register. A coarse gain of 3 has no range of its own: `rangeForCode3` is used then.
    // With `refuseBeyondRange` a voltage outside the range read is a ValueRangeError and nothing
    // is written (instead of the entry's limiting).
    VoltageSetting SetChannelVoltage(int16_t address, float volts,
                                     float rangeForCode3 = FullScaleOfCode(0),
                                     bool refuseBeyondRange = false);
    // The voltage of the code in the channel's data (input) register, from read-backs of its
    // data and coarse gain registers.
    float ChannelVoltage(int16_t channel);
    // The data register's N-bit code (0..2^N - 1); ValueRangeError beyond it.
    void SetDataCode(int16_t address, int32_t code);
    int32_t DataCode(int16_t channel);
    // Coarse gain code 0, 1 or 2 (3 reads back as itself and acts as 0).
    void SetRangeCode(int16_t address, int32_t code);
    int32_t RangeCode(int16_t channel);
    // The channel's full scale as the program knows it: from the last write or read-back of its
    // coarse gain that went through here, or from one read-back when it does not know it.
    float ChannelRangeVolts(int16_t channel);
    std::optional<int32_t> KnownRangeCode(int16_t channel) const;
    // Fine gain and offset as the register's signed step count, within the device's profile
    // (fineGain, offset); a value beyond it is a ValueRangeError. The windows' entries show
    // them in the profile's units (quarter steps of fine gain on the 14-bit device, eighths of
    // an LSB of offset on the 16-bit one).
    void SetFineGain(int16_t address, int32_t value);
    int32_t FineGain(int16_t channel);
    void SetOffset(int16_t address, int32_t value);
    int32_t Offset(int16_t channel);

    // --- function register, pins, broadcasts ---

    // Sets one flag and writes the function word built from all six.
    void SetFunctionFlag(FunctionFlag flag, bool on);
    bool FunctionFlagValue(FunctionFlag flag) const;
    // Writes the function word built from the six flags (FunctionImage).
    void WriteFunctionFlags();
    // Read-modify-write of one function bit, as the function list does.
    void RunFunctionBitOperation(const FunctionBitOperation& operation);
    // The no-operation word at function address 0 with the given register select.
    void NoOperation(int16_t reg);
    void ClearAllChannels();
    void LoadAllChannels();

    // Sets one pin flag and sends the pin word.
    void SetPin(Pin pin, bool high);
    bool PinValue(Pin pin) const;
    // The D0/D1 interlocks: the converter sets a line's level only while the line is its output
    // (line 0 is D0), the board drives it only while it is an input; InstrumentError otherwise.
    void CheckDigitalLevel(int line) const;
    void CheckDigitalDrive(int line) const;
    // The board's side of D0/D1 first, then the converter's direction bit.
    void SetD0Output(bool output);
    void SetD1Output(bool output);
    // READ: the function register with the serial output enabled, read back; returns the image.
    int32_t ReadFunctionRegister();
    // The start-up's read of the function register: the six flags and FunctionImage take its
    // control bits, so that the next function write keeps what the converter has. A read-back of
    // FFFF (nothing drives the serial output) counts as 0. Returns the image.
    int32_t AdoptFunctionRegister();

    // Runs `read` (register read-backs) with the converter's serial output enabled: while it is
    // disabled it is enabled for the reads and disabled again after, as Measure does; the flag
    // ends as it was, also when a read fails.
    template <typename F>
    auto WithSerialOutput(F&& read) -> decltype(read()) {
        if (!FunctionFlagValue(FunctionFlag::SdoDisable))
            return read();
        SetFunctionFlag(FunctionFlag::SdoDisable, false);
        try {
            auto value = read();
            SetFunctionFlag(FunctionFlag::SdoDisable, true);
            return value;
        } catch (...) {
            try {
                SetFunctionFlag(FunctionFlag::SdoDisable, true);
            } catch (const InstrumentError&) {
                // The read's own failure is the one to report.
            }
            throw;
        }
    }

    // --- channel claims and activities ---

    // While `owner` holds a channel, a write that would move its output (its data, gain or offset
    // registers, ALL DACs, CLEAR) made under any other origin throws InstrumentError naming the
    // channel and `ownerName`, before anything is sent. A channel another owner holds already is
    // an InstrumentError too.
    void ClaimChannels(const void* owner, const std::vector<int16_t>& channels,
                       const std::string& ownerName);
    void ReleaseChannels(const void* owner);
    // Throws what a write of `reg` at `address` would throw because a running activity or a ramp
    // holds the channel (InstrumentError naming it), without sending anything.
    void CheckMayWrite(int16_t address, int16_t reg) { CheckClaims(address, reg); }

    // An activity begins: it claims its channels in its name (InstrumentError, and nothing
    // begins, when another holds one) and the listeners hear of it. Its starter is the current
    // origin; `total` its steps in all (0: open-ended).
    void BeginActivity(Activity& activity, int64_t total = 0);
    // It made progress: `done` of `total` steps, and what a view shows of it.
    void AdvanceActivity(Activity& activity, int64_t done, int64_t total,
                         std::string progress = {});
    // It ended as `outcome` says (finished by default): its channels are free again and the
    // listeners hear how it ended.
    void EndActivity(Activity& activity, ActivityOutcome outcome = {});
    const std::vector<Activity*>& Activities() const { return activities_.All(); }
    bool Running(const Activity& activity) const { return activities_.Running(activity); }
    // Any running activity that `startedBy` started.
    bool RunsActivityOf(const void* startedBy) const { return activities_.AnyStartedBy(startedBy); }
    // The STATus:OPERation condition bits of the running activities.
    int OperationCondition() const { return activities_.OperationCondition(); }
    // Stops every running activity that drives an output, as `reason` says; the ones that drive
    // none (the temperature log) go on.
    void StopActivitiesOnOutputs(const StopReason& reason);
    // Whose call is under way (see Origin), or null.
    const void* CurrentOrigin() const { return origin_; }

    // Each channel's N-bit data code without the pulse, then one LOAD, so that all outputs change
    // at once. A code outside the resolution is a ValueRangeError before anything is sent. With
    // limits set, a change beyond a channel's ramp step is refused (a run's step is one step).
    void WriteChannelsTogether(const std::vector<std::pair<int16_t, int32_t>>& codes);
    // The same, but a change beyond a channel's ramp step goes out as a ramp.
    void MoveChannelsTogether(const std::vector<std::pair<int16_t, int32_t>>& codes);
    // Runs `calls` (settings of several channels) with their channel register writes and limits
    // held back, then judges what they wrote as one change and sends it: a refusal or a failed
    // check of any of them sends nothing at all. Reads and function-register writes within go out
    // as they come. The writes go out in order, each with the pulse as set; a change beyond a ramp
    // step goes out as one ramp of every channel it moves.
    void WriteAsOne(const std::function<void()>& calls);

    // --- output protection ---

    // A channel's limits (0..3); ValueRangeError (CheckChannelLimits) and nothing changes when
    // they cannot work. Setting them sends nothing.
    void SetLimits(int16_t channel, const ChannelLimits& limits);
    const ChannelLimits& Limits(int16_t channel) const;
    // Any channel has a limit or a ramp.
    bool LimitsActive() const { return guard_.Active(); }
    void SetProtectionOptions(const ProtectionOptions& options);
    const ProtectionOptions& ProtectionOptionsInEffect() const { return protectionOptions_; }
    // Whether the board's power loss also clears the remote clients' enable registers (*PSC);
    // kept between runs with the limits, so it is told as a Protection change.
    bool PowerOnStatusClear() const { return powerOnStatusClear_; }
    void SetPowerOnStatusClear(bool on);

    // Ramps wait between steps on this timer, whose wake-up must call RampStep(); without one a
    // ramp's steps go out one after the other within the call.
    void SetRampTimer(RunTimer* timer) { rampTimer_ = timer; }
    void RampStep();
    bool Ramping() const { return ramp_ != nullptr; }
    // Who started the running ramp (the origin of its call), or null.
    const void* RampOrigin() const;

    // The safe state: every activity that drives an output stops as `reason` says (the
    // temperature log goes on), then every output goes to 0 V: each data register to the code
    // of 0 V in the board's coding, then one LOAD, in ramp steps where a ramp is set (the first
    // one at once). It takes every channel over from whatever holds it.
    void GoToSafeState(const StopReason& reason = {nullptr, "the safe state took over"});
    // The same, waiting out the ramp's waits within the call (for the program's exit).
    void GoToSafeStateAndWait(const StopReason& reason = {nullptr, "the program's exit"});

    // The outputs a whole new configuration would produce, checked against the limits in effect
    // and `extra` (a setup's own): throws LimitError naming the first channel refused.
    void CheckPlannedOutputs(const ConverterModel& planned,
                             const std::array<ChannelLimits, kChannelCount>* extra = nullptr);
    // The guard's judgement of a planned change, for an activity that checks its writes before
    // the first: throws LimitError naming the first channel refused (a ramp counts as refused).
    void CheckChange(const ConverterModel& before, const ConverterModel& after, ChangeKind kind);
    // The converter as the program knows it; with `readUnknown`, registers it has not seen
    // written or read since start are read back first.
    ConverterModel KnownModel(bool readUnknown);
    const ConverterMirror& Mirror() const { return mirror_; }

    // --- temperature ---

    // With the serial output disabled for the readings and restored after: three readings of the
    // board's converter, the third counts. A failed request throws RequestError, a reading
    // outside 0..4095 ReadingError.
    TemperatureReading MeasureTemperature();

    // --- the board link ---

    // Looks at the board now, as a hot-plug notice would make the program do: a board that
    // lost power is found back and restored at once. Tells only through the listeners.
    void CheckBoard();
    // A register of a channel could not be restored after a power loss and has not been
    // written since (the protocol's QUEStionable CALibration).
    bool RestorationIncomplete() const;

    // Search, connect and download the firmware from the program folder: 0, or the adapter's
    // result (ExplainConnectResult tells what it means).
    int16_t ConnectBoard(const std::string& programFolder);
    // What a request's failure code means while the program runs, or nothing for a code outside
    // the table.
    static std::string ExplainResult(int32_t code);
    // ExplainResult of the last ConnectBoard's result, with what the program knows beyond the
    // code: the firmware path it looked at and, for a file it could not use, why (the line of a
    // malformed file).
    std::string ExplainConnectResult(int32_t code) const;
    // The legacy panel's own requests: the word composed in DeviceState (Address, RegSelect,
    // ReadWrite, DataValue) without a pulse, and the two-byte read of the last word shifted in.
    void WriteComposedWord();
    std::array<uint8_t, 2> LegacyRead();

private:
    friend class Origin;
    class CallScope;
    class Hooks;

    void ShowReadWrite(int16_t readWrite);
    void Notify(InstrumentChange change);
    static void CheckChannel(int16_t channel, bool allowAll);
    int32_t WriteDataRegister(int16_t address, int32_t code);

    // The one write path: the claims, the guard, then Send.
    void CheckClaims(int16_t address, int16_t reg);
    // The guard's judgement of `change` applied to the known converter: nothing when it may be
    // sent, the target when it must go out as a ramp; a refusal throws LimitError.
    template <typename Change>
    std::optional<ConverterModel> Admit(ChangeKind kind, Change&& change);
    [[noreturn]] void Refuse(int16_t channel, const std::string& why);
    // Sends a judged register write, mirrors it and notifies.
    void Send(int16_t address, int16_t reg, int32_t data, bool pulse);
    // The same whatever a power loss did to the call (the restoration's own writes).
    void Put(int16_t address, int16_t reg, int32_t data, bool pulse);
    // The pin word as the program's pins make it.
    void SendPins();
    void SendCodesTogether(const std::vector<std::pair<int16_t, int32_t>>& codes);
    void CheckCodesTogether(const std::vector<std::pair<int16_t, int32_t>>& codes);
    // The board link (BoardLink.cpp).
    enum class BoardFound { Away, Kept, Lost, CannotTell };
    void TakeRequestResult(int32_t result);
    // The gate before every request: a board that was away is probed before the request goes.
    void BeforeRequest(bool changes);
    // Something the program knows differs from the power-on state (or a restoration is owed).
    bool CanTellPowerLoss() const;
    // Finds out what a board that may have been away kept and acts on it; `contact` makes one
    // read even when there is nothing to compare, `wasAway` tells the listeners of a return.
    BoardFound Rejoin(bool contact, bool wasAway);
    BoardFound Probe(bool contact);
    void ResendAfterReturn(BoardFound found);
    // False when the board did not answer its first request.
    bool RestoreAfterPowerLoss();

    void StartRamp(const ConverterModel& target);
    // `withinCall`: the step goes out within the starter's own call, which throws its failure.
    void SendRampStep(bool withinCall);
    void ContinueRamp();
    void EndRamp(ActivityOutcome outcome);
    // Ends a running ramp where its last step left the outputs (the ramp activity's Stop).
    friend class Ramp;
    void StopRamp(const StopReason& reason);
    void Announce(Activity& activity, int64_t total);

    DeviceState& state_;
    BoardRequests& requests_;
    int observer_ = 0;
    BoardIdentity identity_;
    std::unique_ptr<Hooks> hooks_;
    std::unique_ptr<RegisterAccess> registers_;
    bool pulseAfterDataWrite_ = false;
    std::vector<std::pair<int, Listener>> listeners_;
    int nextListener_ = 1;
    const void* origin_ = nullptr;
    int callDepth_ = 0;
    int32_t firstFailure_ = 0;        // the first failed request's result in the current call
    int64_t failures_ = 0;            // failed requests since start
    bool boardAway_ = false;          // the last request failed
    bool rejoining_ = false;          // finding out what a returned board kept, restoring it
    int64_t requestCount_ = 0;        // requests sent for the program's calls (not the link's own)
    int64_t returnedAfter_ = 0;       // requestCount_ when the board was last found back
    int changesInCall_ = 0;           // requests of the current call that may change the board
    bool probeFailedInCall_ = false;  // the board did not answer the current call's probe
    bool holdWrites_ = false;         // a power loss cut this call's changes: the rest are not sent
    bool pinsUnsent_ = false;  // a pin word failed: the board may not hold the program's pins
    // The activities that drove outputs when a power loss was found: their writes are refused
    // from then on (until their owner begins a new one), so that they end where the loss left
    // the outputs, at 0 V.
    std::vector<const void*> cut_;
    // What the program knew when a power loss was found, until the restoration is complete.
    std::optional<ConverterMirror::Knowledge> lost_;
    // Per channel, the registers (bit = register select) a restoration could not write.
    std::array<uint8_t, kChannelCount> unrestored_{};

    ConverterMirror mirror_;
    ChannelClaims claims_;
    OutputGuard guard_;
    ActivityRegistry activities_;
    ProtectionOptions protectionOptions_;
    bool powerOnStatusClear_ = false;
    // WriteAsOne: what its calls wrote and set, held back until they all passed.
    struct HeldBack {
        std::vector<std::pair<int16_t, int16_t>> targets;  // address, register
        std::vector<int32_t> data;
        std::vector<std::pair<int16_t, ChannelLimits>> limits;
    };
    HeldBack* heldBack_ = nullptr;

    std::unique_ptr<Ramp> ramp_;
    RunTimer* rampTimer_ = nullptr;
};

}  // namespace tq
