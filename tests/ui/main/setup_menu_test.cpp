// The File menu's setups and the setup files themselves: saved whole or not at all, refused by
// name with nothing written, a setup from another board opened only when the user says so.

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QAction>
#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <csignal>
#include <optional>

#include "remote/InstrumentCommands.h"
#include "tests/support/FakeClock.h"
#include "tests/support/TestContext.h"
#include "ui/main/MainForm.h"
#include "ui/main/SetupFiles.h"

namespace tq::testing {
namespace {

QByteArray Contents(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void Write(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

// The program's settings in a folder of this test's own: CTest runs the tests of this file side
// by side, and the recent setups one remembers must not show in another's menu.
struct OwnSettings {
    OwnSettings() {
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, folder.path());
    }
    QTemporaryDir folder;
};

struct SetupMenu : ::testing::Test {
    SetupMenu() {
        QSettings(QStringLiteral("tq2604x-eval"), QStringLiteral("tq2604x-eval")).clear();
        ctx.context.files = &dialogs;
        ctx.adapter.QueueRegisterRead(0);
        EXPECT_TRUE(form.Load());
        ctx.adapter.Clear();
    }
    QAction* Action(const char* name) { return form.findChild<QAction*>(QLatin1String(name)); }
    QString Path(const char* name) const { return dir.filePath(QLatin1String(name)); }

    OwnSettings settings;  // first: the window reads the recent setups as it is made
    QTemporaryDir dir;
    ScriptedFileDialogs dialogs;
    TestContext ctx;
    MainForm form{ctx.context};
};

TEST_F(SetupMenu, SaveWritesTheWholeSetupAndRemembersIt) {
    ctx.instrument.SetPin(Pin::BinaryCoding, false);
    dialogs.names = {Path("bench.json"), Path("cal.json")};
    Action("MnuSaveSetup")->trigger();
    Action("MnuSaveCalibration")->trigger();
    const tq::Setup saved = ReadSetupFile(Path("bench.json"));
    EXPECT_EQ(saved.board, "TEST");
    EXPECT_EQ(saved.binaryCoding, false);
    EXPECT_EQ(saved.channels[3].offset, 0);
    const tq::Setup calibration = ReadSetupFile(Path("cal.json"));
    EXPECT_FALSE(calibration.channels[0].data.has_value());
    EXPECT_TRUE(calibration.channels[0].fineGain.has_value());
    EXPECT_TRUE(Action("MnuRecent1")->isVisible());
    EXPECT_EQ(Action("MnuRecent1")->text(), QStringLiteral("&1 cal.json"));
    EXPECT_EQ(Action("MnuRecent2")->text(), QStringLiteral("&2 bench.json"));
    EXPECT_FALSE(Action("MnuRecent3")->isVisible());
    EXPECT_TRUE(ctx.messages.messages.empty());
}

// The windows' setups carry the Generator's definition (a calibration never), opening hands it on.
TEST_F(SetupMenu, SaveCarriesTheGeneratorsDefinitionAndOpenHandsItOn) {
    FakeClock timer;
    WaveformRun run{ctx.instrument, timer};
    ctx.context.waveform = &run;
    WaveformDefinition d;
    d.channels[1] = {true, WaveShape::Ramp, false, 1.0, 0.5, 8, std::nullopt};
    d.periods = 2;
    run.KeepDefinition(d);
    dialogs.names = {Path("bench.json"), Path("cal.json")};
    Action("MnuSaveSetup")->trigger();
    Action("MnuSaveCalibration")->trigger();
    EXPECT_EQ(ReadSetupFile(Path("bench.json")).waveform, d);
    EXPECT_FALSE(ReadSetupFile(Path("cal.json")).waveform.has_value());

    std::optional<WaveformDefinition> offered;
    run.SetDefinitionListener([&](const WaveformDefinition& shown) { offered = shown; });
    ASSERT_TRUE(form.OpenSetup(Path("bench.json")));
    EXPECT_EQ(offered, d);
    ctx.context.waveform = nullptr;
}

// File, Setup Slots and *SAV/*RCL share their ten slots: each opens what the other saved, and
// an empty slot is refused by name.
TEST_F(SetupMenu, SetupSlotsAreTheSlotsOfSavAndRcl) {
    MemorySetupSlots kept;
    ctx.context.setupSlots = &kept;
    MainForm withSlots{ctx.context};
    InstrumentCommands commands{ctx.instrument, nullptr};
    commands.SetSetupSlots(&kept);
    ScpiSession session{commands};
    const auto send = [&](const std::string& line) { return session.Execute(line).value_or(""); };
    const auto trigger = [&](const char* name) {
        withSlots.findChild<QAction*>(QLatin1String(name))->trigger();
    };

    ctx.instrument.SetPin(Pin::BinaryCoding, false);
    trigger("MnuSaveSlot3");
    ctx.instrument.SetPin(Pin::BinaryCoding, true);
    EXPECT_EQ(send("*RCL 3;SYST:ERR?"), "0,\"No error\"");
    EXPECT_EQ(ctx.instrument.State().BinaryCoding, 0);

    EXPECT_EQ(send("*SAV 4"), "");
    ctx.instrument.SetPin(Pin::BinaryCoding, true);
    trigger("MnuOpenSlot4");
    EXPECT_EQ(ctx.instrument.State().BinaryCoding, 0);
    EXPECT_TRUE(ctx.messages.messages.empty());

    trigger("MnuOpenSlot7");
    ASSERT_EQ(ctx.messages.messages.size(), 1u);
    EXPECT_TRUE(ctx.messages.messages[0].text.contains(QStringLiteral("setup slot 7")));
    EXPECT_TRUE(ctx.messages.messages[0].text.contains(QStringLiteral("empty")));
    ctx.context.setupSlots = nullptr;
}

// A name typed without an extension is saved with .json, so that Open's filter shows it.
TEST_F(SetupMenu, SaveAddsJsonToANameWithoutAnExtension) {
    dialogs.names = {Path("setup1"), Path("bench.setup")};
    Action("MnuSaveSetup")->trigger();
    Action("MnuSaveCalibration")->trigger();
    EXPECT_TRUE(QFile::exists(Path("setup1.json")));
    EXPECT_FALSE(QFile::exists(Path("setup1")));
    EXPECT_TRUE(QFile::exists(Path("bench.setup")));
    EXPECT_EQ(Action("MnuRecent2")->text(), QStringLiteral("&2 setup1.json"));
}

struct OpenCase {
    const char* name;
    QByteArray contents;  // empty: no such file
    QString message;      // the start of the warning, after the file's path
};

class SetupOpenRefused : public SetupMenu, public ::testing::WithParamInterface<OpenCase> {};

TEST_P(SetupOpenRefused, TellsWhichFileAndWhyAndWritesNothing) {
    const OpenCase& c = GetParam();
    const QString path = Path("setup.json");
    if (!c.contents.isEmpty())
        Write(path, c.contents);
    dialogs.names = {path};
    Action("MnuOpenSetup")->trigger();
    ASSERT_EQ(ctx.messages.messages.size(), 1u);
    EXPECT_EQ(ctx.messages.messages[0].icon, MessageIcon::Warning);
    EXPECT_TRUE(ctx.messages.messages[0].text.startsWith(
        QStringLiteral("The setup was not opened: ") + QDir::toNativeSeparators(path) +
        QStringLiteral(": ") + c.message))
        << ctx.messages.messages[0].text.toStdString();
    EXPECT_TRUE(ctx.adapter.Requests().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Files, SetupOpenRefused,
    ::testing::Values(OpenCase{"Missing", {}, "no such file"},
                      OpenCase{"NotJson", "<setup/>", "not a setup (JSON)"},
                      OpenCase{"Newer", R"({"format": 3})", "format: 3 is newer"},
                      OpenCase{"OutOfRange",
                               R"({"format": 1, "channels": {"D": {"fineGain": 40}}})",
                               "channels.D.fineGain"},
                      OpenCase{"OtherDevice", R"({"format": 1, "device": 14})", "device: "}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(SetupMenu, ASetupFromAnotherBoardIsOpenedOnlyWhenTheUserSaysSo) {
    const QString path = Path("other.json");
    Write(path, R"({"format": 1, "board": "1-4.2", "channels": {"A": {"fineGain": 3}}})");
    ctx.messages.answer = false;
    dialogs.names = {path};
    Action("MnuOpenSetup")->trigger();
    ASSERT_EQ(ctx.messages.messages.size(), 1u);
    EXPECT_EQ(ctx.messages.messages[0].icon, MessageIcon::Question);
    EXPECT_TRUE(ctx.adapter.Requests().empty());
    ctx.messages.answer = true;
    EXPECT_TRUE(form.OpenSetup(path));
    EXPECT_EQ(ctx.adapter.Requests(), std::vector<std::string>{"D9 32 3 0 0"});
}

// A write that runs out of room midway (the file size limit stands in for a full disk) leaves
// the old setup whole and no stray file beside it.
TEST(SetupFile, AnInterruptedWriteLeavesTheOldFileWhole) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("bench.json"));
    Write(path, "old setup");
    tq::Setup big;
    big.program = std::string(5000, 'x');
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{1000, 1000};
        setrlimit(RLIMIT_FSIZE, &limit);
        try {
            WriteSetupFile(path, big);
        } catch (const SetupError&) {
            _exit(3);
        }
        _exit(0);
    }
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 3);  // the failure was reported
    EXPECT_EQ(Contents(path), QByteArray("old setup"));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{QStringLiteral("bench.json")});
    WriteSetupFile(path, big);
    EXPECT_EQ(ReadSetupFile(path).program, big.program);
}

}  // namespace
}  // namespace tq::testing
