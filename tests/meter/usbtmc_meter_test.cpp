// The USB meter's connection against a meter at the far end of a socket pair that answers from a
// thread of its own (late, garbled, never, or by hanging up), and the choice of connection by the
// address.

#include <gtest/gtest.h>

#include <optional>

#include "meter/MeterByAddress.h"
#include "meter/MeterLink.h"
#include "meter/UsbtmcMeter.h"
#include "tests/meter/MeterTestSupport.h"

#if defined(__linux__)
#include "tests/support/FakeUsbtmc.h"
#endif

namespace tq {
namespace {

using testing::WaitFor;

struct TransportCase {
    const char* name;
    std::string address;
    bool ok;
    MeterTransport transport;
    std::string error;
};

class MeterTransportTest : public ::testing::TestWithParam<TransportCase> {};

const std::string kForms =
    "TCPIP::host::port::SOCKET (a LAN meter, port 5025 on most) or /dev/usbtmcN (a USB meter "
    "through Linux's usbtmc driver)";

TEST_P(MeterTransportTest, TheAddressChoosesTheConnection) {
    MeterTransport transport = MeterTransport::Socket;
    std::string error;
    ASSERT_EQ(MeterTransportFor(GetParam().address, transport, error), GetParam().ok) << error;
    if (GetParam().ok)
        EXPECT_EQ(transport, GetParam().transport);
    else
        EXPECT_EQ(error, GetParam().error);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, MeterTransportTest,
    ::testing::Values(
        TransportCase{"Socket", "TCPIP::10.0.0.5::5025::SOCKET", true, MeterTransport::Socket, ""},
        TransportCase{"SocketLowerCase", "tcpip0::meter::5025::socket", true,
                      MeterTransport::Socket, ""},
        TransportCase{"Usbtmc", "/dev/usbtmc0", true, MeterTransport::Usbtmc, ""},
        TransportCase{"Gpib", "GPIB0::22::INSTR", false, MeterTransport::Socket,
                      "the meter's address 'GPIB0::22::INSTR' is neither of the forms the "
                      "program opens: " +
                          kForms},
        TransportCase{"Empty", "", false, MeterTransport::Socket,
                      "the meter has no address: give " + kForms}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ParseUsbtmcAddress, TakesDeviceFilesOnly) {
    std::string path, error;
    EXPECT_TRUE(ParseUsbtmcAddress("/dev/usbtmc12", path, error));
    EXPECT_EQ(path, "/dev/usbtmc12");
    for (const char* bad : {"/dev/usbtmc", "/dev/usbtmcX", "/dev/usbtmc0/../sda", "/dev/usbtmc1234",
                            "/dev/usbtmc-1"}) {
        EXPECT_FALSE(ParseUsbtmcAddress(bad, path, error)) << bad;
        EXPECT_EQ(error,
                  "the meter's address '" + std::string(bad) + "' is not of the form /dev/usbtmcN");
    }
}

TEST(MeterByAddress, ARefusedAddressLeavesTheMeterAsItWas) {
    testing::CoreApp();
    testing::ScriptedMeter fake;
    MeterByAddress meter{[](std::string&) { return std::make_unique<MeterLink>(); }};
    MeterSettings settings;
    settings.address = fake.Address();
    std::string error;
    ASSERT_TRUE(meter.Open(settings, error)) << error;
    ASSERT_TRUE(WaitFor([&] { return meter.IsOpen(); }));
    for (const char* address : {"/dev/usbtmc97", "GPIB0::22::INSTR", "/dev/usbtmcX"}) {
        settings.address = address;
        EXPECT_FALSE(meter.Open(settings, error)) << address;
        EXPECT_TRUE(meter.IsOpen()) << address;
        EXPECT_EQ(meter.Identity(), "FAKE,METER,1,0");
    }
#if defined(__linux__)
    settings.address = "/dev/usbtmc97";
    meter.Open(settings, error);
    EXPECT_EQ(error,
              "there is no meter at /dev/usbtmc97: check that it is plugged in and switched on, "
              "and that ls /dev/usbtmc* lists it");
#endif
    // The socket meter reads as before.
    std::optional<MeterReading> r;
    meter.Read(0, [&](const MeterReading& reading) { r = reading; });
    ASSERT_TRUE(WaitFor([&] { return r.has_value(); }));
    EXPECT_TRUE(r->ok) << r->error;
}

// Without a way to make LAN meters (the program's network library missing), opening one says why
// and leaves the meter closed.
TEST(MeterByAddress, ALanMeterThatCannotBeMadeSaysWhy) {
    testing::CoreApp();
    MeterByAddress meter{[](std::string& error) -> std::unique_ptr<MeterConnection> {
        error = "LAN meters cannot be opened: the library is missing";
        return nullptr;
    }};
    MeterSettings settings;
    settings.address = "TCPIP::127.0.0.1::5025::SOCKET";
    std::string error;
    EXPECT_FALSE(meter.Open(settings, error));
    EXPECT_EQ(error, "LAN meters cannot be opened: the library is missing");
    EXPECT_FALSE(meter.IsOpen());
}

#if defined(__linux__)

using Framing = UsbtmcDevice::Framing;
using testing::FakeUsbtmc;

struct Usb {
    FakeUsbtmc fake;
    UsbtmcMeter meter;
    MeterSettings settings;

    explicit Usb(Framing framing, int timeout = 300, std::string select = {}) : fake(framing) {
        testing::CoreApp();
        settings.address = "/dev/usbtmc-fake";
        settings.setupCommands = {"CONF:VOLT:DC 10"};
        settings.selectCommand = std::move(select);
        settings.timeoutMilliseconds = timeout;
        std::string error;
        EXPECT_TRUE(meter.OpenDescriptor(fake.TakeDeviceEnd(), framing, settings, error)) << error;
        EXPECT_TRUE(WaitFor([&] { return meter.IsOpen() || !meter.LastError().empty(); }));
    }
    std::optional<MeterReading> ReadOnce(int channel = 0) {
        return testing::ReadOnce(meter, channel);
    }
};

TEST(UsbtmcMeter, ConnectsSetsUpAndReads) {
    Usb m(Framing::Message, 2000, "ROUT:CLOS (@10{ch})");
    ASSERT_TRUE(m.meter.IsOpen()) << m.meter.LastError();
    EXPECT_EQ(m.meter.Identity(), "FAKE,USBTMC,1,0");
    EXPECT_TRUE(m.meter.SelectsChannels());
    const auto r = m.ReadOnce(2);
    ASSERT_TRUE(r && r->ok) << (r ? r->error : "");
    EXPECT_DOUBLE_EQ(r->volts, 1.25);
    EXPECT_EQ(m.fake.Lines(), (std::vector<std::string>{"CONF:VOLT:DC 10", "*IDN?",
                                                        "ROUT:CLOS (@103)", "MEAS:VOLT:DC?"}));
}

struct FaultCase {
    const char* name;
    Framing framing;
    FakeUsbtmc::Mode mode;
    std::string error;
    bool stillOpen;
};

class UsbtmcMeterFault : public ::testing::TestWithParam<FaultCase> {};

TEST_P(UsbtmcMeterFault, FailsTheReadingWithWhatWentWrong) {
    const FaultCase& c = GetParam();
    Usb m(c.framing);
    ASSERT_TRUE(m.meter.IsOpen()) << m.meter.LastError();
    m.fake.Set(c.mode, 0, 1500);
    const auto r = m.ReadOnce();
    ASSERT_TRUE(r);
    EXPECT_FALSE(r->ok);
    EXPECT_EQ(r->error, c.error);
    EXPECT_EQ(m.meter.IsOpen(), c.stillOpen);
    if (!c.stillOpen) {
        EXPECT_EQ(m.meter.LastError(), c.error);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, UsbtmcMeterFault,
    ::testing::Values(
        FaultCase{"Hangs", Framing::Line, FakeUsbtmc::Mode::Hang,
                  "no answer from the meter within 300 ms", true},
        // Only the driver's timeout ends a read here, and there is none: our own timer does.
        FaultCase{"HangsWithoutDriverTimeout", Framing::Message, FakeUsbtmc::Mode::Hang,
                  "no answer from the meter within 300 ms", true},
        FaultCase{"Garbles", Framing::Message, FakeUsbtmc::Mode::Garble,
                  "the meter's answer is not a number: '\\x01\\xFFgarbage'", true},
        FaultCase{"HangsUp", Framing::Message, FakeUsbtmc::Mode::HangUp,
                  "the meter closed the connection", false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(UsbtmcMeter, AMeterSilentToIdnDoesNotOpen) {
    testing::CoreApp();
    FakeUsbtmc fake(Framing::Line);
    fake.SetIdentity("");
    UsbtmcMeter meter;
    MeterSettings settings;
    settings.address = "/dev/usbtmc-fake";
    settings.timeoutMilliseconds = 200;
    std::string error;
    ASSERT_TRUE(meter.OpenDescriptor(fake.TakeDeviceEnd(), Framing::Line, settings, error));
    ASSERT_TRUE(WaitFor([&] { return !meter.LastError().empty(); }));
    EXPECT_FALSE(meter.IsOpen());
    EXPECT_EQ(meter.LastError(),
              "the meter could not be opened: no answer from the meter within 200 ms to *IDN?");
}

TEST(UsbtmcMeter, ACancelledReadingNeverCompletesAndABrokenMeterIsNotConnected) {
    Usb m(Framing::Message);
    ASSERT_TRUE(m.meter.IsOpen()) << m.meter.LastError();
    m.fake.Set(FakeUsbtmc::Mode::HangUp);
    std::optional<MeterReading> r;
    m.meter.Read(0, [&](const MeterReading& reading) { r = reading; });
    m.meter.Cancel();
    ASSERT_TRUE(WaitFor([&] { return !m.meter.IsOpen(); }));
    EXPECT_FALSE(r) << "a cancelled reading completed";
    EXPECT_EQ(m.meter.LastError(), "the meter closed the connection");
    m.meter.Read(0, [&](const MeterReading& reading) { r = reading; });
    EXPECT_FALSE(r) << "completed inside the call";
    ASSERT_TRUE(WaitFor([&] { return r.has_value(); }));
    EXPECT_EQ(r->error, "the meter is not connected");
}

TEST(UsbtmcMeter, RefusesSettingsThatCannotWork) {
    testing::CoreApp();
    UsbtmcMeter meter;
    MeterSettings settings;
    std::string error;
    settings.address = "TCPIP::127.0.0.1::5025::SOCKET";
    EXPECT_FALSE(meter.Open(settings, error));
    EXPECT_EQ(error,
              "the meter's address 'TCPIP::127.0.0.1::5025::SOCKET' is not of the form "
              "/dev/usbtmcN");
    settings.address = "/dev/usbtmc0";
    settings.timeoutMilliseconds = 0;
    EXPECT_FALSE(meter.Open(settings, error));
    EXPECT_EQ(error, "the meter's timeout must be at least 1 ms");
    EXPECT_FALSE(meter.IsOpen());
}

#endif

}  // namespace
}  // namespace tq
