// Saving over hostile file states with Windows' own rules, where Wine run as root cannot
// show them: Windows refuses to truncate a read-only file, and to rename onto a directory.
// Whatever the save cannot do, the backup that stood there stays byte for byte.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "store/backup_store.h"
#include "store/busy_retry.h"
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
    ASSERT_TRUE(store.bind(kPath));
    EXPECT_TRUE(store.saveBackup({{"k", "v"}}));
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
    ASSERT_TRUE(store.bind(kPath));
    EXPECT_FALSE(store.saveBackup({{"k", "v"}}));
    EXPECT_EQ(files.files.at(kPath).bytes, kOld);
    EXPECT_EQ(files.files.at(kTemp).bytes, kStale);
    EXPECT_FALSE(logHas(files, "replace C:\\saves\\backup.txt.tmp C:\\saves\\backup.txt"));
}

TEST(BackupHostileState, WhatIsNotOurFileAtTheTemporaryPathStaysAndRefusesTheSave) {
    // A folder cannot be removed as a stale file; a link is never even tried: removing it
    // could act on wherever it points.
    for (const bool link : {false, true}) {
        FakeFileSystem files;
        files.files[kPath].bytes = kOld;
        (link ? files.links : files.directories).insert(kTemp);
        BackupStore store(files, "nvidia");
        ASSERT_TRUE(store.bind(kPath));
        EXPECT_FALSE(store.saveBackup({{"k", "v"}})) << link;
        EXPECT_EQ(files.files.at(kPath).bytes, kOld) << link;
        EXPECT_EQ((link ? files.links : files.directories).count(kTemp), 1u) << link;
        if (link) {
            EXPECT_FALSE(logHas(files, "remove C:\\saves\\backup.txt.tmp"));
        }
    }
}

TEST(BackupHostileState, DirectoryAtTheBackupPathStaysAndNoTemporaryIsLeft) {
    FakeFileSystem files;
    files.directories.insert(kPath);
    BackupStore store(files, "nvidia");
    ASSERT_TRUE(store.bind(kPath));
    EXPECT_EQ(store.loadBackup().outcome, LoadOutcome::unreadable);
    EXPECT_FALSE(store.saveBackup({{"k", "v"}}));
    EXPECT_EQ(files.directories.count(kPath), 1u);
    EXPECT_EQ(files.files.count(kTemp), 0u);
    EXPECT_EQ(store.backupExists(), PathState::present);
}

TEST(BackupHostileState, ReadOnlyBackupReplacedOnlyAfterItsMarkIsCleared) {
    // Windows refuses the rename onto a read-only file (Wine does not): the mark is
    // cleared, the rename repeated, and the new file is a plain one again.
    FakeFileSystem files;
    files.crlf = true;
    files.files[kPath] = {kOld, true};
    BackupStore store(files, "amd");
    ASSERT_TRUE(store.bind(kPath));
    BackupMap map = store.loadBackup().map;
    map.emplace("global.rsr", "1");
    ASSERT_TRUE(store.saveBackup(map));
    EXPECT_EQ(files.files.at(kPath).bytes,
              "format=1\r\nvendor=amd\r\nglobal.rsr=1\r\nsetting.0x1057EB71=value:0x00000001\r\n");
    EXPECT_FALSE(files.files.at(kPath).readOnly);
    EXPECT_TRUE(logHas(files, "clear-readonly C:\\saves\\backup.txt"));
}

TEST(BackupHostileState, LongRelativeNonAsciiPathsAreWalkedFromTheWorkingFolder) {
    // The system makes the path absolute ("." and ".." resolved); every name after the
    // root is then opened or made one by one, however long the whole.
    const Path dir = L"configura\u00E7\u00F5es\\\u8A2D\u5B9A\\\U0001F3AE";
    const Path path = dir + L"\\" + Path(300, L'p') + L"\\..\\c\u00F3pia.txt";
    FakeFileSystem files;
    BackupStore store(files, "nvidia");
    ASSERT_TRUE(store.bind(path));
    ASSERT_TRUE(store.saveBackup({}));
    const Path full = L"C:\\work\\" + dir + L"\\c\u00F3pia.txt";
    EXPECT_EQ(files.files.count(full), 1u);
    EXPECT_EQ(files.files.count(full + L".tmp"), 0u);
    EXPECT_EQ(files.directories.count(L"C:\\work\\" + dir), 1u);
}

