// The entry holds the backup path's lock around apply and restore, and hands a backend a
// store that refuses everything when another run keeps the lock.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "frame/entry.h"
#include "tests/support/fake_backup_lock.h"
#include "tests/support/fake_file_system.h"
#include "tests/support/recording_sink.h"

namespace {

const Path kBackup = L"C:\\b\\backup.txt";
const std::string kBytes = "format=1\nvendor=nvidia\nsetting.0x1057EB71=value:0x00000000\n";

/// What the backend saw while it ran: the lock's state and every store answer.
struct Seen {
    bool called = false;
    int heldDuringRun = -1;
    std::vector<std::string> lockLogDuringRun;
    LoadOutcome load = LoadOutcome::absent;
    size_t entries = 0;
    PathState exists = PathState::absent;
    bool saved = false;
    bool recorded = false;
    bool removed = false;
};

FakeBackupLock* gLock = nullptr;
Seen gSeen;
bool gThrow = false;

int useStore(LineAndBackup& io) {
    gSeen.called = true;
    gSeen.heldDuringRun = gLock->held;
    gSeen.lockLogDuringRun = gLock->log;
    LoadedBackup loaded = io.backups.loadBackup();
    gSeen.load = loaded.outcome;
    gSeen.entries = loaded.map.size();
    gSeen.exists = io.backups.backupExists();
    gSeen.saved = io.backups.saveBackup(loaded.map);
    loaded.map.emplace("k", "v");
    gSeen.recorded = io.backups.saveBackup(loaded.map);
    gSeen.removed = io.backups.removeBackup();
    if (gThrow) {
        throw std::runtime_error("backend failed");
    }
    return 33;
}

int fakeStatus(LineAndBackup&) {
    gSeen.called = true;
    gSeen.heldDuringRun = gLock->held;
    return 40;
}
int fakeApply(LineAndBackup& io, PresetLevel) {
    return useStore(io);
}
int fakeRestore(LineAndBackup& io) {
    return useStore(io);
}

struct EntryRun {
    int code;
    std::vector<std::string> lines;
    std::vector<std::string> fileLog;
    std::string bytesAfter;
    std::vector<std::string> lockLog;
    int heldAfter;
};

/// A run as the front-end starts it; `elevatedWithLink` plants a link on the way to the
/// backup of a run with administrator rights.
EntryRun run(std::vector<const wchar_t*> args, bool busy, bool elevatedWithLink = false) {
    FakeFileSystem files;
    files.files[kBackup].bytes = kBytes;
    files.directories.insert(L"C:\\b");
    if (elevatedWithLink) {
        files.runElevated(true);
        files.links.insert(L"C:\\b");
    }
    FakeBackupLock lock;
    lock.busy = busy;
    gLock = &lock;
    gSeen = Seen{};
    RecordingSink sink;
    ResultPrinter out("NVIDIA", sink);
    BackupStore backups(files, "nvidia");
    LineAndBackup io{out, backups};
    const Backend backend{&fakeStatus, &fakeApply, &fakeRestore};
    const int code = runEntry(static_cast<int>(args.size()), args.data(), backend, io, lock);
    gLock = nullptr;
    return {code, sink.lines, files.log, files.files[kBackup].bytes, lock.log, lock.held};
}

class EntryLockTest : public ::testing::Test {
  protected:
    void SetUp() override { gThrow = false; }
};

/// What the backend's store answered: everything as always (the backup of three entries
/// at the path), or, when it `works` not, a refusal of everything.
void expectStoreAnswered(bool works) {
    EXPECT_EQ(gSeen.load, works ? LoadOutcome::loaded : LoadOutcome::unreadable);
    EXPECT_EQ(gSeen.entries, works ? 3u : 0u);
    EXPECT_EQ(gSeen.exists, works ? PathState::present : PathState::unknown);
    EXPECT_EQ(gSeen.saved, works);
    EXPECT_EQ(gSeen.recorded, works);
    EXPECT_EQ(gSeen.removed, works);
}

const std::vector<const wchar_t*> kApply = {L"p", L"apply", L"gamer", kBackup.c_str()};
const std::vector<const wchar_t*> kRestore = {L"p", L"restore", kBackup.c_str()};

}  // namespace

