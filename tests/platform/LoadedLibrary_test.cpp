// What the program loads or checks without linking: shared libraries loaded while it runs, and the
// IP addresses --listen takes.

#include <gtest/gtest.h>

#include <string>

#include "platform/IpAddress.h"
#include "platform/SharedLibrary.h"

namespace tq::testing {
namespace {

#ifndef _WIN32
TEST(SharedLibrary, FindsItsFunctionsAndSaysWhatIsMissing) {
    SharedLibrary c("libc.so.6");
    ASSERT_TRUE(c.Loaded()) << c.Error();
    EXPECT_NE(c.Symbol("strlen"), nullptr);
    EXPECT_EQ(c.Symbol("tq_no_such_function"), nullptr);
    EXPECT_NE(c.Error().find("tq_no_such_function"), std::string::npos) << c.Error();

    SharedLibrary absent("libtq-no-such-library.so.9");
    EXPECT_FALSE(absent.Loaded());
    EXPECT_EQ(absent.Symbol("strlen"), nullptr);
    EXPECT_NE(absent.Error().find("libtq-no-such-library.so.9"), std::string::npos)
        << absent.Error();
}
#endif

TEST(IpAddress, TakesIpv4AndIpv6AddressesOnly) {
    const struct {
        const char* text;
        bool address;
    } rows[] = {
        {"0.0.0.0", true},
        {"127.0.0.1", true},
        {"192.0.2.7", true},
        {"::", true},
        {"::1", true},
        {"fe80::1%lo", true},
        {"::ffff:192.0.2.7", true},
        {"", false},
        {"nowhere", false},
        {"localhost", false},
        {"192.0.2", false},
        {"192.0.2.256", false},
        {"192.0.2.7:5025", false},
        {"fe80::1%", false},
        {" 127.0.0.1", false},
        {"[::1]", false},
    };
    for (const auto& row : rows)
        EXPECT_EQ(IsIpAddress(row.text), row.address) << "'" << row.text << "'";
}

}  // namespace
}  // namespace tq::testing
