#include <gtest/gtest.h>

#include <functional>
#include <set>

#include "store/backup_store.h"
#include "tests/support/fake_file_system.h"

namespace {

const Path kPath = L"C:\\saves\\backup.txt";
const Path kTemp = L"C:\\saves\\backup.txt.tmp";
const char kOld[] = "format=1\r\nvendor=nvidia\r\nsetting.0x1057EB71=value:0x00000001\r\n";

class BackupStoreTest : public ::testing::Test {
  protected:
    BackupStoreTest() : store(files, "nvidia") { files.crlf = true; }
    FakeFileSystem files;
    BackupStore store;
};

}  // namespace

TEST(ParseBackup, SkipsEmptyAndUnkeyedLinesAndLastKeyWins) {
    BackupMap map = parseBackup(
        "format=1\nvendor=nvidia\n\nno equals sign\nsetting.a=value:1=2\nsetting.a=value:3\n");
    EXPECT_EQ(map, (BackupMap{{"format", "1"}, {"vendor", "nvidia"}, {"setting.a", "value:3"}}));
}

TEST(ParseBackup, LineForms) {
    struct Case {
        std::string bytes;
        BackupMap expected;
    } cases[] = {
        {"=rest=more\n", {{"", "rest=more"}}},
        {"k=v\r\nx=y", {{"k", "v"}, {"x", "y"}}},
        {"k=\r\n", {{"k", ""}}},
        {"k=v\r\r\n", {{"k", "v\r"}}},
        {" k = v \n", {{" k ", " v "}}},
        {"a=1\rb=2\r", {{"a", "1\rb=2\r"}}},
        {std::string("k=a\0b\n", 6), {{"k", std::string("a\0b", 3)}}},
        {"\xEF\xBB\xBF"
         "format=1\n",
         {{"format", "1"}}},
        {"x\xEF\xBB\xBF=1\n", {{"x\xEF\xBB\xBF", "1"}}},
        {"", {}},
        {"\n\n\n", {}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(parseBackup(c.bytes), c.expected);
    }
}

TEST(ParseBackup, OnlyAnEmptyFileOrOneThatStartsWithTheFormatLineIsABackup) {
    struct Case {
        std::string bytes;
        bool backup;
    } cases[] = {
        {"", true},
        {"format=1\r\nvendor=amd\r\n", true},
        {"format=1\nvendor=amd\n", true},
        {"format=1", true},
        {"\xEF\xBB\xBF"
         "format=1\r\n",
         true},
        {"format=1 \r\n", false},
        {"format=10\n", false},
        {"format=1\r", false},
        {"Format=1\n", false},
        {"\nformat=1\n", false},
        {"vendor=amd\nformat=1\n", false},
        {"127.0.0.1 localhost\r\n", false},
        {"setting.0x1057EB71=value:0x00000001\n", false},
        {std::string("MZ\x90\0\x03\0", 6), false},
        {"\xEF\xBB\xBF", false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(isBackupText(c.bytes), c.backup) << c.bytes;
    }
}

TEST(FormatBackup, HeaderFirstThenByteOrderWithoutHeaderKeys) {
    BackupMap map{{"vendor", "amd"}, {"format", "7"}, {"b", "2"},
                  {"ab", "3"},       {"a", "1"},      {"B", "4"}};
    EXPECT_EQ(formatBackup(map, "nvidia"), "format=1\nvendor=nvidia\nB=4\na=1\nab=3\nb=2\n");
    EXPECT_EQ(formatBackup({}, "amd"), "format=1\nvendor=amd\n");
}

TEST_F(BackupStoreTest, LoadTellsAbsentFromUnreadable) {
    files.directories.insert(L"C:\\saves");
    ASSERT_TRUE(store.bind(kPath));
    EXPECT_EQ(store.loadBackup().outcome, LoadOutcome::absent);
    files.files[kPath].bytes = kOld;
    LoadedBackup loaded = store.loadBackup();
    EXPECT_EQ(loaded.outcome, LoadOutcome::loaded);
    EXPECT_EQ(loaded.map.at("setting.0x1057EB71"), "value:0x00000001");
    files.files[kPath].bytes = "127.0.0.1 localhost\r\nk=v\r\n";
    loaded = store.loadBackup();
    EXPECT_EQ(loaded.outcome, LoadOutcome::unreadable) << "not a backup: never taken for one";
    EXPECT_TRUE(loaded.map.empty());
    files.unreadablePaths.insert(kPath);
    loaded = store.loadBackup();
    EXPECT_EQ(loaded.outcome, LoadOutcome::unreadable);
    EXPECT_TRUE(loaded.map.empty());
    EXPECT_EQ(files.files.size(), 1u) << "loading creates nothing";
}

TEST_F(BackupStoreTest, SaveWritesTemporaryFlushesChecksThenReplacesInOneRename) {
    files.files[kPath].bytes = kOld;
    ASSERT_TRUE(store.bind(kPath));
    ASSERT_TRUE(store.saveBackup({{"k", "v"}}));
    EXPECT_EQ(files.log, (std::vector<std::string>{
                             "root C:\\",
                             "folder C:\\saves",
                             "open C:\\saves\\backup.txt.tmp",
                             "check C:\\saves\\backup.txt.tmp",
                             "write C:\\saves\\backup.txt.tmp",
                             "flush C:\\saves\\backup.txt.tmp",
                             "check C:\\saves\\backup.txt.tmp",
                             "replace C:\\saves\\backup.txt.tmp C:\\saves\\backup.txt",
                             "flush-folder C:\\saves",
                             "close C:\\saves\\backup.txt",
                         }));
    EXPECT_EQ(files.files.at(kPath).bytes, "format=1\r\nvendor=nvidia\r\nk=v\r\n");
    EXPECT_EQ(files.files.count(kTemp), 0u);
}

TEST_F(BackupStoreTest, EveryFailedStepLeavesTheOldBackupOrTheNewOneWhole) {
    // A close that fails once the file is written, on disk and named undoes nothing. A
    // folder that cannot be flushed after the rename fails the save, though the new file
    // stands complete under the name: the old one, or the new one, never half of either.
    const std::string saved = "format=1\r\nvendor=nvidia\r\nk=v\r\n";
    struct Case {
        const char* step;
        bool saves;
        const char* after;
    } cases[] = {{"open", false, kOld},         {"check", false, kOld},
                 {"write", false, kOld},        {"flush", false, kOld},
                 {"replace", false, kOld},      {"flush-folder", false, saved.c_str()},
                 {"close", true, saved.c_str()}};
    for (const Case& c : cases) {
        const char* step = c.step;
        FakeFileSystem fresh;
        fresh.crlf = true;
        fresh.files[kPath].bytes = kOld;
        fresh.failOn(step);
        BackupStore s(fresh, "nvidia");
        ASSERT_TRUE(s.bind(kPath));
        EXPECT_EQ(s.saveBackup({{"k", "v"}}), c.saves) << step;
        EXPECT_EQ(fresh.files.at(kPath).bytes, c.after) << step;
        EXPECT_EQ(fresh.files.count(kTemp), 0u) << step << ": no temporary file left behind";
        for (const std::string& entry : fresh.log) {
            EXPECT_NE(entry, "remove C:\\saves\\backup.txt") << step;
        }
    }
}

TEST_F(BackupStoreTest, MissingFoldersAreMadeOneInsideTheOtherAtTheFirstSaveOnly) {
    files.directories.insert(L"C:\\old");
    ASSERT_TRUE(store.bind(L"C:\\old\\new\\deep\\b.txt"));
    EXPECT_EQ(store.loadBackup().outcome, LoadOutcome::absent);
    EXPECT_EQ(store.backupExists(), PathState::absent);
    EXPECT_EQ(files.directories.size(), 1u) << "looking makes nothing";
    ASSERT_TRUE(store.saveBackup({}));
    ASSERT_TRUE(store.saveBackup({{"k", "v"}}));
    EXPECT_EQ(files.files.at(L"C:\\old\\new\\deep\\b.txt").bytes,
              "format=1\r\nvendor=nvidia\r\nk=v\r\n");
    std::vector<std::string> walk;
    for (const std::string& entry : files.log) {
        if (entry.rfind("root", 0) == 0 || entry.rfind("folder", 0) == 0 ||
            entry.rfind("mkdir", 0) == 0) {
            walk.push_back(entry);
        }
    }
    EXPECT_EQ(walk, (std::vector<std::string>{"root C:\\", "folder C:\\old", "folder C:\\old\\new",
                                              "mkdir C:\\old\\new", "mkdir C:\\old\\new\\deep"}));
}

TEST_F(BackupStoreTest, FailedSaveTakesBackTheFoldersItMadeNewestFirstWhileEmpty) {
    struct Case {
        const char* name;
        std::function<void(FakeFileSystem&)> plant;
        std::vector<std::string> takenBack;
        std::set<Path> left;
    } cases[] = {
        {"first folder cannot be made", [](FakeFileSystem& f) { f.failOn("mkdir", 1); }, {}, {}},
        {"second folder cannot be made",
         [](FakeFileSystem& f) { f.failOn("mkdir", 2); },
         {"rmdir C:\\new"},
         {}},
        {"temporary file cannot be made",
         [](FakeFileSystem& f) { f.failOn("open"); },
         {"rmdir C:\\new\\deep", "rmdir C:\\new"},
         {}},
        {"an entry put in the outer one meanwhile keeps it",
         [](FakeFileSystem& f) {
             f.failOn("open");
             f.observer = [&f](const std::string& entry) {
                 if (entry == "mkdir C:\\new\\deep") {
                     f.files[L"C:\\new\\theirs.txt"].bytes = "x";
                 }
             };
         },
         {"rmdir C:\\new\\deep", "rmdir C:\\new"},
         {L"C:\\new"}},
        {"one that cannot be removed keeps those above it",
         [](FakeFileSystem& f) {
             f.failOn("open");
             f.failOn("rmdir", 1);
         },
         {"rmdir C:\\new\\deep"},
         {L"C:\\new", L"C:\\new\\deep"}},
    };
    for (const Case& c : cases) {
        FakeFileSystem fresh;
        c.plant(fresh);
        BackupStore s(fresh, "nvidia");
        ASSERT_TRUE(s.bind(L"C:\\new\\deep\\b.txt"));
        EXPECT_FALSE(s.saveBackup({})) << c.name;
        std::vector<std::string> takenBack;
        for (const std::string& entry : fresh.log) {
            if (entry.rfind("rmdir ", 0) == 0) {
                takenBack.push_back(entry);
            }
        }
        EXPECT_EQ(takenBack, c.takenBack) << c.name;
        EXPECT_EQ(fresh.directories, c.left) << c.name;
        EXPECT_EQ(fresh.files.count(L"C:\\new\\deep\\b.txt.tmp"), 0u) << c.name;
    }
}

TEST_F(BackupStoreTest, ReadOnlyBackupIsReplacedAfterClearingTheMark) {
    files.files[kPath] = {kOld, true};
    ASSERT_TRUE(store.bind(kPath));
    ASSERT_TRUE(store.saveBackup({{"k", "v"}}));
    EXPECT_EQ(files.files.at(kPath).bytes, "format=1\r\nvendor=nvidia\r\nk=v\r\n");
    const std::vector<std::string> tail(files.log.end() - 5, files.log.end());
    EXPECT_EQ(tail, (std::vector<std::string>{
                        "replace C:\\saves\\backup.txt.tmp C:\\saves\\backup.txt",
                        "clear-readonly C:\\saves\\backup.txt",
                        "replace C:\\saves\\backup.txt.tmp C:\\saves\\backup.txt",
                        "flush-folder C:\\saves",
                        "close C:\\saves\\backup.txt",
                    }));
}

TEST_F(BackupStoreTest, ReadOnlyBackupThatCannotBeReplacedStaysAsItWasMarkIncluded) {
    for (const char* step : {"clear-readonly", "replace"}) {
        FakeFileSystem fresh;
        fresh.files[kPath] = {kOld, true};
        fresh.failOn(step, std::string(step) == "replace" ? 2 : 0);
        BackupStore s(fresh, "nvidia");
        ASSERT_TRUE(s.bind(kPath));
        EXPECT_FALSE(s.saveBackup({{"k", "v"}})) << step;
        EXPECT_EQ(fresh.files.at(kPath).bytes, kOld) << step;
        EXPECT_TRUE(fresh.files.at(kPath).readOnly) << step;
        EXPECT_EQ(fresh.files.count(kTemp), 0u) << step;
    }
}

TEST_F(BackupStoreTest, ResavingKeepsForeignEntriesAndOnlyTheVendorLineChanges) {
    files.files[kPath].bytes = "format=1\r\nvendor=amd\r\nglobal.rsr=1\r\ngpu.7.chill=0\r\n";
    ASSERT_TRUE(store.bind(kPath));
    LoadedBackup loaded = store.loadBackup();
    ASSERT_TRUE(store.saveBackup(loaded.map));
    EXPECT_EQ(files.files.at(kPath).bytes,
              "format=1\r\nvendor=nvidia\r\nglobal.rsr=1\r\ngpu.7.chill=0\r\n");
}

namespace {
bool ownsSetting(std::string_view key) {
    return key.rfind("setting.", 0) == 0;
}
}  // namespace

TEST_F(BackupStoreTest, RetireDeletesRewritesOrLeavesAlone) {
    struct Case {
        const char* what;
        std::string before;
        const char* after;  // null: deleted
    } cases[] = {
        {"only ours", "format=1\r\nvendor=nvidia\r\nsetting.a=1\r\n", nullptr},
        {"only the header", "format=1\r\nvendor=nvidia\r\n", nullptr},
        {"ours and others", "format=1\r\nvendor=amd\r\ngpu.1.x=0\r\nsetting.a=1\r\nzz=\r\n",
         "format=1\r\nvendor=nvidia\r\ngpu.1.x=0\r\nzz=\r\n"},
        {"others alone stay byte for byte", "format=1\nvendor=amd\ngpu.1.x=0\n",
         "format=1\nvendor=amd\ngpu.1.x=0\n"},
    };
    for (const Case& c : cases) {
        FakeFileSystem fresh;
        fresh.crlf = true;
        fresh.files[kPath].bytes = c.before;
        BackupStore s(fresh, "nvidia");
        ASSERT_TRUE(s.bind(kPath));
        EXPECT_TRUE(s.retireBackup(parseBackup(c.before), &ownsSetting)) << c.what;
        const auto& files = fresh;
        if (c.after == nullptr) {
            EXPECT_EQ(files.files.count(kPath), 0u) << c.what;
        } else {
            EXPECT_EQ(files.files.at(kPath).bytes, c.after) << c.what;
        }
    }
}

TEST(ParseBackup, HostileFiles) {
    const std::string longValue(16u << 20, 'v');
    BackupMap map = parseBackup("format=1\nbig=" + longValue + "\n");
    EXPECT_EQ(map.at("big").size(), longValue.size());

    std::string repeated;
    for (int i = 0; i < 100000; ++i) {
        repeated += "setting.0x1057EB71=value:" + std::to_string(i) + "\r\n";
    }
    map = parseBackup(repeated);
    ASSERT_EQ(map.size(), 1u);
    EXPECT_EQ(map.at("setting.0x1057EB71"), "value:99999") << "the last line wins";

    std::string garbage;
    uint32_t x = 12345;
    for (int i = 0; i < 1 << 16; ++i) {
        x = x * 1103515245u + 12345u;
        garbage += static_cast<char>(x >> 24);
    }
    for (const auto& [key, value] : parseBackup(garbage)) {
        EXPECT_EQ(key.find('\n'), std::string::npos);
        EXPECT_EQ(value.find('\n'), std::string::npos);
    }
}
