// Races: another program acts between two of the layer's calls, at an exact call, with no timing.
#include <ntstatus.h>

#include "tests/nt/layer_rows.h"
#include "tests/nt/model/nt_model.h"
#include "tests/nt/table_runner.h"

namespace {

using ntmodel::Actor;

constexpr ULONG kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
const Path kBackup = L"saves\\backup.txt";
const Path kTemporary = L"saves\\backup.txt.tmp";

void backupSaves(World& w) {
    w.file(kBackup, kOld);
}

/// The backup still holds its old bytes under one name, and nothing of the save is left.
void backupKept(World& w, CallHooks&, const RunResult&) {
    NT_EXPECT_EQ(w.bytes(kBackup), std::optional<std::string>(kOld));
    NT_EXPECT_EQ(w.names(kBackup), 1u);
    NT_EXPECT(!w.exists(kTemporary));
}

const LayerRow kRows[] = {
    {"elevated: the folder just opened cannot be renamed away", Shows::both, true, "apply",
     below(kBackup),
     [](World& w, CallHooks& hooks) {
         backupSaves(w);
         hooks.after("NtCreateFile", L"saves", 1,
                     [&w] { NT_EXPECT(!w.rename(L"saves", L"moved")); });
     },
     "applied",
     [](World& w, CallHooks&, const RunResult&) {
         NT_EXPECT_EQ(w.bytes(kBackup), std::optional<std::string>(kNew));
     }},
    // A run that is not elevated shares its folders; what it opens next is still looked up in
    // the folder it holds, wherever that went, never again by name. Wine names the moved
    // folder's handle by its old path, so the check of the new file refuses the save there.
    {"not elevated: the folder renamed away, a new one in its place", Shows::modelOnly, false,
     "apply", below(L"saves\\sub\\backup.txt"),
     [](World& w, CallHooks& hooks) {
         w.file(L"saves\\sub\\backup.txt", kOld);
         hooks.after("NtCreateFile", L"saves", 1, [&w] {
             NT_EXPECT(w.rename(L"saves", L"moved"));
             w.folder(L"saves\\sub");
         });
     },
     "applied",
     [](World& w, CallHooks&, const RunResult&) {
         NT_EXPECT_EQ(w.bytes(L"moved\\sub\\backup.txt"), std::optional<std::string>(kNew));
         NT_EXPECT(!w.exists(L"saves\\sub\\backup.txt"));
     }},
    {"the missing folder made by another run between the walk and the lock", Shows::both, true,
     "apply", below(L"new\\backup.txt"),
     [](World& w, CallHooks& hooks) {
         hooks.before("CreateMutexW", Path(), 1, [&w] { w.file(L"new\\backup.txt", kOld); });
     },
     "applied",
     [](World& w, CallHooks&, const RunResult&) {
         NT_EXPECT_EQ(w.bytes(L"new\\backup.txt"), std::optional<std::string>(kNew));
     }},
    {"a second name given to the temporary file once it was written", Shows::both, true, "apply",
     below(kBackup),
     [](World& w, CallHooks& hooks) {
         backupSaves(w);
         hooks.after("NtFlushBuffersFile", L"backup.txt.tmp", 1,
                     [&w] { NT_EXPECT(w.hardLink(kTemporary, L"second")); });
     },
     "unsaved NtQueryInformationFile C0000265", backupKept},
    {"a victim's second name put at the temporary name before it is made", Shows::both, true,
     "apply", below(kBackup),
     [](World& w, CallHooks& hooks) {
         backupSaves(w);
         w.file(L"victim", kVictim);
         hooks.before("NtCreateFile", L"backup.txt.tmp", 2,
                      [&w] { NT_EXPECT(w.hardLink(L"victim", kTemporary)); });
     },
     "unsaved NtCreateFile C0000035",
     [](World& w, CallHooks&, const RunResult&) {
         NT_EXPECT_EQ(w.bytes(L"victim"), std::optional<std::string>(kVictim));
         NT_EXPECT_EQ(w.bytes(kBackup), std::optional<std::string>(kOld));
     }},

    {"a save that fails takes back the folders it made, newest first", Shows::both, true, "apply",
     below(L"a\\b\\backup.txt"),
     [](World& w, CallHooks& hooks) {
         hooks.after("NtFlushBuffersFile", L"backup.txt.tmp", 1,
                     [&w] { NT_EXPECT(w.hardLink(L"a\\b\\backup.txt.tmp", L"second")); });
     },
     "unsaved NtQueryInformationFile C0000265",
     [](World& w, CallHooks&, const RunResult&) {
         NT_EXPECT(!w.exists(L"a"));
         NT_EXPECT_EQ(w.names(L"second"), 1u);
     }},
    {"a restore with no backup there", Shows::both, true, "restore", below(kBackup),
     [](World& w, CallHooks&) { w.folder(L"saves"); }, "nothing",
     [](World& w, CallHooks&, const RunResult&) { NT_EXPECT(!w.exists(kBackup)); }},

    // What Windows' sharing refuses, and a process outside Wine can do anyway.
    {"a process outside Wine takes the temporary file's name and puts a victim's there",
     Shows::modelOnly, true, "apply", below(kBackup),
     [](World& w, CallHooks& hooks) {
         backupSaves(w);
         w.file(L"victim", kVictim);
         hooks.after("NtFlushBuffersFile", L"backup.txt.tmp", 1, [&w] {
             w.model()->unlinkNow(w.at(kTemporary));
             NT_EXPECT(w.hardLink(L"victim", kTemporary));
         });
     },
     "unsaved NtQueryInformationFile C0000056",
     [](World& w, CallHooks&, const RunResult&) {
         NT_EXPECT_EQ(w.bytes(L"victim"), std::optional<std::string>(kVictim));
         NT_EXPECT_EQ(w.bytes(kBackup), std::optional<std::string>(kOld));
     }},
    {"a process outside Wine moves the held folder away and leaves a junction in its place",
     Shows::modelOnly, true, "apply", below(kBackup),
     [](World& w, CallHooks& hooks) {
         backupSaves(w);
         w.model()->makeFile(L"C:\\target\\backup.txt", kVictim);
         hooks.before("CreateMutexW", Path(), 1, [&w] {
             HANDLE folder = nullptr;
             w.model()->open(Actor::outsider, w.at(L"saves"), DELETE, kShareAll, FILE_OPEN,
                             FILE_DIRECTORY_FILE, &folder);
             NT_EXPECT(w.model()->rename(folder, w.at(L"moved"), false) >= 0);
             w.model()->close(folder);
             w.model()->makeReparse(w.at(L"saves"), ntmodel::kTagMountPoint, L"\\??\\C:\\target",
                                    true);
         });
     },
     "unreadable link check C000050B",
     [](World& w, CallHooks&, const RunResult&) {
         NT_EXPECT_EQ(w.model()->bytes(L"C:\\target\\backup.txt"),
                      std::optional<std::string>(kVictim));
         NT_EXPECT(!w.model()->exists(L"C:\\target\\backup.txt.tmp"));
         NT_EXPECT_EQ(w.bytes(L"moved\\backup.txt"), std::optional<std::string>(kOld));
     }},
};

}  // namespace

NT_CASE(Races) {
    runLayerRows(kRows);
}
