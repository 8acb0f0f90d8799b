#pragma once
// A virtual evaluation board: the USB controller's firmware protocol and a model of the TQ2604X
// converter behind it, deterministic so that tests and demonstrations repeat exactly.
//
// Choices the board's behaviour leaves open, fixed here:
// - Search_For_Boards and Connect answer -2 (no board) while the board is unplugged; downloads
//   and vendor requests answer -1. The handle is not checked: there is only one board.
// - A successful download does not reset the converter or the pins (the bench can be prepared
//   before the program starts); only a failed one stops the firmware.
// - Channel-register writes to addresses 5..7 are ignored; reads there answer channel A.
// - Function writes at addresses other than 1 (function register), 4 (CLEAR) and 5 (LOAD) do
//   nothing.
// - A read command's answer is taken when that command is shifted in.
// - The board drives D0/D1 from the pin word once it has received one (or a direction request
//   handing it the line) and stops when told that the converter drives the line. A line that
//   neither side drives is pulled low and reads 0.
// - While CLR or RSTIN is low an output reads exactly 0 V, without the channel's offset error.
// - Requests the firmware does not know, and 0xD9/0xDD, 0xDA lengths it does not serve, fail
//   with -1 and change nothing.
// - Fixed errors of the output amplifiers (gain error, offset error in volts):
//     A +2.1e-4, +350 uV; B -1.4e-4, -220 uV; C +3.2e-4, +180 uV; D -2.6e-4, -410 uV.
// - The non-linearity, when switched on, adds NonLinearityLsb(ordinal) LSB to the ideal output,
//   the ordinal being the code in offset-binary order (0 = the most negative output).

#include <array>
#include <cstdint>

#include "board/Adapter.h"
#include "board/SimulatedBench.h"

namespace tq {

class SimulatedBoard final : public Adapter, public SimulatorControl {
public:
    SimulatedBoard() = default;

    int32_t Search_For_Boards(int32_t vendorId, int32_t productId, int32_t* count,
                              uint8_t* list) override;
    int32_t Connect(int32_t vendorId, int32_t productId, uint8_t board, int32_t* handle) override;
    int32_t Download_Firmware(int32_t handle, const uint8_t* path) override;
    int32_t Vendor_Request(int32_t handle, uint8_t request, int32_t value, int32_t index,
                           uint8_t direction, int32_t length, uint8_t* buffer) override;

    // Throws std::out_of_range for a channel outside 0..3.
    double OutputVolts(int channel) const override;
    double DieTemperature() const override { return temperature_; }
    // Throws std::invalid_argument for a temperature that is not a finite number.
    void SetDieTemperature(double celsius) override;
    int D0Level() const override;
    int D1Level() const override;

    // Address and register outside 0..7 throw std::out_of_range. Register codes 1, 6, 7 and
    // function addresses other than 1 hold nothing: setting them is ignored, they read 0.
    // GetRegister(1, 0) gives the function register as written (not the line levels).
    void SetRegister(int address, int reg, uint16_t value) override;
    uint16_t GetRegister(int address, int reg) const override;
    void Unplug() override { plugged_ = false; }
    void Plug() override { plugged_ = true; }
    bool Plugged() const override { return plugged_; }
    void PowerCycle() override;
    void FailNextDownload(int32_t code) override;
    void GarbleReplies(int count) override;
    // Negative values throw std::out_of_range; at most one second.
    void SetLatency(int64_t microseconds) override;
    int64_t Latency() const override { return latencyMicroseconds_; }
    void SetNonLinearity(bool on) override { nonLinear_ = on; }
    bool NonLinearity() const { return nonLinear_; }

    // The error the non-linearity adds at a 16-bit ordinal, in LSB: a bow of kInlBowLsb at mid
    // scale (zero at both ends) and steps at the major carries (+0.5 LSB at 0x8000, -0.25 LSB at
    // 0x4000 and 0xC000).
    static constexpr double kInlBowLsb = 1.5;
    static double NonLinearityLsb(uint16_t ordinal);

    // The board converter's reading of the TEMP pin now (0..4095).
    uint16_t TempCount() const;
    bool FirmwareRunning() const { return firmwareRunning_; }

private:
    enum class LineDrive { Undriven, Board, Released };

    struct Channel {
        uint16_t input = 0x8000;
        uint16_t dac = 0x8000;
        uint8_t coarse = 0;
        uint8_t fine = 0;
        uint8_t offset = 0;
    };

    int32_t Transfer(int32_t value, int32_t index, bool pulse, uint8_t direction, int32_t length,
                     uint8_t* buffer);
    void ApplyWord(uint32_t word);
    void WriteChannelRegister(int address, int reg, uint16_t value);
    uint16_t ReadRegisterValue(int address, int reg) const;
    void LoadDacRegisters();
    void ClearDacRegisters();
    void SetPins(uint8_t value, uint8_t index);
    int LineLevel(int line) const;
    void Reply(uint8_t direction, const uint8_t* bytes, int32_t length, uint8_t* buffer);

    bool plugged_ = true;
    bool firmwareRunning_ = false;
    int awayRequests_ = 0;  // requests that fail while the board comes back after a power cycle
    bool failNextDownload_ = false;
    int32_t nextDownloadResult_ = 0;
    int garbleCount_ = 0;
    uint32_t garbleState_ = 0;

    std::array<Channel, 4> channels_{};
    uint16_t function_ = 0;
    // The 24-bit answer the next transfer shifts out, set by a read command; none after a write.
    uint32_t pendingAnswer_ = 0;
    uint16_t lastData_ = 0;

    // Pin word: LDAC, CLR, binary coding and RSTIN high (value 0x9F), D0/D1 drive levels low.
    uint8_t pinValue_ = 0x9F;
    uint8_t pinIndex_ = 0;
    std::array<LineDrive, 2> boardDrive_{LineDrive::Undriven, LineDrive::Undriven};

    double temperature_ = 25.0;
    int64_t latencyMicroseconds_ = 0;
    bool nonLinear_ = false;
};

}  // namespace tq
