#include "platform/Registry.h"

#include <cstdio>
#include <vector>

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#endif

namespace tq {

namespace {

#ifdef _WIN32
class WindowsRegistry : public RegistryApi {
public:
    bool OpenKey(uint32_t root, const std::string& keyName, uint32_t accessMask,
                 RegistryKey& key) override {
        // Predefined roots are sign-extended handle values.
        const auto rootKey =
            reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(static_cast<LONG>(root)));
        HKEY opened = nullptr;
        if (RegOpenKeyExA(rootKey, keyName.c_str(), 0, accessMask, &opened) != ERROR_SUCCESS)
            return false;
        key = reinterpret_cast<RegistryKey>(opened);
        return true;
    }

    bool QueryValue(RegistryKey key, const std::string& valueName, uint32_t& type, char* buffer,
                    uint32_t& size) override {
        DWORD valueType = 0;
        DWORD valueSize = size;
        if (RegQueryValueExA(reinterpret_cast<HKEY>(key), valueName.c_str(), nullptr, &valueType,
                             reinterpret_cast<BYTE*>(buffer), &valueSize) != ERROR_SUCCESS)
            return false;
        type = valueType;
        size = valueSize;
        return true;
    }

    void CloseKey(RegistryKey key) override { RegCloseKey(reinterpret_cast<HKEY>(key)); }
};
#else
// Without a registry every look-up fails at the first step.
class NoRegistry : public RegistryApi {
public:
    bool OpenKey(uint32_t, const std::string&, uint32_t, RegistryKey&) override { return false; }
    bool QueryValue(RegistryKey, const std::string&, uint32_t&, char*, uint32_t&) override {
        return false;
    }
    void CloseKey(RegistryKey) override {}
};
#endif

// Closes the key on every way out, a failure included.
class OpenedKey {
public:
    OpenedKey(RegistryApi& registry, RegistryKey key) : registry_(registry), key_(key) {}
    ~OpenedKey() { registry_.CloseKey(key_); }
    OpenedKey(const OpenedKey&) = delete;
    OpenedKey& operator=(const OpenedKey&) = delete;
    RegistryKey Get() const { return key_; }

private:
    RegistryApi& registry_;
    RegistryKey key_;
};

}  // namespace

std::unique_ptr<RegistryApi> SystemRegistry() {
#ifdef _WIN32
    return std::make_unique<WindowsRegistry>();
#else
    return std::make_unique<NoRegistry>();
#endif
}

bool GetKeyValue(RegistryApi& registry, uint32_t KeyRoot, const std::string& KeyName,
                 const std::string& SubKeyRef, std::string& KeyVal) {
    RegistryKey handle = 0;
    if (!registry.OpenKey(KeyRoot, KeyName, kKeyAllAccess, handle)) {
        KeyVal.clear();
        return false;
    }
    const OpenedKey key(registry, handle);

    std::vector<char> buffer(kValueBufferSize, '\0');
    uint32_t size = kValueBufferSize;
    uint32_t type = 0;
    if (!registry.QueryValue(key.Get(), SubKeyRef, type, buffer.data(), size)) {
        KeyVal.clear();
        return false;
    }
    if (size == 0 || size > kValueBufferSize)
        throw RegistryError("registry value of unexpected size " + std::to_string(size));

    // String values usually end in their terminating zero; it is not part of the text.
    const std::size_t length = buffer[size - 1] == '\0' ? size - 1 : size;
    if (type == kRegString) {
        KeyVal.assign(buffer.data(), length);
    } else if (type == kRegDword) {
        uint32_t number = 0;
        for (uint32_t i = 0; i < size && i < 4; ++i)
            number |= static_cast<uint32_t>(static_cast<unsigned char>(buffer[i])) << (8 * i);
        char digits[9];
        std::snprintf(digits, sizeof digits, "%X", number);
        KeyVal = digits;
    }
    return true;
}

}  // namespace tq
