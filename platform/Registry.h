#pragma once
// Registry look-up over a small seam: the three registry calls the look-up needs. On Windows the
// seam is the system registry; elsewhere there is no registry and every key fails to open.

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>

namespace tq {

inline constexpr uint32_t kHkeyLocalMachine = 0x80000002;
// Read control plus all six key rights of their own (the write rights included).
inline constexpr uint32_t kKeyAllAccess = 0x2003F;
inline constexpr uint32_t kRegString = 1;  // REG_SZ
inline constexpr uint32_t kRegDword = 4;   // REG_DWORD
inline constexpr uint32_t kValueBufferSize = 1024;

// A registry answer that the look-up cannot make sense of.
class RegistryError : public std::runtime_error {
public:
    explicit RegistryError(const std::string& what) : std::runtime_error(what) {}
};

using RegistryKey = std::uintptr_t;

class RegistryApi {
public:
    virtual ~RegistryApi() = default;
    // Opens `keyName` under the predefined root `root`; false when it cannot be opened.
    virtual bool OpenKey(uint32_t root, const std::string& keyName, uint32_t accessMask,
                         RegistryKey& key) = 0;
    // Reads the value `valueName` into `buffer`. `size` holds the buffer's capacity in bytes on
    // entry and the number of bytes stored on return; false when there is no such value or it
    // does not fit.
    virtual bool QueryValue(RegistryKey key, const std::string& valueName, uint32_t& type,
                            char* buffer, uint32_t& size) = 0;
    virtual void CloseKey(RegistryKey key) = 0;
};

// The machine's registry (Windows), or one without keys (elsewhere).
std::unique_ptr<RegistryApi> SystemRegistry();

// Reads value `SubKeyRef` of key `KeyName` under `KeyRoot` into `KeyVal`: a string value as its
// text, a 32-bit number as upper-case hexadecimal digits; any other type leaves KeyVal as it was.
// Returns false, with KeyVal empty, when the key cannot be opened or the value read. An answer
// whose size lies outside the buffer raises RegistryError.
bool GetKeyValue(RegistryApi& registry, uint32_t KeyRoot, const std::string& KeyName,
                 const std::string& SubKeyRef, std::string& KeyVal);

}  // namespace tq
