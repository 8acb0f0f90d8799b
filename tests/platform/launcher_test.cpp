#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "platform/Launcher.h"

namespace tq::testing {
namespace {

namespace fs = std::filesystem;

#ifndef _WIN32
class SystemLauncherTest : public ::testing::Test {
protected:
    void SetUp() override {
        folder_ =
            fs::temp_directory_path() /
            ("tq_launcher_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
             "_" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(folder_);
    }
    void TearDown() override { fs::remove_all(folder_); }

    fs::path folder_;
    std::unique_ptr<ProgramLauncher> launcher_ = SystemLauncher();
};

TEST_F(SystemLauncherTest, FileExistsOnlyForFiles) {
    const fs::path file = folder_ / "tool.exe";
    std::ofstream(file) << "x";
    EXPECT_TRUE(launcher_->FileExists(file.string()));
    EXPECT_FALSE(launcher_->FileExists((folder_ / "missing.exe").string()));
    EXPECT_FALSE(launcher_->FileExists(folder_.string()));
}

TEST_F(SystemLauncherTest, StartsAProgramWithoutWaitingForIt) {
    const fs::path go = folder_ / "go";
    const fs::path marker = folder_ / "started";
    const fs::path script = folder_ / "tool.sh";
    // The program outlives the call: it writes its marker only once the test lets it go (or,
    // should the call wait for it, after ten seconds).
    std::ofstream(script) << "#!/bin/sh\ni=0\nwhile [ ! -e '" << go.string()
                          << "' ] && [ $i -lt 200 ]; do sleep 0.05; i=$((i+1)); done\n: > '"
                          << marker.string() << "'\n";
    fs::permissions(script, fs::perms::owner_all);

    EXPECT_TRUE(launcher_->StartDetached(script.string()));
    EXPECT_FALSE(fs::exists(marker)) << "the call waited for the program to finish";
    std::ofstream(go) << "";
    for (int i = 0; i < 100 && !fs::exists(marker); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_TRUE(fs::exists(marker));
}

TEST_F(SystemLauncherTest, ReportsAProgramThatCannotBeStarted) {
    EXPECT_FALSE(launcher_->StartDetached((folder_ / "missing.exe").string()));
    const fs::path notExecutable = folder_ / "plain.txt";
    std::ofstream(notExecutable) << "text";
    EXPECT_FALSE(launcher_->StartDetached(notExecutable.string()));
}
#endif

}  // namespace
}  // namespace tq::testing
