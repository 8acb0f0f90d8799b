// What the program loads or checks without linking: shared libraries loaded while it runs, and the
// IP addresses and host names --listen takes.

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

// What --listen takes: an address as it is, a host name as every address it resolves to.
TEST(IpAddress, TakesIpv4AndIpv6AddressesAndHostNames) {
    const struct {
        const char* text;
        bool address;
        const char* listens;  // the addresses it listens on, joined by spaces; "": refused
    } rows[] = {
        {"0.0.0.0", true, "0.0.0.0"},
        {"127.0.0.1", true, "127.0.0.1"},
        {"192.0.2.7", true, "192.0.2.7"},
        {"::", true, "::"},
        {"::1", true, "::1"},
        {"fe80::1%lo", true, "fe80::1%lo"},
        {"::ffff:192.0.2.7", true, "::ffff:192.0.2.7"},
        {"", false, ""},
        {"nowhere", false, nullptr},  // whatever the resolver says
        {"nowhere.invalid", false, ""},
        {"localhost", false, "127.0.0.1 ::1"},  // both loopbacks, whatever the hosts file says
        {"Bench.LOCALHOST.", false, "127.0.0.1 ::1"},
        {"192.0.2", false, ""},  // not read as 192.0.0.2
        {"192.0.2.256", false, ""},
        {"192.0.2.7:5025", false, ""},
        {"fe80::1%", false, ""},
        {" 127.0.0.1", false, nullptr},
        {"[::1]", false, "::1"},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(IsIpAddress(row.text), row.address) << "'" << row.text << "'";
        if (row.listens == nullptr)
            continue;
        std::string error;
        std::string listens;
        for (const std::string& address : ListenAddresses(row.text, error))
            listens += (listens.empty() ? "" : " ") + address;
        EXPECT_EQ(listens, row.listens) << "'" << row.text << "'";
        EXPECT_EQ(error.empty(), *row.listens != '\0') << "'" << row.text << "': " << error;
    }
}

}  // namespace
}  // namespace tq::testing
