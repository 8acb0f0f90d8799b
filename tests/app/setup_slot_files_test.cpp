// *SAV and *RCL's store as files: kept whole, read back, bounded, and refused with the reason.

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <string>

#include "app/SetupSlotFiles.h"

namespace tq {
namespace {

TEST(SetupSlotFiles, KeepEachSlotWholeInItsOwnFile) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    SetupSlotFiles store(dir.filePath("config/tq2604x-eval"));  // made at the first write
    EXPECT_FALSE(store.Load(3).has_value());
    store.Save(3, "{\"format\":1}");
    store.Save(9, "{\"format\":1,\"device\":14}");
    store.Save(3, "{\"format\":1,\"device\":16}");
    EXPECT_EQ(store.Load(3), "{\"format\":1,\"device\":16}\n");
    EXPECT_EQ(store.Load(9), "{\"format\":1,\"device\":14}\n");
    EXPECT_FALSE(store.Load(0).has_value());
    // Nothing is left beside the store: each was renamed into place.
    EXPECT_EQ(QDir(dir.filePath("config/tq2604x-eval")).entryList(QDir::Files | QDir::Hidden),
              (QStringList{"setup-slot-3.json", "setup-slot-9.json"}));
}

TEST(SetupSlotFiles, SayWhyASlotCannotBeKeptOrRead) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    // A file where the folder belongs.
    QFile blocker(dir.filePath("taken"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    SetupSlotFiles blocked(dir.filePath("taken"));
    try {
        blocked.Save(1, "{}");
        ADD_FAILURE() << "saved into a file";
    } catch (const SlotError& e) {
        EXPECT_NE(std::string(e.what()).find("setup slot 1 was not written: "), std::string::npos)
            << e.what();
    }
    // Far more than a setup is not read into memory.
    SetupSlotFiles store(dir.path());
    QFile huge(store.PathOf(2));
    ASSERT_TRUE(huge.open(QIODevice::WriteOnly));
    ASSERT_TRUE(huge.resize(static_cast<qint64>(SetupSlots::kMaxSetupSize) + 1));
    huge.close();
    EXPECT_THROW(store.Load(2), SlotError);
}

}  // namespace
}  // namespace tq
