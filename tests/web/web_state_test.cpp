// The web page's state as /api/state and /lxi/identification give it, after what a remote client
// does: one table of changes and the members they must show.

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "remote/InstrumentCommands.h"
#include "tests/support/SimulatedInstrument.h"
#include "web/WebSessions.h"
#include "web/WebState.h"

namespace tq::testing {
namespace {

struct StateCase {
    const char* name;
    std::vector<const char*> lines;  // sent by one client, in order
    const char* pointer;             // a JSON pointer into /api/state
    nlohmann::json expected;         // a number is compared within 0.02
};

class WebStateTest : public ::testing::TestWithParam<StateCase>, public SimulatedInstrument {
protected:
    InstrumentCommands commands{instrument, &board};
    WebState web{commands, {"bench-7", "0.0.0.0", 8080, "0.0.0.0", 5025, true, {}}};
};

TEST_P(WebStateTest, ShowsWhatTheClientDid) {
    const StateCase& c = GetParam();
    web.StateJson();  // the page is open: what the program had not seen is read back
    ScpiSession client{commands};
    for (const char* line : c.lines)
        client.Execute(line);
    const nlohmann::json state = nlohmann::json::parse(web.StateJson());
    const nlohmann::json& shown = state.at(nlohmann::json::json_pointer(c.pointer));
    if (c.expected.is_number() && shown.is_number())
        EXPECT_NEAR(shown.get<double>(), c.expected.get<double>(), 0.02) << state.dump();
    else
        EXPECT_EQ(shown, c.expected) << state.dump();
}

INSTANTIATE_TEST_SUITE_P(
    Rows, WebStateTest,
    ::testing::Values(
        StateCase{"DacBOutput", {"SOUR2:VOLT 5"}, "/channels/1/volts", 5.0},
        StateCase{"OthersUntouched", {"SOUR2:VOLT 5"}, "/channels/0/volts", 0.0},
        StateCase{"SetByAClient", {"SOUR2:VOLT 5"}, "/channels/1/lastSetBy", "a remote client"},
        StateCase{
            "AllDacsSetByAClient", {"SOUR:ALL:VOLT 1"}, "/channels/3/lastSetBy", "a remote client"},
        StateCase{"Range", {"SOUR3:VOLT:RANG 10.5263"}, "/channels/2/rangeVolts", 10.5263},
        StateCase{"RangeAfterAReadBack", {}, "/channels/3/rangeVolts", 10.0},
        StateCase{"ClrLowHoldsZero", {"SOUR1:VOLT 3", "PIN:CLR 0"}, "/channels/0/volts", 0.0},
        StateCase{"ClrPin", {"PIN:CLR 0"}, "/pins/clr", false},
        StateCase{"Coding", {"SOUR:COD TWOS"}, "/coding", "twos-complement"},
        StateCase{"FourteenBitModel", {"SYST:RES 14"}, "/identity/model", "TQ2404"},
        StateCase{"FourteenBitCodes", {"SYST:RES 14"}, "/channels/0/maxCode", 16383},
        StateCase{"LowLimit", {"SOUR4:VOLT:LIM:LOW -2"}, "/channels/3/limitLow", -2.0},
        StateCase{"RampStep", {"SOUR4:VOLT:RAMP:STEP 0.5"}, "/channels/3/rampStep", 0.5},
        StateCase{"VxiElevenOnTheHostName", {}, "/identity/visa/0", "TCPIP::bench-7::INSTR"},
        StateCase{"RawSocketOnTheHostName", {}, "/identity/visa/1", "TCPIP::bench-7::5025::SOCKET"},
        StateCase{"Temperature", {}, "/temperature/celsius", 25.0},
        // A power loss shows where the board held something else than its power-on state.
        StateCase{"PowerLoss", {"SOUR1:VOLT 1", "BENC:POW:CYCL"}, "/outcomes/1/kind", "power"},
        StateCase{
            "OnlyTheLastOutcomes",
            {"SOUR1:VOLT 1", "BENC:POW:CYCL", "SOUR1:VOLT 1", "BENC:POW:CYCL", "SOUR1:VOLT 1",
             "BENC:POW:CYCL", "SOUR1:VOLT 1", "BENC:POW:CYCL", "SOUR1:VOLT 1", "BENC:POW:CYCL"},
            "/outcomes/7/kind",
            "power"},
        StateCase{"Described", {}, "/description/settings/0/unit", "V"},
        StateCase{"LockHolder", {"SYST:LOCK:REQ?"}, "/lock", "a remote client"},
        StateCase{"LockGivenBack", {"SYST:LOCK:REQ?", "SYST:LOCK:REL"}, "/lock", nullptr}),
    [](const ::testing::TestParamInfo<StateCase>& info) { return info.param.name; });

TEST_F(WebStateTest, KeepsTheLastOutcomesAndEscapesTheIdentification) {
    ScpiSession client{commands};
    web.StateJson();
    for (int i = 0; i < 6; ++i)
        client.Execute("SOUR1:VOLT 1;:BENC:POW:CYCL");
    const nlohmann::json state = nlohmann::json::parse(web.StateJson());
    EXPECT_EQ(state["outcomes"].size(), WebState::kOutcomes);

    instrument.SetIdentity({"Board <\"A&B\">", "1-4.2"});
    const std::string xml = web.IdentificationXml();
    for (const char* shown :
         {"<ManufacturerDescription>Board &lt;&quot;A&amp;B&quot;&gt;",
          "<SerialNumber>1-4.2</SerialNumber>", "<InstrumentAddressString>TCPIP::bench-7::INSTR</",
          "TCPIP::bench-7::5025::SOCKET"})
        EXPECT_NE(xml.find(shown), std::string::npos) << shown << " in\n" << xml;

    // Served on IPv6: the addresses come in brackets where a port or a path follows them.
    WebState ipv6{commands, {"bench-7", "[::1]", 8080, "[::]", 5025, true, {}}};
    const nlohmann::json identity = nlohmann::json::parse(ipv6.StateJson())["identity"];
    EXPECT_EQ(identity["page"], "http://[::1]:8080/");
    EXPECT_EQ(identity["scpi"], "[::]:5025");
    EXPECT_EQ(identity["visa"][0], "TCPIP::bench-7::INSTR");
    const std::string ipv6Xml = ipv6.IdentificationXml();
    for (const char* shown :
         {"<IPAddress>::1</IPAddress>", "<IdentificationURL>http://[::1]:8080/lxi/"})
        EXPECT_NE(ipv6Xml.find(shown), std::string::npos) << shown << " in\n" << ipv6Xml;
}

// The password kept as a hash matches itself only; wrong passwords from one address wait longer
// each time, up to the longest, until the right one; the addresses kept stay bounded.
TEST(WebSignIn, WrongPasswordsWaitLongerAndTheAddressesKeptStayBounded) {
    using std::chrono::seconds, std::chrono::milliseconds;
    std::string password = "correct horse battery";
    const PasswordHash hash(password);
    EXPECT_TRUE(password.empty());
    EXPECT_TRUE(hash.Matches("correct horse battery"));
    for (const char* wrong :
         {"", "correct horse batter", "correct horse battery ", "Correct horse battery"})
        EXPECT_FALSE(hash.Matches(wrong)) << wrong;

    SignInThrottle throttle;
    const SignInThrottle::Clock::time_point t0{};
    const int waits[] = {0, 0, 1, 2, 4, 8, 16, 32, 60, 60};  // after each wrong password
    for (int wait : waits) {
        throttle.Failed("192.0.2.7", t0);
        EXPECT_EQ(throttle.Wait("192.0.2.7", t0), seconds(wait));
    }
    EXPECT_EQ(throttle.Wait("192.0.2.8", t0), seconds(0));
    throttle.Succeeded("192.0.2.7");
    EXPECT_EQ(throttle.Wait("192.0.2.7", t0), seconds(0));

    const int many = static_cast<int>(SignInThrottle::kAddresses) + 50;
    const auto address = [](int i) { return "10.0." + std::to_string(i); };
    for (int i = 0; i < many; ++i)
        for (int k = 0; k < 3; ++k)
            throttle.Failed(address(i), t0 + milliseconds(i));
    EXPECT_EQ(throttle.Size(), SignInThrottle::kAddresses);
    EXPECT_EQ(throttle.Wait(address(0), t0 + milliseconds(many)), seconds(0));
    EXPECT_GT(throttle.Wait(address(many - 1), t0 + milliseconds(many)), seconds(0));
    throttle.Failed("192.0.2.9", t0 + SignInThrottle::kForget + seconds(2));
    EXPECT_EQ(throttle.Size(), 1u);
}

}  // namespace
}  // namespace tq::testing
