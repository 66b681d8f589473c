// Saving over hostile file states with Windows' own rules, where Wine run as root cannot
// show them: Windows refuses to truncate a read-only file, and to rename onto a directory.
// Whatever the save cannot do, the backup that stood there stays byte for byte.
#include <gtest/gtest.h>

#include "common/backup_file.h"
#include "tests/support/fake_file_system.h"

namespace {

const Path kPath = L"C:\\saves\\backup.txt";
const Path kTemp = L"C:\\saves\\backup.txt.tmp";
const char kOld[] = "format=1\r\nvendor=nvidia\r\nsetting.0x1057EB71=value:0x00000001\r\n";
const char kStale[] = "left by a run that was killed\r\n";

bool logHas(const FakeFileSystem& files, const std::string& entry) {
    for (const std::string& e : files.log) {
        if (e == entry) {
            return true;
        }
    }
    return false;
}

}  // namespace

TEST(BackupHostileState, ReadOnlyTemporaryLeftBehindIsRemovedAndTheSaveGoesOn) {
    FakeFileSystem files;
    files.crlf = true;
    files.files[kPath].bytes = kOld;
    files.files[kTemp] = {kStale, true};
    BackupStore store(files, "nvidia");
    EXPECT_TRUE(store.saveBackup(kPath, {{"k", "v"}}));
    EXPECT_EQ(files.files.at(kPath).bytes, "format=1\r\nvendor=nvidia\r\nk=v\r\n");
    EXPECT_EQ(files.files.count(kTemp), 0u);
    EXPECT_TRUE(logHas(files, "remove C:\\saves\\backup.txt.tmp"));
    EXPECT_FALSE(logHas(files, "remove C:\\saves\\backup.txt"));
}

TEST(BackupHostileState, TemporaryThatCannotBeRemovedRefusesTheSaveAndKeepsTheBackup) {
    FakeFileSystem files;
    files.files[kPath].bytes = kOld;
    files.files[kTemp] = {kStale, true};
    files.failOn("remove", 1);
    BackupStore store(files, "nvidia");
    EXPECT_FALSE(store.saveBackup(kPath, {{"k", "v"}}));
    EXPECT_EQ(files.files.at(kPath).bytes, kOld);
    EXPECT_EQ(files.files.at(kTemp).bytes, kStale);
    EXPECT_FALSE(logHas(files, "replace C:\\saves\\backup.txt.tmp C:\\saves\\backup.txt"));
}

TEST(BackupHostileState, DirectoryAtTheTemporaryPathRefusesTheSave) {
    FakeFileSystem files;
    files.files[kPath].bytes = kOld;
    files.directories.insert(kTemp);
    BackupStore store(files, "nvidia");
    EXPECT_FALSE(store.saveBackup(kPath, {{"k", "v"}}));
    EXPECT_EQ(files.files.at(kPath).bytes, kOld);
    EXPECT_EQ(files.directories.count(kTemp), 1u);
}

TEST(BackupHostileState, DirectoryAtTheBackupPathStaysAndNoTemporaryIsLeft) {
    FakeFileSystem files;
    files.directories.insert(kPath);
    BackupStore store(files, "nvidia");
    EXPECT_EQ(store.loadBackup(kPath).outcome, LoadOutcome::unreadable);
    EXPECT_FALSE(store.saveBackup(kPath, {{"k", "v"}}));
    EXPECT_EQ(files.directories.count(kPath), 1u);
    EXPECT_EQ(files.files.count(kTemp), 0u);
    EXPECT_EQ(store.backupExists(kPath), PathState::present);
}

TEST(BackupHostileState, ReadOnlyBackupReplacedOnlyAfterItsMarkIsCleared) {
    // Windows refuses the rename onto a read-only file (Wine does not): the mark is
    // cleared, the rename repeated, and the new file is a plain one again.
    FakeFileSystem files;
    files.crlf = true;
    files.files[kPath] = {kOld, true};
    BackupStore store(files, "amd");
    BackupMap map = store.loadBackup(kPath).map;
    ASSERT_TRUE(store.recordOriginal(kPath, map, "global.rsr", "1"));
    EXPECT_EQ(files.files.at(kPath).bytes,
              "format=1\r\nvendor=amd\r\nglobal.rsr=1\r\nsetting.0x1057EB71=value:0x00000001\r\n");
    EXPECT_FALSE(files.files.at(kPath).readOnly);
    EXPECT_TRUE(logHas(files, "clear-readonly C:\\saves\\backup.txt"));
}

TEST(BackupHostileState, LongAndNonAsciiPathsReachTheFileLayerAsGiven) {
    // The extended-length form is the Win32 layer's business: the logic hands on the
    // caller's text, relative or long, and the temporary path is that text plus ".tmp".
    const Path dir = L"configura\u00E7\u00F5es\\\u8A2D\u5B9A\\\U0001F3AE\\" + Path(300, L'p');
    const Path path = dir + L"\\..\\c\u00F3pia.txt";
    FakeFileSystem files;
    BackupStore store(files, "nvidia");
    ASSERT_TRUE(store.saveBackup(path, {}));
    EXPECT_EQ(files.directories.count(dir + L"\\.."), 1u);
    EXPECT_EQ(files.files.count(path), 1u);
    EXPECT_EQ(files.files.count(path + L".tmp"), 0u);
}
