// The lock between runs on the real layer: one lock for every spelling of one backup, and the
// lock of another run, held, crashed, or waiting for this one to let go.
#include <ntstatus.h>

#include <memory>

#include "store/backup_lock_key.h"
#include "store/backup_store.h"
#include "store/file_system.h"
#include "tests/nt/layer_rows.h"
#include "tests/nt/model/nt_model.h"
#include "tests/nt/table_runner.h"

namespace {

const Path kBackup = L"saves\\backup.txt";

/// The mutex a run on `path` locks: named after the place its walk finds.
Path lockOf(const Path& path) {
    const std::unique_ptr<FileSystem> files = platformFileSystem(true);
    BackupStore store(*files, "nvidia");
    store.bind(path);
    const std::string key = backupLockKey(store.lockKey().text());
    return L"Local\\preset-backup-" + Path(key.begin(), key.end());
}

/// The mutex every run on each of `spellings` created, the first for each.
std::vector<std::string> locksTaken(World& w, const std::vector<Path>& spellings) {
    std::vector<std::string> names;
    for (const Path& spelling : spellings) {
        CallHooks hooks(w.calls(), true);
        runCommand("restore", spelling, true);
        const std::vector<std::string> made = hooks.calls("CreateMutexW");
        names.push_back(made.empty() ? "(none)" : made.front());
    }
    return names;
}

const LayerRow kRows[] = {
    {"a lock whose holder crashed while this run waited", Shows::both, true, "apply",
     below(kBackup),
     [](World& w, CallHooks& hooks) {
         w.file(kBackup, kOld);
         w.anotherRunHolds(lockOf(w.at(kBackup)));
         hooks.before("WaitForSingleObject", Path(), 1, [&w] { w.anotherRunCrashes(); });
     },
     "applied",
     [](World& w, CallHooks&, const RunResult&) {
         NT_EXPECT_EQ(w.bytes(kBackup), std::optional<std::string>(kNew));
     }},
    {"a lock another run keeps for the whole wait", Shows::both, true, "apply", below(kBackup),
     [](World& w, CallHooks&) {
         w.file(kBackup, kOld);
         w.anotherRunHolds(lockOf(w.at(kBackup)));
     },
     "unreadable WaitForSingleObject win32:258",
     [](World& w, CallHooks& hooks, const RunResult&) {
         NT_EXPECT(hooks.calls("WaitForSingleObject") ==
                   std::vector<std::string>({"WaitForSingleObject 10000"}));
         NT_EXPECT_EQ(w.bytes(kBackup), std::optional<std::string>(kOld));
     }},
    {"the lock is let go when the command ends, before the process does", Shows::both, true,
     "apply", below(kBackup),
     [](World& w, CallHooks&) {
         w.file(kBackup, kOld);
         w.anotherRunWaitsFor(lockOf(w.at(kBackup)));
     },
     "applied",
     [](World& w, CallHooks&, const RunResult&) {
         NT_EXPECT_EQ(w.anotherRunTakes(), static_cast<DWORD>(WAIT_OBJECT_0));
     }},
};

}  // namespace

NT_CASE(LockOfAnotherRun) {
    runLayerRows(kRows);
}

NT_CASE(OneLockForEverySpelling) {
    inEachWorld(Shows::both, "spellings of one backup", [](World& w) {
        w.folder(L"LongFolderName");
        const Path whole = w.at(L"LongFolderName\\backup.txt");
        Path upper = whole;
        for (wchar_t& c : upper) {
            c = static_cast<wchar_t>(towupper(c));
        }
        const std::vector<Path> spellings = {
            whole,
            upper,
            L"\\\\?\\" + whole,
            L"\\??\\" + whole,
            L"\\\\.\\" + whole,
            L"LongFolderName/./backup.txt",
            L"x\\..\\LongFolderName\\backup.txt",
            w.at(w.shortName(L"LongFolderName") + L"\\backup.txt"),
        };
        const std::vector<std::string> names = locksTaken(w, spellings);
        NT_EXPECT_EQ(names.front().substr(0, 33),
                     std::string("CreateMutexW Local\\preset-backup-"));
        NT_EXPECT_EQ(names.front().size(), 33u + 16u);
        for (size_t i = 1; i < names.size(); ++i) {
            NT_EXPECT_EQ(names[i], names.front());
        }
        NT_EXPECT(locksTaken(w, {w.at(L"LongFolderName\\other.txt")}).front() != names.front());
    });
}

NT_CASE(OneLockForAVolumeAndAShareHoweverSpelt) {
    // Wine has neither volume GUIDs nor shares.
    inEachWorld(Shows::modelOnly, "volumes and shares", [](World& w) {
        w.model()->addShare(L"srv", L"share");
        const std::vector<std::string> volume = locksTaken(
            w, {L"C:\\row\\backup.txt",
                L"\\\\?\\Volume{4c1b02c1-d990-11dc-99ae-806e6f6e6963}\\row\\backup.txt"});
        NT_EXPECT_EQ(volume[1], volume[0]);
        const std::vector<std::string> share =
            locksTaken(w, {L"\\\\srv\\share\\backup.txt", L"\\\\SRV\\Share\\BACKUP.txt",
                           L"\\\\?\\UNC\\srv\\share\\backup.txt"});
        NT_EXPECT_EQ(share[1], share[0]);
        NT_EXPECT_EQ(share[2], share[0]);
        NT_EXPECT(share[0] != volume[0]);
    });
}
