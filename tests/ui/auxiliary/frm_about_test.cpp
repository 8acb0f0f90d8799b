#include <gtest/gtest.h>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <set>

#include "core/Version.h"
#include "tests/platform/FakeRegistry.h"
#include "tests/support/TestContext.h"
#include "ui/auxiliary/ManualForm.h"
#include "ui/auxiliary/frmAbout.h"

namespace tq::testing {
namespace {

constexpr const char* kPathKey = "SOFTWARE\\Microsoft\\Shared Tools\\MSINFO";
constexpr const char* kFolderKey = "SOFTWARE\\Microsoft\\Shared Tools Location";
const QString kUnavailable = QStringLiteral("System Information Is Unavailable At This Time");

class FakeLauncher : public ProgramLauncher {
public:
    bool FileExists(const std::string& path) override {
        checked.push_back(path);
        return files.count(path) > 0;
    }
    bool StartDetached(const std::string& path) override {
        started.push_back(path);
        return startWorks;
    }
    std::set<std::string> files;
    bool startWorks = true;
    std::vector<std::string> checked;
    std::vector<std::string> started;
};

class FrmAboutTest : public ::testing::Test {
protected:
    FrmAboutTest() {
        auto ownedRegistry = std::make_unique<FakeRegistry>();
        auto ownedLauncher = std::make_unique<FakeLauncher>();
        registry = ownedRegistry.get();
        launcher = ownedLauncher.get();
        about = new frmAbout(tc.context, std::move(ownedRegistry), std::move(ownedLauncher));
        about->show();
    }
    ~FrmAboutTest() override { delete about.data(); }

    template <typename T>
    T* Child(const char* name) {
        return about->findChild<T*>(QLatin1String(name));
    }

