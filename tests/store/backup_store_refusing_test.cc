// A store told to refuse (another run holds the backup path) answers as a backup that can
// be neither seen nor written, and touches no file at all.
#include <gtest/gtest.h>

#include "store/backup_store.h"
#include "tests/support/fake_file_system.h"

namespace {

const Path kPath = L"C:\\b\\backup.txt";
const std::string kBytes = "format=1\nvendor=amd\nglobal.rsr=1\ngpu.7.chill=0\n";

bool ownsEverything(std::string_view) {
    return true;
}
bool ownsNothing(std::string_view) {
    return false;
}

class RefusingStoreTest : public ::testing::Test {
  protected:
    void SetUp() override {
        files.files[kPath].bytes = kBytes;
        files.directories.insert(L"C:\\b");
        ASSERT_TRUE(store.bind(kPath));
        files.log.clear();
        store.refuseAll();
    }
    void TearDown() override {
        EXPECT_TRUE(files.log.empty()) << "a refusing store touches no file";
        ASSERT_EQ(files.files.size(), 1u);
        EXPECT_EQ(files.files[kPath].bytes, kBytes);
    }

    FakeFileSystem files;
    BackupStore store{files, "amd"};
};

}  // namespace

TEST_F(RefusingStoreTest, RefusesUntilBoundThenWorksUntilToldToRefuse) {
    FakeFileSystem other;
    other.files[kPath].bytes = kBytes;
    BackupStore fresh(other, "amd");
    EXPECT_TRUE(fresh.refusing());
    EXPECT_EQ(fresh.loadBackup().outcome, LoadOutcome::unreadable);
    EXPECT_TRUE(other.log.empty());
    ASSERT_TRUE(fresh.bind(kPath));
    EXPECT_FALSE(fresh.refusing());
    EXPECT_EQ(fresh.loadBackup().outcome, LoadOutcome::loaded);
    EXPECT_TRUE(store.refusing());
}

TEST_F(RefusingStoreTest, LoadFindsTheBackupUnreadableAndEmpty) {
    const LoadedBackup loaded = store.loadBackup();
    EXPECT_EQ(loaded.outcome, LoadOutcome::unreadable);
    EXPECT_TRUE(loaded.map.empty());
}

TEST_F(RefusingStoreTest, ExistenceIsUnknownWhateverStandsThere) {
    EXPECT_EQ(store.backupExists(), PathState::unknown);
}

TEST_F(RefusingStoreTest, SaveRemoveAndRetireAllFail) {
    const BackupMap map{{"global.rsr", "0"}};
    EXPECT_FALSE(store.saveBackup(map));
    EXPECT_FALSE(store.removeBackup());
    EXPECT_FALSE(store.retireBackup(map, &ownsEverything));
    EXPECT_FALSE(store.retireBackup(BackupMap{}, &ownsNothing));
}
