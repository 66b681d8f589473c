// Hostile paths and file states, the real layer on the model of NT, and on Wine where it can
// show the row: spellings, links and reparse points of every kind, shares and volumes, tokens,
// folders that may only be traversed, and files others hold.
#include <ntstatus.h>

#include "tests/nt/layer_rows.h"
#include "tests/nt/model/nt_model.h"
#include "tests/nt/table_runner.h"

namespace {

using ntmodel::Actor;
using ntmodel::Model;

constexpr ULONG kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
constexpr ULONG kTraverseOnly = FILE_TRAVERSE | SYNCHRONIZE;
const Path kBackup = L"saves\\backup.txt";
const Path kTarget = L"C:\\target";

void backupSaves(World& w, CallHooks&) {
    w.file(kBackup, kOld);
}

/// The backup at `name` holds `bytes`, and no temporary file of ours stands beside it.
void expectBackup(World& w, const Path& name, const std::string& bytes) {
    NT_EXPECT_EQ(w.bytes(name), std::optional<std::string>(bytes));
    NT_EXPECT(!w.exists(name + L".tmp"));
}

auto backupBecomes(const Path& name, const char* bytes) {
    return [name, bytes](World& w, CallHooks&, const RunResult&) { expectBackup(w, name, bytes); };
}

/// A name surrogate at `name` leading to C:\target, which holds a victim's backup.
auto linkToTarget(const Path& name, ULONG tag, bool folder) {
    return [name, tag, folder](World& w, CallHooks&) {
        w.model()->makeFile(kTarget + L"\\backup.txt", kVictim);
        w.model()->makeReparse(w.at(name), tag,
                               L"\\??\\" + kTarget + (folder ? L"" : L"\\backup.txt"), folder);
    };
}

void targetUntouched(World& w, CallHooks&, const RunResult&) {
    NT_EXPECT_EQ(w.model()->bytes(kTarget + L"\\backup.txt"), std::optional<std::string>(kVictim));
    NT_EXPECT(!w.model()->exists(kTarget + L"\\backup.txt.tmp"));
}

/// The user's own junction at "saves", leading to C:\target, which holds the user's backup.
void ownJunctionToTarget(World& w, CallHooks&) {
    w.model()->makeFile(kTarget + L"\\backup.txt", kOld);
    w.model()->makeReparse(w.at(L"saves"), ntmodel::kTagMountPoint, L"\\??\\" + kTarget, true);
}

/// The junction was followed: the backup in C:\target is the new one.
void targetBackupSaved(World& w, CallHooks&, const RunResult&) {
    NT_EXPECT_EQ(w.model()->bytes(kTarget + L"\\backup.txt"), std::optional<std::string>(kNew));
}

void aliasAtBackup(World& w, CallHooks&) {
    w.folder(L"saves");
    w.model()->makeReparse(w.at(kBackup), ntmodel::kTagAppExecLink, Path(), false);
}

/// A drive letter no volume stands behind, here.
Path unmappedDrive(World& w) {
    if (w.where() == Where::model) {
        return L"Q:";
    }
    const DWORD drives = GetLogicalDrives();
    for (wchar_t letter = L'Q'; letter <= L'Y'; ++letter) {
        if ((drives & (1u << (letter - L'A'))) == 0) {
            return Path(1, letter) + L":";
        }
    }
    return L"B:";
}

const Path kVolume = L"\\\\?\\Volume{4c1b02c1-d990-11dc-99ae-806e6f6e6963}";

const LayerRow kRows[] = {
    // -- Spellings and states Wine shows as well ------------------------------------------
    {"a backup where its folder stands: flushed before it takes the name, the folder after",
     Shows::both, true, "apply", below(kBackup), backupSaves, "applied",
     [](World& w, CallHooks& hooks, const RunResult&) {
         expectBackup(w, kBackup, kNew);
         const std::vector<std::string> order = {
             "NtWriteFile backup.txt.tmp", "NtFlushBuffersFile backup.txt.tmp",
             "NtSetInformationFile rename backup.txt.tmp", "NtFlushBuffersFile"};
         size_t next = 0;
         for (const std::string& entry : hooks.log()) {
             next += next < order.size() && entry == order[next] ? 1 : 0;
         }
         NT_EXPECT_EQ(next, order.size());
         if (Model* model = w.model()) {  // what a power cut right after would leave
             NT_EXPECT_EQ(model->durableBytes(w.at(L"saves"), L"backup.txt"),
                          std::optional<std::string>(kNew));
         }
     }},
    {"folders missing on the way are made", Shows::both, true, "apply", below(L"a\\b\\backup.txt"),
     nullptr, "applied", backupBecomes(L"a\\b\\backup.txt", kFresh)},
    {"the folder by its 8.3 name, the backup in another letter case", Shows::both, true, "apply",
     [](World& w) { return w.at(w.shortName(L"LongFolderName") + L"\\BACKUP.TXT"); },
     [](World& w, CallHooks&) { w.file(L"LongFolderName\\backup.txt", kOld); }, "applied",
     backupBecomes(L"LongFolderName\\backup.txt", kNew)},
    {"the \\\\?\\ form", Shows::both, true, "apply",
     [](World& w) { return L"\\\\?\\" + w.at(kBackup); }, backupSaves, "applied",
     backupBecomes(kBackup, kNew)},
    {"the \\\\.\\ form", Shows::both, true, "apply",
     [](World& w) { return L"\\\\.\\" + w.at(kBackup); }, backupSaves, "applied",
     backupBecomes(kBackup, kNew)},
    {"the \\??\\ form", Shows::both, true, "apply",
     [](World& w) { return L"\\??\\" + w.at(kBackup); }, backupSaves, "applied",
     backupBecomes(kBackup, kNew)},
    {"relative to the working folder, with .. and /", Shows::both, true, "apply",
     [](World&) { return Path(L"x/../saves//backup.txt"); }, backupSaves, "applied",
     backupBecomes(kBackup, kNew)},
    {"a folder at the backup path", Shows::both, true, "apply", below(kBackup),
     [](World& w, CallHooks&) { w.folder(kBackup); }, "unreadable NtQueryInformationFile C00000BA",
     [](World& w, CallHooks&, const RunResult&) { NT_EXPECT(w.isFolder(kBackup)); }},
    {"a file where a folder should be", Shows::both, true, "apply", below(kBackup),
     [](World& w, CallHooks&) { w.file(L"saves", kVictim); }, "unsaved NtCreateFile C0000103",
     backupBecomes(L"saves", kVictim)},
    {"a second name of a victim at the backup, elevated", Shows::both, true, "apply",
     below(kBackup),
     [](World& w, CallHooks&) {
         w.file(L"victim", kOld);
         w.folder(L"saves");
         w.hardLink(L"victim", kBackup);
     },
     "unreadable link check C000050B", backupBecomes(L"victim", kOld)},
    {"a second name of a victim at the temporary file, elevated", Shows::both, true, "apply",
     below(kBackup),
     [](World& w, CallHooks&) {
         w.file(kBackup, kOld);
         w.file(L"victim", kVictim);
         w.hardLink(L"victim", L"saves\\backup.txt.tmp");
     },
     "unreadable link check C000050B",
     [](World& w, CallHooks&, const RunResult&) {
         NT_EXPECT_EQ(w.bytes(L"victim"), std::optional<std::string>(kVictim));
         NT_EXPECT_EQ(w.bytes(kBackup), std::optional<std::string>(kOld));
     }},
    {"a backup another program holds without sharing, let go after two waits", Shows::both, true,
     "apply", below(kBackup),
     [](World& w, CallHooks& hooks) {
         w.file(kBackup, kOld);
         const int held = w.hold(kBackup, GENERIC_READ, 0);
         hooks.after("Sleep", L"50", 1, [&w, held] { w.release(held); });
     },
     "applied",
     [](World& w, CallHooks& hooks, const RunResult&) {
         expectBackup(w, kBackup, kNew);
         NT_EXPECT(hooks.calls("Sleep") == std::vector<std::string>({"Sleep 25", "Sleep 50"}));
     }},
    {"a folder on the way another program holds with delete access, let go after a wait",
     Shows::both, true, "apply", below(kBackup),
     [](World& w, CallHooks& hooks) {
         w.file(kBackup, kOld);
         const int held = w.hold(L"saves", DELETE, kShareAll);
         hooks.after("Sleep", L"25", 1, [&w, held] { w.release(held); });
     },
     "applied",
     [](World& w, CallHooks& hooks, const RunResult&) {
         expectBackup(w, kBackup, kNew);
         NT_EXPECT(hooks.calls("Sleep") == std::vector<std::string>({"Sleep 25"}));
     }},
    {"a folder on the way another program keeps with delete access, elevated", Shows::both, true,
     "apply", below(kBackup),
     [](World& w, CallHooks&) {
         w.file(kBackup, kOld);
         w.hold(L"saves", DELETE, kShareAll);
     },
     "unreadable NtCreateFile C0000043",
     [](World& w, CallHooks& hooks, const RunResult&) {
         NT_EXPECT_EQ(hooks.calls("Sleep").size(), 10u);
         NT_EXPECT_EQ(w.bytes(kBackup), std::optional<std::string>(kOld));
     }},
    {"a folder on the way another program keeps with delete access, not elevated", Shows::both,
     false, "apply", below(kBackup),
     [](World& w, CallHooks&) {
         w.file(kBackup, kOld);
         w.hold(L"saves", DELETE, kShareAll);
     },
     "applied", backupBecomes(kBackup, kNew)},
    {"a drive no volume stands behind", Shows::both, true, "restore",
     [](World& w) { return unmappedDrive(w) + L"\\saves\\backup.txt"; }, nullptr,
     "incomplete NtCreateFile C000003A"},

    // -- What only Windows shows: reparse points of its kinds. Wine has Unix links alone, which
    //    it follows even where asked not to; tests/e2e runs those.
    {"a junction on the way, elevated", Shows::modelOnly, true, "apply", below(kBackup),
     linkToTarget(L"saves", ntmodel::kTagMountPoint, true), "unreadable NtQueryObject C000050B",
     targetUntouched},
    {"a symbolic link to a folder on the way, elevated", Shows::modelOnly, true, "apply",
     below(kBackup), linkToTarget(L"saves", ntmodel::kTagSymlink, true),
     "unreadable NtQueryObject C000050B", targetUntouched},
    {"a junction on the way, not elevated: the user's own, followed", Shows::modelOnly, false,
     "apply", below(kBackup), ownJunctionToTarget, "applied", targetBackupSaved},
    {"a symbolic link at the backup, elevated", Shows::modelOnly, true, "apply", below(kBackup),
     [](World& w, CallHooks& hooks) {
         w.folder(L"saves");
         linkToTarget(kBackup, ntmodel::kTagSymlink, false)(w, hooks);
     },
     "unreadable link check C000050B", targetUntouched},
    {"a symbolic link at the temporary file, elevated", Shows::modelOnly, true, "apply",
     below(kBackup),
     [](World& w, CallHooks& hooks) {
         w.file(kBackup, kOld);
         linkToTarget(L"saves\\backup.txt.tmp", ntmodel::kTagSymlink, false)(w, hooks);
     },
     "unreadable link check C000050B", targetUntouched},
    {"the reserved tag 0 on the way, as Wine reports a linked folder", Shows::modelOnly, true,
     "apply", below(kBackup),
     [](World& w, CallHooks&) {
         w.file(kBackup, kOld);
         w.model()->makeReparse(w.at(L"saves"), 0, Path(), true);
     },
     "unreadable NtQueryObject C000050B"},
    {"cloud placeholder folders on the way, a deduplicated backup: no links", Shows::modelOnly,
     true, "apply", below(L"cloud\\saves\\backup.txt"),
     [](World& w, CallHooks&) {
         w.model()->makeReparse(w.at(L"cloud"), ntmodel::kTagCloud, Path(), true);
         w.model()->makeReparse(w.at(L"cloud\\saves"), ntmodel::kTagCloud, Path(), true);
         w.model()->makeReparse(w.at(L"cloud\\saves\\backup.txt"), ntmodel::kTagDedup, Path(),
                                false);
     },
     "applied", backupBecomes(L"cloud\\saves\\backup.txt", kFresh)},
    // An app execution alias is no link for the file system: an elevated run, which opens the
    // name itself, replaces it; one that is not cannot open it at all.
    {"an app execution alias at the backup, elevated", Shows::modelOnly, true, "apply",
     below(kBackup), aliasAtBackup, "applied", backupBecomes(kBackup, kFresh)},
    {"an app execution alias at the backup, not elevated", Shows::modelOnly, false, "apply",
     below(kBackup), aliasAtBackup, "unreadable NtCreateFile C0000279"},

    // -- Shares and volumes: Wine has neither.
    {"a share", Shows::modelOnly, true, "apply",
     [](World&) { return Path(L"\\\\srv\\share\\saves\\backup.txt"); },
     [](World& w, CallHooks&) {
         w.model()->addShare(L"srv", L"share");
         w.model()->makeFile(L"\\\\srv\\share\\saves\\backup.txt", kOld);
     },
     "applied",
     [](World& w, CallHooks&, const RunResult&) {
         NT_EXPECT_EQ(w.model()->bytes(L"\\\\srv\\share\\saves\\backup.txt"),
                      std::optional<std::string>(kNew));
     }},
    {"a junction on the way below a share", Shows::modelOnly, true, "apply",
     [](World&) { return Path(L"\\\\srv\\share\\saves\\backup.txt"); },
     [](World& w, CallHooks&) {
         w.model()->addShare(L"srv", L"share");
         w.model()->makeFolder(kTarget);
         w.model()->makeReparse(L"\\\\srv\\share\\saves", ntmodel::kTagMountPoint,
                                L"\\??\\" + kTarget, true);
     },
     "unreadable NtQueryObject C000050B",
     [](World&, CallHooks&, const RunResult& result) {
         NT_EXPECT_EQ(result.failurePath, Path(L"\\\\srv\\share\\saves"));
     }},
    {"a share whose server does not answer", Shows::modelOnly, true, "restore",
     [](World&) { return Path(L"\\\\off\\share\\backup.txt"); },
     [](World& w, CallHooks&) {
         w.model()->addShare(L"off", L"share");
         w.model()->serverOff(L"off");
     },
     "incomplete NtCreateFile C00000BE",
     [](World&, CallHooks&, const RunResult& result) {
         NT_EXPECT_EQ(result.failurePath, Path(L"\\\\off\\share\\"));
     }},
    {"a volume by its GUID", Shows::modelOnly, true, "apply",
     [](World&) { return kVolume + L"\\row\\saves\\backup.txt"; }, backupSaves, "applied",
     backupBecomes(kBackup, kNew)},
    {"a junction on the way below a volume's GUID", Shows::modelOnly, true, "apply",
     [](World&) { return kVolume + L"\\row\\saves\\backup.txt"; },
     linkToTarget(L"saves", ntmodel::kTagMountPoint, true), "unreadable NtQueryObject C000050B",
     [](World& w, CallHooks& hooks, const RunResult& result) {
         targetUntouched(w, hooks, result);
         NT_EXPECT_EQ(result.failurePath, kVolume + L"\\row\\saves");
     }},

    // -- The token, and what a user may do: Wine runs every program elevated, and checks no
    //    rights.
    {"an ordinary user's token: its own junction is followed", Shows::modelOnly, std::nullopt,
     "apply", below(kBackup),
     [](World& w, CallHooks& hooks) {
         w.model()->setElevated(false);
         ownJunctionToTarget(w, hooks);
     },
     "applied", targetBackupSaved},
    {"a token that cannot be asked counts as elevated", Shows::modelOnly, std::nullopt, "apply",
     below(kBackup),
     [](World& w, CallHooks& hooks) {
         w.model()->setElevated(false);
         w.model()->failTokenQuery(true);
         linkToTarget(L"saves", ntmodel::kTagMountPoint, true)(w, hooks);
     },
     "unreadable NtQueryObject C000050B", targetUntouched},
    {"a folder the user may only traverse, spelt as on disk, elevated", Shows::modelOnly, true,
     "apply", below(L"t\\saves\\backup.txt"),
     [](World& w, CallHooks&) {
         w.file(L"t\\saves\\backup.txt", kOld);
         w.model()->setRights(w.at(L"t"), kTraverseOnly, kTraverseOnly);
     },
     "applied", backupBecomes(L"t\\saves\\backup.txt", kNew)},
    {"an 8.3 name below a folder that may only be traversed, elevated", Shows::modelOnly, true,
     "apply",
     [](World& w) { return w.at(L"t\\" + w.shortName(L"t\\LongFolderName") + L"\\b.txt"); },
     [](World& w, CallHooks&) {
         w.file(L"t\\LongFolderName\\b.txt", kOld);
         w.model()->setRights(w.at(L"t"), kTraverseOnly, kTraverseOnly);
     },
     "unreadable NtQueryObject C000050B", backupBecomes(L"t\\LongFolderName\\b.txt", kOld)},
    {"two folders the user may only traverse, one in the other, not elevated", Shows::modelOnly,
     false, "apply", below(L"t\\u\\saves\\backup.txt"),
     [](World& w, CallHooks&) {
         w.file(L"t\\u\\saves\\backup.txt", kOld);
         w.model()->setRights(w.at(L"t"), kTraverseOnly, kTraverseOnly);
         w.model()->setRights(w.at(L"t\\u"), kTraverseOnly, kTraverseOnly);
     },
     "applied", backupBecomes(L"t\\u\\saves\\backup.txt", kNew)},

    // -- Names marked for deletion: Wine opens them as if they were not.
    {"a folder on the way being deleted, gone after a wait", Shows::modelOnly, true, "apply",
     below(kBackup),
     [](World& w, CallHooks& hooks) {
         w.folder(L"saves");
         HANDLE held = nullptr;
         w.model()->open(Actor::other, w.at(L"saves"), DELETE, kShareAll, FILE_OPEN,
                         FILE_DIRECTORY_FILE, &held);
         w.model()->markForDeletion(held);
         hooks.after("Sleep", L"25", 1, [&w, held] { w.model()->close(held); });
     },
     "applied", backupBecomes(kBackup, kFresh)},
    {"a backup being deleted by another program", Shows::modelOnly, true, "restore", below(kBackup),
     [](World& w, CallHooks&) {
         w.file(kBackup, kOld);
         HANDLE held = nullptr;
         w.model()->open(Actor::other, w.at(kBackup), DELETE, kShareAll, FILE_OPEN, 0, &held);
         w.model()->markForDeletion(held);
     },
     "incomplete NtCreateFile C0000056"},
};

}  // namespace

NT_CASE(HostilePaths) {
    runLayerRows(kRows);
}