TEST(BackupHostileState, ElevatedRunRefusesLinksAndSecondNamesOnTheWay) {
    // What Wine cannot show: Windows marks a file link on its handle, junctions carry
    // tags, a folder someone holds with delete access cannot be held, shares and volumes
    // have roots of their own, and a run that is not elevated may use any path its user
    // can. Only looking happens here: the walk and the checks of the two names.
    const Path unc = L"\\\\srv\\share\\saves\\backup.txt";
    const Path volume = L"\\\\?\\Volume{12345678-9abc-def0-1234-56789abcdef0}\\saves\\backup.txt";
    const Path foreign = L"\\\\?\\GLOBALROOT\\Device\\X\\backup.txt";
    struct Case {
        const char* name;
        std::function<void(FakeFileSystem&)> plant;
        bool elevated;
        bool safe;
        Path path = kPath;
    } cases[] = {
        {"plain backup", [](FakeFileSystem&) {}, true, true},
        {"nothing there yet",
         [](FakeFileSystem& f) {
             f.directories.clear();
             f.files.clear();
         },
         true, true},
        {"link at the backup", [](FakeFileSystem& f) { f.links.insert(kPath); }, true, false},
        {"link at the backup, not elevated", [](FakeFileSystem& f) { f.links.insert(kPath); },
         false, true},
        {"link at the temporary file", [](FakeFileSystem& f) { f.links.insert(kTemp); }, true,
         false},
        {"junction on the way", [](FakeFileSystem& f) { f.links.insert(L"C:\\saves"); }, true,
         false},
        {"junction on the way, not elevated",
         [](FakeFileSystem& f) { f.links.insert(L"C:\\saves"); }, false, true},
        {"link at the volume's root", [](FakeFileSystem& f) { f.links.insert(L"C:\\"); }, true,
         true},
        {"backup with a second name", [](FakeFileSystem& f) { f.files[kPath].names = 2; }, true,
         false},
        {"temporary file with a second name",
         [](FakeFileSystem& f) {
             f.files[kTemp] = {kStale, false, 2};
         },
         true, false},
        {"folder that cannot be looked at",
         [](FakeFileSystem& f) { f.unknownPaths.insert(L"C:\\saves"); }, true, false},
        {"backup that cannot be looked at", [](FakeFileSystem& f) { f.unknownPaths.insert(kPath); },
         true, false},
        {"folder someone holds with delete access",
         [](FakeFileSystem& f) { f.unholdable.insert(L"C:\\saves"); }, true, false},
        {"folder someone holds with delete access, not elevated",
         [](FakeFileSystem& f) { f.unholdable.insert(L"C:\\saves"); }, false, true},
        {"a drive that cannot be opened", [](FakeFileSystem& f) { f.unknownPaths.insert(L"C:\\"); },
         false, false},
        {"share", [](FakeFileSystem&) {}, true, true, unc},
        {"junction on the way below a share",
         [](FakeFileSystem& f) { f.links.insert(L"\\\\srv\\share\\saves"); }, true, false, unc},
        {"volume", [](FakeFileSystem&) {}, true, true, volume},
        {"junction on the way below a volume",
         [](FakeFileSystem& f) {
             f.links.insert(L"\\\\?\\Volume{12345678-9abc-def0-1234-56789abcdef0}\\saves");
         },
         true, false, volume},
        {"a root not understood", [](FakeFileSystem&) {}, true, false, foreign},
        {"a root not understood, not elevated", [](FakeFileSystem&) {}, false, true, foreign},
    };
    for (const Case& c : cases) {
        FakeFileSystem files;
        files.directories.insert(L"C:\\saves");
        files.files[kPath].bytes = kOld;
        files.runElevated(c.elevated);
        c.plant(files);
        BackupStore store(files, "nvidia");
        EXPECT_EQ(store.bind(c.path) && store.safeToUse(), c.safe) << c.name;
        for (const std::string& entry : files.log) {
            const std::string op = entry.substr(0, entry.find(' '));
            EXPECT_TRUE(op == "root" || op == "folder" || op == "inspect" || op == "pause")
                << c.name << ": only looked, " << entry;
        }
    }
}

