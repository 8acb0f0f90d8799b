#pragma once
// Where *SAV and *RCL keep setups: ten slots, 0 to 9. The program keeps them in files of its
// settings folder, between runs; without those, the commands keep them in memory for the run.
// Standard library only.

#include <array>
#include <optional>
#include <stdexcept>
#include <string>

namespace tq {

// A slot that could not be read or written; what() says why.
class SlotError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class SetupSlots {
public:
    static constexpr int kCount = 10;
    // Longer text in a slot is not a setup of this program: it is not read.
    static constexpr std::size_t kMaxSetupSize = 1 << 20;

    virtual ~SetupSlots() = default;
    // The setup text kept in `slot` (0..kCount-1), or nothing when the slot is empty. Throws
    // SlotError when it cannot be read.
    virtual std::optional<std::string> Load(int slot) = 0;
    // Keeps `text` in `slot` in place of what it held, whole or not at all. Throws SlotError.
    virtual void Save(int slot, const std::string& text) = 0;
};

// Slots kept for as long as the object lives.
class MemorySetupSlots : public SetupSlots {
public:
    std::optional<std::string> Load(int slot) override {
        return slots_.at(static_cast<std::size_t>(slot));
    }
    void Save(int slot, const std::string& text) override {
        slots_.at(static_cast<std::size_t>(slot)) = text;
    }

private:
    std::array<std::optional<std::string>, kCount> slots_{};
};

}  // namespace tq
