#pragma once
// A small, strict JSON reader and writer for the program's own files (setups): objects, arrays,
// strings, whole numbers, true, false and null. Fractions and exponents are refused, as no value
// the program stores has them. Depth and size are bounded, so a hostile file costs little.

#include <cstdint>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace tq {

class JsonError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class JsonValue {
public:
    using Object = std::vector<std::pair<std::string, JsonValue>>;  // in the file's order
    using Array = std::vector<JsonValue>;

    JsonValue() = default;  // null
    JsonValue(bool b) : value_(b) {}
    JsonValue(int64_t n) : value_(n) {}
    JsonValue(int n) : value_(static_cast<int64_t>(n)) {}
    JsonValue(std::string s) : value_(std::move(s)) {}
    JsonValue(const char* s) : value_(std::string(s)) {}
    JsonValue(Object o) : value_(std::move(o)) {}
    JsonValue(Array a) : value_(std::move(a)) {}

    bool IsNull() const { return std::holds_alternative<std::monostate>(value_); }
    bool IsBool() const { return std::holds_alternative<bool>(value_); }
    bool IsInt() const { return std::holds_alternative<int64_t>(value_); }
    bool IsString() const { return std::holds_alternative<std::string>(value_); }
    bool IsObject() const { return std::holds_alternative<Object>(value_); }
    bool IsArray() const { return std::holds_alternative<Array>(value_); }

    bool Bool() const { return std::get<bool>(value_); }
    int64_t Int() const { return std::get<int64_t>(value_); }
    const std::string& String() const { return std::get<std::string>(value_); }
    const Object& Members() const { return std::get<Object>(value_); }
    const Array& Items() const { return std::get<Array>(value_); }

    // The member with this key, or null when there is none.
    const JsonValue* Find(std::string_view key) const;

private:
    std::variant<std::monostate, bool, int64_t, std::string, Object, Array> value_;
};

// Throws JsonError saying where the text stops being JSON ("line 3, column 7: ..."). A key that
// appears twice in one object is an error: which one was meant cannot be told.
JsonValue ParseJson(std::string_view text);

// `indent` 0 writes one line with no line feed; more writes each member on its own line.
std::string WriteJson(const JsonValue& value, int indent = 2);

}  // namespace tq
