// The meter link against a fake meter that answers late, garbles, hangs or hangs up, and the
// simulated bench's meter on its own.

#include <gtest/gtest.h>

#include <optional>

#include "adapter/simulated/SimulatedBoard.h"
#include "meter/MeterLink.h"
#include "meter/SimulatedMeter.h"
#include "tests/meter/MeterTestSupport.h"
#include "tests/support/RowNames.h"

namespace tq {
namespace {

using testing::ScriptedMeter;
using testing::WaitFor;

struct AddressCase {
    std::string text;
    bool ok;
    std::string hostOrError;
    uint16_t port;
};

class SocketAddressTest : public ::testing::TestWithParam<AddressCase> {};

TEST_P(SocketAddressTest, ReadsWhatPyVisaWrites) {
    SocketAddress address;
    std::string error;
    const bool ok = ParseSocketAddress(GetParam().text, address, error);
    ASSERT_EQ(ok, GetParam().ok) << error;
    if (ok) {
        EXPECT_EQ(address.host, GetParam().hostOrError);
        EXPECT_EQ(address.port, GetParam().port);
    } else {
        EXPECT_EQ(error, GetParam().hostOrError);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SocketAddressTest,
    ::testing::Values(
        AddressCase{"TCPIP::127.0.0.1::5025::SOCKET", true, "127.0.0.1", 5025},
        AddressCase{"tcpip0::meter.lab::5025::socket", true, "meter.lab", 5025},
        AddressCase{"TCPIP::127.0.0.1::5025::INSTR", false,
                    "the meter's address 'TCPIP::127.0.0.1::5025::INSTR' is not of the form "
                    "TCPIP::host::port::SOCKET",
                    0},
        AddressCase{"TCPIP::::5025::SOCKET", false, "the meter's address names no host", 0},
        AddressCase{"TCPIP::h::0::SOCKET", false,
                    "the meter's port '0' is not a number from 1 to 65535", 0},
        AddressCase{"TCPIP::h::65536::SOCKET", false,
                    "the meter's port '65536' is not a number from 1 to 65535", 0}),
    tq::testing::NamedBy<&AddressCase::text>{});

TEST(ParseReading, TakesNumbersOnly) {
    double v = 0;
    EXPECT_TRUE(ParseReading("+1.234000E-03", v));
    EXPECT_DOUBLE_EQ(v, 1.234e-3);
    EXPECT_TRUE(ParseReading(" -0.5 ", v));
    EXPECT_DOUBLE_EQ(v, -0.5);
    for (const char* bad : {"", "ERR", "1.0V", "nan", "inf", "+9.9E37", "1,2", "--1"})
        EXPECT_FALSE(ParseReading(bad, v)) << bad;
}

TEST(SimulatedMeterLogic, ReadsTheSelectedChannel) {
    SimulatedBoard board;
    board.SetRegister(2, 2, 0xFFFF);
    SimulatedMeterLogic meter(board);
    EXPECT_EQ(meter.Answer("*IDN?"), "TQ-SIM,DVM,0,1.0");
    double a = 0, c = 0;
    ASSERT_TRUE(ParseReading(meter.Answer("MEAS:VOLT:DC?"), a));
    EXPECT_EQ(meter.Answer("ROUT:CLOS (@103)"), "");
    ASSERT_TRUE(ParseReading(meter.Answer("read?"), c));
    EXPECT_NEAR(a, board.OutputVolts(0), 1e-8);  // ten digits
    EXPECT_NEAR(c, board.OutputVolts(2), 1e-8);
    EXPECT_GT(c, 9.9);
    EXPECT_EQ(meter.Answer("ROUT:CLOS?"), "(@103)");
    EXPECT_EQ(meter.Answer("ROUT:CLOS (@105);SYST:ERR?;SYST:ERR?"),
              "-222,\"Data out of range\";+0,\"No error\"");
    EXPECT_EQ(meter.Answer("FETCH:SOMETHING?;SYST:ERR?"), "-113,\"Undefined header\"");
    EXPECT_EQ(meter.Answer("CONF:VOLT:DC 10;SYST:ERR?"), "+0,\"No error\"");
}

// The meter's other spellings and refusals, each line with the errors it leaves.
struct MeterLineCase {
    const char* name;
    const char* line;
    const char* answer;
};

class SimulatedMeterLines : public ::testing::TestWithParam<MeterLineCase> {};

TEST_P(SimulatedMeterLines, AnswerAsABenchMeter) {
    SimulatedBoard board;
    SimulatedMeterLogic meter(board);
    EXPECT_EQ(meter.Answer(GetParam().line), GetParam().answer);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, SimulatedMeterLines,
    ::testing::Values(
        MeterLineCase{"LongForms", "ROUTE:CLOSE (@104);route:close?;SYSTEM:ERROR?",
                      "(@104);+0,\"No error\""},
        MeterLineCase{"NextError", "ROUT:CLOS (@100);SYST:ERR:NEXT?", "-222,\"Data out of range\""},
        MeterLineCase{"SettingsIgnored", "*RST;*CLS;TRIG:SOUR IMM;DISP:TEXT 'x';SYST:ERR?",
                      "+0,\"No error\""},
        MeterLineCase{"SettingQueried", "CONF?;SYST:ERR?", "-113,\"Undefined header\""},
        MeterLineCase{"BadSeed", "SIM:NOIS 1,-1;SYST:ERR?", "-224,\"Illegal parameter value\""},
        MeterLineCase{"EmptyCommands", ";;*IDN?;", "TQ-SIM,DVM,0,1.0"}),
    tq::testing::ByName{});

// A full queue keeps its sixteen oldest errors and drops the rest, with no overflow error.
TEST(SimulatedMeterLogic, KeepsTheOldestSixteenErrors) {
    SimulatedBoard board;
    SimulatedMeterLogic meter(board);
    for (int i = 0; i < 20; ++i)
        meter.Answer(i < 16 ? "FETCH?" : "ROUT:CLOS (@100)");
    for (int i = 0; i < 16; ++i)
        EXPECT_EQ(meter.Answer("SYST:ERR?"), "-113,\"Undefined header\"") << i;
    EXPECT_EQ(meter.Answer("SYST:ERR?"), "+0,\"No error\"");
}

TEST(SimulatedMeterLogic, NoiseIsSeededAndSized) {
    SimulatedBoard board;
    SimulatedMeterLogic first(board), second(board);
    first.Answer("SIM:NOIS 100,42");
    second.Answer("SIMulate:NOISe 100, 42");
    EXPECT_DOUBLE_EQ(first.NoiseVolts(), 100e-6);
    double sum = 0, squares = 0;
    for (int i = 0; i < 400; ++i) {
        const std::string a = first.Answer("READ?");
        EXPECT_EQ(a, second.Answer("READ?"));
        double v = 0;
        ASSERT_TRUE(ParseReading(a, v));
        v -= board.OutputVolts(0);
        sum += v;
        squares += v * v;
    }
    const double deviation = std::sqrt(squares / 400 - (sum / 400) * (sum / 400));
    EXPECT_GT(deviation, 80e-6);
    EXPECT_LT(deviation, 120e-6);
    EXPECT_EQ(first.Answer("SIM:NOIS -1;SYST:ERR?"), "-224,\"Illegal parameter value\"");
    EXPECT_DOUBLE_EQ(first.NoiseVolts(), 100e-6);
}

struct Link {
    ScriptedMeter fake;
    MeterLink link;
    std::optional<QString> connected, failed;

    explicit Link(int timeout = 300, std::string select = {}) {
        QObject::connect(&link, &MeterLink::Connected, [this](const QString& s) { connected = s; });
        QObject::connect(&link, &MeterLink::Failed, [this](const QString& s) { failed = s; });
        MeterSettings settings;
        settings.address = fake.Address();
        settings.setupCommands = {"CONF:VOLT:DC 10"};
        settings.selectCommand = std::move(select);
        settings.timeoutMilliseconds = timeout;
        std::string error;
        EXPECT_TRUE(link.Open(settings, error)) << error;
        EXPECT_TRUE(WaitFor([&] { return connected || failed; }));
    }
    std::optional<MeterReading> ReadOnce(int channel = 0) {
        return testing::ReadOnce(link, channel);
    }
};

TEST(MeterLink, ConnectsSetsUpAndReads) {
    Link m(2000, "ROUT:CLOS (@10{ch})");
    ASSERT_EQ(m.connected.value_or(""), "FAKE,METER,1,0");
    EXPECT_EQ(m.link.Identity(), "FAKE,METER,1,0");
    const auto r = m.ReadOnce(2);
    ASSERT_TRUE(r && r->ok) << (r ? r->error : "");
    EXPECT_DOUBLE_EQ(r->volts, 1.25);
    EXPECT_EQ(m.fake.lines, (std::vector<std::string>{"CONF:VOLT:DC 10", "*IDN?",
                                                      "ROUT:CLOS (@103)", "MEAS:VOLT:DC?"}));
}

struct FaultCase {
    const char* name;
    ScriptedMeter::Mode mode;
    std::string error;
};

class MeterLinkFault : public ::testing::TestWithParam<FaultCase> {};

TEST_P(MeterLinkFault, FailsTheReadingWithWhatWentWrong) {
    Link m;
    ASSERT_TRUE(m.connected);
    m.fake.mode = GetParam().mode;
    m.fake.lateMilliseconds = 1500;
    const auto r = m.ReadOnce();
    ASSERT_TRUE(r);
    EXPECT_FALSE(r->ok);
    EXPECT_EQ(r->error, GetParam().error);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, MeterLinkFault,
    ::testing::Values(
        FaultCase{"hangs", ScriptedMeter::Mode::Hang, "no answer from the meter within 300 ms"},
        FaultCase{"late", ScriptedMeter::Mode::Late, "no answer from the meter within 300 ms"},
        FaultCase{"garbles", ScriptedMeter::Mode::Garble,
                  "the meter's answer is not a number: '\\x01\\xFFgarbage'"},
        FaultCase{"drops", ScriptedMeter::Mode::Drop, "the meter closed the connection"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(MeterLink, ALateAnswerIsNotTakenForTheNextReading) {
    Link m(2000);
    m.fake.mode = ScriptedMeter::Mode::Hold;
    m.fake.reading = "+7.0E+00";
    const auto first = m.ReadOnce();
    ASSERT_TRUE(first);
    EXPECT_EQ(first->error, "no answer from the meter within 2000 ms");
    // The meter answers in order: the late 7 V first, then the second reading's own 2 V.
    m.fake.reading = "+2.0E+00";
    std::optional<MeterReading> second;
    m.link.Read(0, [&](const MeterReading& r) { second = r; });
    ASSERT_TRUE(WaitFor([&] { return m.fake.readingsAsked == 2; }));
    m.fake.Release();
    ASSERT_TRUE(WaitFor([&] { return second.has_value(); }));
    ASSERT_TRUE(second->ok) << second->error;
    EXPECT_DOUBLE_EQ(second->volts, 2.0) << "took the late answer as its own";
}

TEST(MeterLink, ARefusedConnectionSaysSo) {
    testing::CoreApp();
    uint16_t port = 0;
    {
        QTcpServer closed;
        ASSERT_TRUE(closed.listen(QHostAddress::LocalHost, 0));
        port = closed.serverPort();
    }
    MeterLink link;
    std::optional<QString> failed;
    QObject::connect(&link, &MeterLink::Failed, [&](const QString& s) { failed = s; });
    MeterSettings settings;
    settings.address = "TCPIP::127.0.0.1::" + std::to_string(port) + "::SOCKET";
    std::string error;
    ASSERT_TRUE(link.Open(settings, error));
    ASSERT_TRUE(WaitFor([&] { return failed.has_value(); }));
    EXPECT_EQ(failed->toStdString(), "the meter could not be opened: the meter at " +
                                         settings.address + " refused the connection");
    std::optional<MeterReading> r;
    link.Read(0, [&](const MeterReading& reading) { r = reading; });
    ASSERT_TRUE(WaitFor([&] { return r.has_value(); }));
    EXPECT_EQ(r->error, "the meter is not connected");
}

TEST(MeterLink, RefusesSettingsThatCannotWork) {
    testing::CoreApp();
    MeterLink link;
    std::string error;
    MeterSettings settings;
    settings.address = "/dev/nothing";
    EXPECT_FALSE(link.Open(settings, error));
    settings.address = "TCPIP::127.0.0.1::5025::SOCKET";
    settings.readCommand.clear();
    EXPECT_FALSE(link.Open(settings, error));
    EXPECT_EQ(error, "the meter needs a command that takes a reading (such as MEAS:VOLT:DC?)");
}

}  // namespace
}  // namespace tq