TEST_F(EntryLockTest, FreeLockIsHeldForTheWholeCommandAndLetGoAfter) {
    // The lock is named by what the walk found, so every spelling of the one backup (the
    // working folder is C:\work) takes the same lock.
    const std::vector<const wchar_t*> spellings = {kBackup.c_str(),
                                                   L"c:\\b\\backup.txt",
                                                   L"\\\\?\\C:\\b\\backup.txt",
                                                   L"\\??\\C:\\b\\backup.txt",
                                                   L"\\\\.\\C:\\b\\backup.txt",
                                                   L"..\\b\\.\\backup.txt",
                                                   L"C:/b//backup.txt"};
    for (const wchar_t* spelling : spellings) {
        for (const auto& command : {L"apply", L"restore"}) {
            const bool applying = std::wstring(command) == L"apply";
            const EntryRun r =
                run(applying ? std::vector<const wchar_t*>{L"p", command, L"gamer", spelling}
                             : std::vector<const wchar_t*>{L"p", command, spelling},
                    false);
            EXPECT_EQ(r.code, 33);
            ASSERT_TRUE(gSeen.called);
            EXPECT_EQ(gSeen.heldDuringRun, 1);
            EXPECT_EQ(gSeen.lockLogDuringRun,
                      (std::vector<std::string>{"acquire C:\\B\\BACKUP.TXT 10000"}));
            EXPECT_EQ(r.lockLog, (std::vector<std::string>{"acquire C:\\B\\BACKUP.TXT 10000",
                                                           "release C:\\B\\BACKUP.TXT"}));
            EXPECT_EQ(r.heldAfter, 0);
            expectStoreAnswered(/*works=*/true);
            EXPECT_FALSE(r.fileLog.empty());
        }
    }
}

TEST_F(EntryLockTest, BusyLockOrUnsafePathGivesTheBackendARefusingStoreThatTouchesNoFile) {
    for (const bool busy : {true, false}) {
        for (const auto& args : {kApply, kRestore}) {
            const EntryRun r = run(args, busy, /*elevatedWithLink=*/!busy);
            EXPECT_EQ(r.code, 33) << "the backend's own failure line and code stand";
            EXPECT_TRUE(r.lines.empty());
            ASSERT_TRUE(gSeen.called);
            EXPECT_EQ(gSeen.heldDuringRun, 0);
            // A path that cannot be used takes no lock: nothing will touch it.
            EXPECT_EQ(r.lockLog, busy ? std::vector<std::string>{"acquire C:\\B\\BACKUP.TXT 10000"}
                                      : std::vector<std::string>{});
            expectStoreAnswered(/*works=*/false);
            EXPECT_EQ(r.fileLog, (std::vector<std::string>{"root C:\\", "folder C:\\b"}))
                << "only the walk, which the link stopped";
            EXPECT_EQ(r.bytesAfter, kBytes);
        }
    }
}

TEST_F(EntryLockTest, LockIsLetGoWhenTheBackendThrows) {
    gThrow = true;
    const EntryRun r = run(kApply, false);
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.lines, (std::vector<std::string>{"result=error;vendor=NVIDIA;supported=0;changed=0;"
                                                 "message=Falha inesperada"}));
    EXPECT_EQ(r.lockLog, (std::vector<std::string>{"acquire C:\\B\\BACKUP.TXT 10000",
                                                   "release C:\\B\\BACKUP.TXT"}));
    EXPECT_EQ(r.heldAfter, 0);
}

TEST_F(EntryLockTest, StatusAndCommandLineErrorsTakeNoLock) {
    const std::vector<std::vector<const wchar_t*>> cases = {
        {L"p", L"status"},
        {L"p", L"status", kBackup.c_str()},
        {L"p"},
        {L"p", L"apply", kBackup.c_str()},
        {L"p", L"apply", L"turbo", kBackup.c_str()},
        {L"p", L"restore"},
        {L"p", L"remove", kBackup.c_str()},
    };
    for (const auto& args : cases) {
        for (bool busy : {false, true}) {
            const EntryRun r = run(args, busy);
            EXPECT_TRUE(r.lockLog.empty());
            if (gSeen.called) {
                EXPECT_EQ(r.code, 40);
                EXPECT_EQ(gSeen.heldDuringRun, 0);
            }
        }
    }
}
