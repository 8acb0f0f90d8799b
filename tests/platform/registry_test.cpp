#include <gtest/gtest.h>

#include <string>

#include "platform/Registry.h"
#include "tests/platform/FakeRegistry.h"

namespace tq::testing {
namespace {

constexpr const char* kKey = "SOFTWARE\\Vendor\\Tool";
constexpr const char* kName = "PATH";

struct LookupCase {
    const char* label;
    uint32_t type;
    std::string bytes;
    bool found;
    std::string expected;  // KeyVal afterwards; it holds "previous" before the call
};

class GetKeyValueTable : public ::testing::TestWithParam<LookupCase> {};

TEST_P(GetKeyValueTable, ReadsTheValueAsItsTypeSays) {
    const LookupCase& c = GetParam();
    FakeRegistry registry;
    registry.SetRaw(kHkeyLocalMachine, kKey, kName, c.type, c.bytes);
    std::string value = "previous";
    EXPECT_EQ(GetKeyValue(registry, kHkeyLocalMachine, kKey, kName, value), c.found);
    EXPECT_EQ(value, c.expected);
    EXPECT_EQ(registry.openCount, 0) << "the key is closed again";
}

INSTANTIATE_TEST_SUITE_P(
    Values, GetKeyValueTable,
    ::testing::Values(
        LookupCase{"TerminatedText", kRegString, std::string("C:\\Tools\\info.exe\0", 18), true,
                   "C:\\Tools\\info.exe"},
        LookupCase{"UnterminatedText", kRegString, "abc", true, "abc"},
        LookupCase{"OnlyTheTerminator", kRegString, std::string(1, '\0'), true, ""},
        LookupCase{"FullBufferOfText", kRegString, std::string(1024, 'x'), true,
                   std::string(1024, 'x')},
        LookupCase{"TooLongForTheBuffer", kRegString, std::string(1025, 'x'), false, ""},
        LookupCase{"Number", kRegDword, std::string("\x2B\x1A\0\0", 4), true, "1A2B"},
        LookupCase{"NumberZero", kRegDword, std::string(4, '\0'), true, "0"},
        LookupCase{"NumberTopBitSet", kRegDword, "\xFF\xFF\xFF\xFF", true, "FFFFFFFF"},
        LookupCase{"OtherTypeKeepsThePreviousText", 3, "\x01\x02", true, "previous"}),
    [](const auto& info) { return std::string(info.param.label); });

TEST(GetKeyValue, OpensTheKeyUnderTheGivenRootWithFullAccess) {
    FakeRegistry registry;
    registry.SetString(kHkeyLocalMachine, kKey, kName, "x");
    std::string value;
    GetKeyValue(registry, kHkeyLocalMachine, kKey, kName, value);
    ASSERT_EQ(registry.opened.size(), 1u);
    EXPECT_EQ(registry.opened[0].first, 0x80000002u);
    EXPECT_EQ(registry.opened[0].second, kKey);
    EXPECT_EQ(registry.accessMasks[0], 0x2003Fu);
}

struct FailureCase {
    const char* label;
    bool createKey;
    bool protectKey;
    const char* valueName;
};

class GetKeyValueFailures : public ::testing::TestWithParam<FailureCase> {};

TEST_P(GetKeyValueFailures, EmptiesTheTextAndClosesWhatItOpened) {
    const FailureCase& c = GetParam();
    FakeRegistry registry;
    if (c.createKey)
        registry.SetString(kHkeyLocalMachine, kKey, kName, "value");
    if (c.protectKey)
        registry.Protect(kHkeyLocalMachine, kKey);
    std::string value = "previous";
    EXPECT_FALSE(GetKeyValue(registry, kHkeyLocalMachine, kKey, c.valueName, value));
    EXPECT_EQ(value, "");
    EXPECT_EQ(registry.openCount, 0);
}

INSTANTIATE_TEST_SUITE_P(Failures, GetKeyValueFailures,
                         ::testing::Values(FailureCase{"NoSuchKey", false, false, kName},
                                           FailureCase{"AccessRefused", true, true, kName},
                                           FailureCase{"NoSuchValue", true, false, "OTHER"}),
                         [](const auto& info) { return std::string(info.param.label); });

TEST(GetKeyValue, AnAnswerOfNoBytesIsAFailureForTheCallerAndTheKeyIsClosed) {
    FakeRegistry registry;
    registry.SetString(kHkeyLocalMachine, kKey, kName, "value");
    registry.ReportSize(0);
    std::string value;
    EXPECT_THROW(GetKeyValue(registry, kHkeyLocalMachine, kKey, kName, value), RegistryError);
    EXPECT_EQ(registry.openCount, 0);
}

#ifndef _WIN32
TEST(SystemRegistry, HasNoKeysOffWindows) {
    auto registry = SystemRegistry();
    std::string value = "previous";
    EXPECT_FALSE(GetKeyValue(*registry, kHkeyLocalMachine,
                             "SOFTWARE\\Microsoft\\Shared Tools\\MSINFO", "PATH", value));
    EXPECT_EQ(value, "");
}
#endif

}  // namespace
}  // namespace tq::testing