TEST(BackupHostileState, BusyFileIsTriedAgainWithAGrowingWaitThenGivenUp) {
    // Virus scanners and indexers hold a file for a moment: 25 ms times the attempt, ten
    // tries more at most (1.375 s in all).
    const std::vector<std::string> threeWaits = {"pause 25", "pause 50", "pause 75"};
    std::vector<std::string> allWaits;
    for (int attempt = 1; attempt <= kBusyRetries; ++attempt) {
        allWaits.push_back("pause " + std::to_string(25 * attempt));
    }
    struct Case {
        const char* op;
        int busyTimes;
        bool works;
    } cases[] = {{"read", 3, true},      {"read", 11, false},       {"replace", 3, true},
                 {"replace", 11, false}, {"flush-folder", 3, true}, {"flush-folder", 11, false},
                 {"remove", 3, true},    {"remove", 11, false}};
    for (const Case& c : cases) {
        FakeFileSystem files;
        files.files[kPath].bytes = kOld;
        files.busyFor(c.op, c.busyTimes);
        BackupStore store(files, "nvidia");
        ASSERT_TRUE(store.bind(kPath));
        bool worked = false;
        if (std::string(c.op) == "read") {
            worked = store.loadBackup().outcome == LoadOutcome::loaded;
        } else if (std::string(c.op) == "replace" || std::string(c.op) == "flush-folder") {
            worked = store.saveBackup({{"k", "v"}});
        } else {
            worked = store.removeBackup();
        }
        const std::string what = std::string(c.op) + " busy " + std::to_string(c.busyTimes);
        EXPECT_EQ(worked, c.works) << what;
        std::vector<std::string> waits;
        for (const std::string& entry : files.log) {
            if (entry.rfind("pause ", 0) == 0) {
                waits.push_back(entry);
            }
        }
        EXPECT_EQ(waits, c.works ? threeWaits : allWaits) << what;
        EXPECT_EQ(files.files.count(kPath), std::string(c.op) == "remove" && c.works ? 0u : 1u)
            << what;
    }
}

TEST(BackupHostileState, SaveThatWouldNotBeReadableAgainFailsBeforeAnyFile) {
    // Each entry line below is 64 bytes on disk with its CR LF; the header 25.
    const std::string value(64 - 2 - 8, 'v');  // after a seven-digit key and "="
    for (const size_t lines : {(kLargestBackup - 25) / 64, (kLargestBackup - 25) / 64 + 1}) {
        BackupMap map;
        for (size_t i = 0; i < lines; ++i) {
            std::string key = std::to_string(1000000 + i);  // seven digits each
            map.emplace(key, value);
        }
        FakeFileSystem files;
        files.crlf = true;
        files.files[kPath].bytes = kOld;
        BackupStore store(files, "nvidia");
        ASSERT_TRUE(store.bind(kPath));
        const bool fits = 25 + lines * 64 <= kLargestBackup;
        EXPECT_EQ(store.saveBackup(map), fits) << lines;
        EXPECT_EQ(files.files.at(kPath).bytes.size(), fits ? 25 + lines * 64 : sizeof kOld - 1);
        EXPECT_EQ(files.files.count(kTemp), 0u) << lines;
        EXPECT_EQ(logHas(files, "open C:\\saves\\backup.txt.tmp"), fits) << lines;
    }
}

TEST(BackupHostileState, BackupOverOneMebibyteIsUnreadableAndKept) {
    for (size_t size : {kLargestBackup, kLargestBackup + 1}) {
        FakeFileSystem files;
        files.files[kPath].bytes = "format=1\n" + std::string(size - 9, 'a');
        BackupStore store(files, "nvidia");
        ASSERT_TRUE(store.bind(kPath));
        EXPECT_EQ(store.loadBackup().outcome,
                  size > kLargestBackup ? LoadOutcome::unreadable : LoadOutcome::loaded)
            << size;
        EXPECT_EQ(files.files.at(kPath).bytes.size(), size);
    }
}
