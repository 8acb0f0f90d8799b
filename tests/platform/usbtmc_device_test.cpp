// The USBTMC device's worker against a meter at the far end of a socket pair: answers, late
// answers, silence, hang-ups and answers that do not end, in both framings; and what opening a
// device file that will not do says.

#include <gtest/gtest.h>

#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <optional>

#include "platform/UsbtmcDevice.h"

#if defined(__linux__)
#include <unistd.h>

#include "tests/support/FakeUsbtmc.h"
#endif

namespace tq::testing {
namespace {

#if defined(__linux__)

using Framing = UsbtmcDevice::Framing;
using Outcome = UsbtmcReply::Outcome;
using Clock = std::chrono::steady_clock;

// A device whose replies the test waits for, with a bound.
struct Device {
    std::mutex mutex;
    std::condition_variable arrived;
    std::map<uint64_t, UsbtmcReply> replies;
    UsbtmcDevice device{[this](uint64_t exchange, const UsbtmcReply& reply) {
        std::lock_guard lock(mutex);
        replies[exchange] = reply;
        arrived.notify_all();
    }};

    std::optional<UsbtmcReply> Wait(uint64_t exchange) {
        std::unique_lock lock(mutex);
        if (!arrived.wait_for(lock, std::chrono::seconds(10),
                              [&] { return replies.count(exchange) > 0; }))
            return std::nullopt;
        return replies[exchange];
    }
    UsbtmcReply Ask(std::vector<std::string> commands, int timeout = 300) {
        return Wait(device.Query(std::move(commands), timeout))
            .value_or(UsbtmcReply{Outcome::Broken, {}, "no reply at all"});
    }
};

struct ExchangeCase {
    const char* name;
    Framing framing;
    FakeUsbtmc::Mode mode;
    std::string lineEnd;
    Outcome outcome;
    std::string text;  // the answer, or the error
};

class UsbtmcExchange : public ::testing::TestWithParam<ExchangeCase> {};

TEST_P(UsbtmcExchange, EndsAsTheMeterAnswers) {
    const ExchangeCase& c = GetParam();
    FakeUsbtmc meter(c.framing);
    meter.Set(c.mode);
    meter.SetLineEnd(c.lineEnd);
    Device d;
    std::string error;
    ASSERT_TRUE(d.device.Adopt(meter.TakeDeviceEnd(), c.framing, "the fake", error)) << error;
    const UsbtmcReply reply = d.Ask({"ROUT:CLOS (@102)", "MEAS:VOLT:DC?"});
    EXPECT_EQ(reply.outcome, c.outcome);
    EXPECT_EQ(reply.outcome == Outcome::Answered ? reply.answer : reply.error, c.text);
    EXPECT_EQ(meter.Lines(), (std::vector<std::string>{"ROUT:CLOS (@102)", "MEAS:VOLT:DC?"}));
    if (c.outcome == Outcome::Broken) {
        // A broken device stays broken, without touching the descriptor again.
        const UsbtmcReply next = d.Ask({"MEAS:VOLT:DC?"});
        EXPECT_EQ(next.outcome, Outcome::Broken);
        EXPECT_EQ(next.error, c.text);
        EXPECT_EQ(meter.Lines().size(), 2u);
    }
}

const std::string kLonger = "the meter sent more than 64 KiB without ending its answer";

INSTANTIATE_TEST_SUITE_P(
    Cases, UsbtmcExchange,
    ::testing::Values(
        ExchangeCase{"LineAnswers", Framing::Line, FakeUsbtmc::Mode::Answer, "\r\n",
                     Outcome::Answered, "+1.25000E+00"},
        ExchangeCase{"LineGarbles", Framing::Line, FakeUsbtmc::Mode::Garble, "\n",
                     Outcome::Answered, "\x01\xFFgarbage"},
        ExchangeCase{"LineHangs", Framing::Line, FakeUsbtmc::Mode::Hang, "\n", Outcome::NoAnswer,
                     "no answer from the meter within 300 ms"},
        ExchangeCase{"LineLate", Framing::Line, FakeUsbtmc::Mode::Late, "\n", Outcome::NoAnswer,
                     "no answer from the meter within 300 ms"},
        ExchangeCase{"LineHangsUp", Framing::Line, FakeUsbtmc::Mode::HangUp, "\n", Outcome::Broken,
                     "the meter closed the connection"},
        ExchangeCase{"LineFloods", Framing::Line, FakeUsbtmc::Mode::Flood, "\n", Outcome::Broken,
                     kLonger},
        ExchangeCase{"MessageWithoutLineEnd", Framing::Message, FakeUsbtmc::Mode::Answer, "",
                     Outcome::Answered, "+1.25000E+00"},
        ExchangeCase{"MessageOfTwoLines", Framing::Message, FakeUsbtmc::Mode::Answer,
                     "\nsecond line\n", Outcome::Answered, "+1.25000E+00"},
        ExchangeCase{"MessageHangsUp", Framing::Message, FakeUsbtmc::Mode::HangUp, "\n",
                     Outcome::Broken, "the meter closed the connection"},
        ExchangeCase{"MessageFloods", Framing::Message, FakeUsbtmc::Mode::Flood, "\n",
                     Outcome::Broken,
                     "the meter's answer is longer than 64 KiB: check the reading command, then "
                     "open the meter again"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(UsbtmcDevice, ALateAnswerIsNotTakenForTheNextOne) {
    FakeUsbtmc meter(Framing::Line);
    meter.Set(FakeUsbtmc::Mode::Late, 0, 500);
    meter.SetReading("+7.0E+00");
    Device d;
    std::string error;
    ASSERT_TRUE(d.device.Adopt(meter.TakeDeviceEnd(), Framing::Line, "the fake", error));
    EXPECT_EQ(d.Ask({"READ?"}, 200).outcome, Outcome::NoAnswer);
    // The meter answers in order: the late 7 V first, then the second query's own 2 V.
    meter.Set(FakeUsbtmc::Mode::Answer);
    meter.SetReading("+2.0E+00");
    const UsbtmcReply second = d.Ask({"READ?"}, 3000);
    ASSERT_EQ(second.outcome, Outcome::Answered) << second.error;
    EXPECT_EQ(second.answer, "+2.0E+00") << "took the late answer as its own";
}

TEST(UsbtmcDevice, ExchangesQueuedBehindEachOtherAnswerInOrder) {
    FakeUsbtmc meter(Framing::Line);
    Device d;
    std::string error;
    ASSERT_TRUE(d.device.Adopt(meter.TakeDeviceEnd(), Framing::Line, "the fake", error));
    const uint64_t first = d.device.Query({"*IDN?"}, 1000);
    const uint64_t second = d.device.Query({"READ?"}, 1000);
    EXPECT_EQ(second, first + 1);
    const auto a = d.Wait(first), b = d.Wait(second);
    ASSERT_TRUE(a && b);
    EXPECT_EQ(a->answer, "FAKE,USBTMC,1,0");
    EXPECT_EQ(b->answer, "+1.25000E+00");
    EXPECT_EQ(d.device.Begun(), second);
}

TEST(UsbtmcDevice, CloseNeverWaitsForABlockedReadAndNoReplyComesAfterIt) {
    // In Message framing only the driver's timeout would end the read: here nothing does.
    FakeUsbtmc meter(Framing::Message);
    meter.Set(FakeUsbtmc::Mode::Hang);
    Device d;
    std::string error;
    ASSERT_TRUE(d.device.Adopt(meter.TakeDeviceEnd(), Framing::Message, "the fake", error));
    d.device.Query({"READ?"}, 100000);
    d.device.Query({"READ?"}, 100000);
    for (int i = 0; i < 1000 && meter.Queries() == 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    ASSERT_EQ(meter.Queries(), 1);
    const auto start = Clock::now();
    d.device.Close();
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(100));
    EXPECT_FALSE(d.device.IsOpen());
    EXPECT_EQ(d.device.Query({"READ?"}, 100), 0u);
    std::lock_guard lock(d.mutex);
    EXPECT_TRUE(d.replies.empty());
}

struct OpenCase {
    const char* name;
    std::string path;
    std::string error;
};

class UsbtmcOpen : public ::testing::TestWithParam<OpenCase> {};

TEST_P(UsbtmcOpen, SaysWhatFailedAndWhatToDo) {
    Device d;
    std::string error;
    EXPECT_FALSE(d.device.Open(GetParam().path, error));
    EXPECT_EQ(error, GetParam().error);
    EXPECT_FALSE(d.device.IsOpen());
}

const std::string kPlainFile = std::filesystem::temp_directory_path() / "tq_usbtmc_plain_file";

INSTANTIATE_TEST_SUITE_P(
    Cases, UsbtmcOpen,
    ::testing::Values(
        OpenCase{"Missing", "/dev/usbtmc97",
                 "there is no meter at /dev/usbtmc97: check that it is plugged in and switched "
                 "on, and that ls /dev/usbtmc* lists it"},
        OpenCase{"PlainFile", kPlainFile,
                 kPlainFile + " is not a device file: a USB meter appears as /dev/usbtmcN once the "
                              "kernel's usbtmc driver has taken it"}),
    [](const auto& info) { return std::string(info.param.name); });

class UsbtmcOpenEnvironment : public ::testing::Environment {
public:
    void SetUp() override { std::ofstream(kPlainFile) << "not a device\n"; }
    void TearDown() override { std::filesystem::remove(kPlainFile); }
};
const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(new UsbtmcOpenEnvironment);

TEST(UsbtmcOpen, PermissionDeniedTellsHowToGetAccess) {
    if (::geteuid() == 0)
        GTEST_SKIP() << "root may open any file";
    const std::string path = std::filesystem::temp_directory_path() / "tq_usbtmc_forbidden";
    std::ofstream(path) << "";
    std::filesystem::permissions(path, std::filesystem::perms::none);
    Device d;
    std::string error;
    EXPECT_FALSE(d.device.Open(path, error));
    std::filesystem::remove(path);
    EXPECT_EQ(error, "this user may not open " + path +
                         ": add the user to the group that owns it (ls -l " + path +
                         " shows it) or install a udev rule that gives the meter to that group, "
                         "then log in again and plug the meter in again");
}

TEST(UsbtmcOpen, ACharacterDeviceThatIsNoMeterEndsTheFirstExchange) {
    Device d;
    std::string error;
    ASSERT_TRUE(d.device.Open("/dev/null", error)) << error;
    const UsbtmcReply reply = d.Ask({"*IDN?"});
    EXPECT_EQ(reply.outcome, Outcome::Broken);
    EXPECT_EQ(reply.error, "the meter closed the connection");
}

#else

TEST(UsbtmcDevice, TheStandInSaysWhereDeviceFilesExist) {
    UsbtmcDevice device([](uint64_t, const UsbtmcReply&) {});
    std::string error;
    EXPECT_FALSE(UsbtmcDevice::Supported());
    EXPECT_FALSE(device.Open("/dev/usbtmc0", error));
    EXPECT_EQ(error,
              "USBTMC device files (/dev/usbtmcN) exist on Linux only: use the meter's LAN "
              "address, TCPIP::host::port::SOCKET");
}

#endif

}  // namespace
}  // namespace tq::testing
