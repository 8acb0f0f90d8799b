#pragma once
// An in-memory registry for tests: keys by root and path, values as raw bytes with their type.

#include <cstring>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/Registry.h"

namespace tq::testing {

class FakeRegistry : public RegistryApi {
public:
    struct Value {
        uint32_t type;
        std::string bytes;
    };

    // A string value stored as Windows stores it: the text and its terminating zero.
    void SetString(uint32_t root, const std::string& key, const std::string& name,
                   const std::string& text) {
        SetRaw(root, key, name, kRegString, text + std::string(1, '\0'));
    }
    void SetRaw(uint32_t root, const std::string& key, const std::string& name, uint32_t type,
                std::string bytes) {
        keys_[{root, key}][name] = Value{type, std::move(bytes)};
    }
    // A key that exists but refuses the access mask asked for.
    void Protect(uint32_t root, const std::string& key) { protected_.push_back({root, key}); }
    // Answer queries with this size instead of the value's (a registry that misreports).
    void ReportSize(uint32_t size) { reportedSize_ = size; }

    bool OpenKey(uint32_t root, const std::string& keyName, uint32_t accessMask,
                 RegistryKey& key) override {
        opened.push_back({root, keyName});
        accessMasks.push_back(accessMask);
        for (const auto& p : protected_)
            if (p == std::make_pair(root, keyName))
                return false;
        const auto found = keys_.find({root, keyName});
        if (found == keys_.end())
            return false;
        handles_.push_back(&found->second);
        key = handles_.size();
        ++openCount;
        return true;
    }

    bool QueryValue(RegistryKey key, const std::string& valueName, uint32_t& type, char* buffer,
                    uint32_t& size) override {
        const auto& values = *handles_.at(key - 1);
        const auto found = values.find(valueName);
        if (found == values.end() || found->second.bytes.size() > size)
            return false;
        std::memcpy(buffer, found->second.bytes.data(), found->second.bytes.size());
        type = found->second.type;
        size = reportedSize_.value_or(static_cast<uint32_t>(found->second.bytes.size()));
        return true;
    }

    void CloseKey(RegistryKey) override { --openCount; }

    std::vector<std::pair<uint32_t, std::string>> opened;
    std::vector<uint32_t> accessMasks;
    int openCount = 0;  // keys opened and not yet closed

private:
    std::map<std::pair<uint32_t, std::string>, std::map<std::string, Value>> keys_;
    std::vector<std::pair<uint32_t, std::string>> protected_;
    std::vector<const std::map<std::string, Value>*> handles_;
    std::optional<uint32_t> reportedSize_;
};

}  // namespace tq::testing