    TestContext tc;
    FakeRegistry* registry;
    FakeLauncher* launcher;
    QPointer<frmAbout> about;
};

// Help, Manual: docs/manual.md built into the program, shown formatted, whatever is installed.
TEST_F(FrmAboutTest, HelpShowsTheManualBuiltIntoTheProgram) {
    ManualForm manual(tc.context);
    const QString text = manual.Text();
    for (const char* heading :
         {"TQ2604X evaluation software", "The windows", "Setups", "Output protection",
          "Remote control (SCPI)", "What is kept between runs", "Automation console"})
        EXPECT_TRUE(text.contains(QLatin1String(heading))) << heading;
    EXPECT_FALSE(text.contains(QStringLiteral("## "))) << "shown as markdown source";
}

TEST_F(FrmAboutTest, ShowsTitleAndVersion) {
    EXPECT_EQ(about->windowTitle(), "About TQ2604X Evaluation Software");
    EXPECT_EQ(Child<QLabel>("lblTitle")->text(), "TQ2604X Evaluation Software");
    EXPECT_EQ(Child<QLabel>("lblVersion")->text(), QStringLiteral("Version  ") + kProgramVersion);
    EXPECT_FALSE(Child<QLabel>("lblDescription")->text().isEmpty());
    EXPECT_EQ(Child<QPushButton>("cmdSysInfo")->text(), "&System Info...");
    EXPECT_EQ(about->size(), QSize(382, 237));
}

struct SysInfoCase {
    const char* label;
    const char* pathValue;    // first location, or nullptr
    const char* folderValue;  // second location, or nullptr
    bool toolInFolder;
    bool startWorks;
    const char* started;  // the path started, or nullptr when only the message shows
};

class FrmAboutSysInfo : public FrmAboutTest, public ::testing::WithParamInterface<SysInfoCase> {};

TEST_P(FrmAboutSysInfo, StartsTheRegisteredToolOrSaysItIsUnavailable) {
    const SysInfoCase& c = GetParam();
    if (c.pathValue)
        registry->SetString(kHkeyLocalMachine, kPathKey, "PATH", c.pathValue);
    if (c.folderValue)
        registry->SetString(kHkeyLocalMachine, kFolderKey, "MSINFO", c.folderValue);
    if (c.toolInFolder)
        launcher->files.insert(std::string(c.folderValue) + "\\MSINFO32.EXE");
    launcher->startWorks = c.startWorks;

    QTest::mouseClick(Child<QPushButton>("cmdSysInfo"), Qt::LeftButton);

    if (c.started && c.startWorks) {
        EXPECT_EQ(launcher->started, std::vector<std::string>{c.started});
        EXPECT_TRUE(tc.messages.messages.empty());
    } else {
        if (c.started)
            EXPECT_EQ(launcher->started, std::vector<std::string>{c.started});
        else
            EXPECT_TRUE(launcher->started.empty());
        ASSERT_EQ(tc.messages.messages.size(), 1u);
        EXPECT_EQ(tc.messages.messages[0].text, kUnavailable);
        EXPECT_EQ(tc.messages.messages[0].title, "TQ2604X Evaluation Software");
        EXPECT_EQ(tc.messages.messages[0].icon, MessageIcon::None);
    }
    EXPECT_EQ(registry->openCount, 0);
    EXPECT_TRUE(about->isVisible()) << "the window stays open";
}

INSTANTIATE_TEST_SUITE_P(
    Lookups, FrmAboutSysInfo,
    ::testing::Values(SysInfoCase{"FirstLocation", "C:\\Tools\\msinfo32.exe", "C:\\Other", true,
                                  true, "C:\\Tools\\msinfo32.exe"},
                      SysInfoCase{"FolderHoldingTheTool", nullptr, "C:\\Tools", true, true,
                                  "C:\\Tools\\MSINFO32.EXE"},
                      SysInfoCase{"FolderWithoutTheTool", nullptr, "C:\\Tools", false, true,
                                  nullptr},
                      SysInfoCase{"NeitherLocation", nullptr, nullptr, false, true, nullptr},
                      SysInfoCase{"ToolThatWillNotStart", "C:\\Tools\\msinfo32.exe", nullptr, false,
                                  false, "C:\\Tools\\msinfo32.exe"}),
    [](const auto& info) { return std::string(info.param.label); });

TEST_F(FrmAboutTest, TheFirstLocationIsEnoughNoFolderIsLookedUp) {
    registry->SetString(kHkeyLocalMachine, kPathKey, "PATH", "C:\\Tools\\msinfo32.exe");
    registry->SetString(kHkeyLocalMachine, kFolderKey, "MSINFO", "C:\\Other");
    about->StartSysInfo();
    ASSERT_EQ(registry->opened.size(), 1u);
    EXPECT_EQ(registry->opened[0].second, kPathKey);
    EXPECT_TRUE(launcher->checked.empty());
}

TEST_F(FrmAboutTest, KeysRefusingTheAccessMaskMeanUnavailable) {
    registry->SetString(kHkeyLocalMachine, kPathKey, "PATH", "C:\\Tools\\msinfo32.exe");
    registry->SetString(kHkeyLocalMachine, kFolderKey, "MSINFO", "C:\\Tools");
    launcher->files.insert("C:\\Tools\\MSINFO32.EXE");
    registry->Protect(kHkeyLocalMachine, kPathKey);
    registry->Protect(kHkeyLocalMachine, kFolderKey);
    about->StartSysInfo();
    EXPECT_TRUE(launcher->started.empty());
    ASSERT_EQ(tc.messages.messages.size(), 1u);
    EXPECT_EQ(tc.messages.messages[0].text, kUnavailable);
}

TEST_F(FrmAboutTest, AnUnreadableRegistryAnswerMeansUnavailable) {
    registry->SetString(kHkeyLocalMachine, kPathKey, "PATH", "C:\\Tools\\msinfo32.exe");
    registry->ReportSize(0);
    about->StartSysInfo();
    EXPECT_TRUE(launcher->started.empty());
    ASSERT_EQ(tc.messages.messages.size(), 1u);
    EXPECT_EQ(tc.messages.messages[0].text, kUnavailable);
}

#ifndef _WIN32
TEST(FrmAboutSystem, WithoutARegistryTheToolIsUnavailable) {
    TestContext tc;
    frmAbout about(tc.context);
    about.StartSysInfo();
    ASSERT_EQ(tc.messages.messages.size(), 1u);
    EXPECT_EQ(tc.messages.messages[0].text, kUnavailable);
}
#endif

struct CloseCase {
    const char* label;
    int key;  // 0: click OK
};

class FrmAboutClose : public FrmAboutTest, public ::testing::WithParamInterface<CloseCase> {};

TEST_P(FrmAboutClose, ClosesAndUnloads) {
    const CloseCase& c = GetParam();
    about->activateWindow();
    if (c.key)
        QTest::keyClick(about.data(), static_cast<Qt::Key>(c.key));
    else
        QTest::mouseClick(Child<QPushButton>("cmdOK"), Qt::LeftButton);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(about.isNull());
    EXPECT_TRUE(tc.messages.messages.empty()) << "System Info was not pressed";
}

INSTANTIATE_TEST_SUITE_P(Ways, FrmAboutClose,
                         ::testing::Values(CloseCase{"OkButton", 0},
                                           CloseCase{"Escape", Qt::Key_Escape},
                                           CloseCase{"Enter", Qt::Key_Return}),
                         [](const auto& info) { return std::string(info.param.label); });

}  // namespace
}  // namespace tq::testing
