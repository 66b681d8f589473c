// The read-only mark on the real layer. Windows refuses to replace a read-only file, to delete
// one, and to write to one; Wine, run as root, does all three, so only the outcomes can agree
// there, not the calls that lead to them.
#include <ntstatus.h>

#include "tests/nt/layer_rows.h"
#include "tests/nt/model/nt_model.h"
#include "tests/nt/table_runner.h"

namespace {

constexpr ULONG kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
const Path kBackup = L"saves\\backup.txt";

void readOnlyBackup(World& w, CallHooks&) {
    w.file(kBackup, kOld);
    w.readOnly(kBackup, true);
}

/// The backup as it stood, its mark on.
void keptReadOnly(World& w, CallHooks&, const RunResult&) {
    NT_EXPECT_EQ(w.bytes(kBackup), std::optional<std::string>(kOld));
    NT_EXPECT(w.isReadOnly(kBackup));
    NT_EXPECT(!w.exists(L"saves\\backup.txt.tmp"));
}

const LayerRow kRows[] = {
    {"a read-only backup is replaced, by a file without the mark", Shows::both, true, "apply",
     below(kBackup), readOnlyBackup, "applied",
     [](World& w, CallHooks& hooks, const RunResult&) {
         NT_EXPECT_EQ(w.bytes(kBackup), std::optional<std::string>(kNew));
         NT_EXPECT(!w.isReadOnly(kBackup));
         if (w.model() != nullptr) {  // cleared, then the rename tried again
             NT_EXPECT(hooks.calls("NtSetInformationFile") ==
                       std::vector<std::string>({"NtSetInformationFile rename backup.txt.tmp",
                                                 "NtSetInformationFile attributes backup.txt",
                                                 "NtSetInformationFile rename backup.txt.tmp"}));
         }
     }},
    {"a read-only backup another program holds open: the mark goes back on", Shows::both, true,
     "apply", below(kBackup),
     [](World& w, CallHooks& hooks) {
         readOnlyBackup(w, hooks);
         w.hold(kBackup, GENERIC_READ, kShareAll);
     },
     "unsaved NtSetInformationFile C0000022", keptReadOnly},
    {"a read-only backup whose mark may not be changed", Shows::modelOnly, true, "apply",
     below(kBackup),
     [](World& w, CallHooks& hooks) {
         readOnlyBackup(w, hooks);
         const ACCESS_MASK rights = FILE_ALL_ACCESS & ~FILE_WRITE_ATTRIBUTES;
         w.model()->setRights(w.at(kBackup), rights, rights);
     },
     "unsaved NtSetInformationFile C0000022", keptReadOnly},
    {"a read-only temporary file left by a run that died is removed first", Shows::both, true,
     "apply", below(kBackup),
     [](World& w, CallHooks&) {
         w.file(kBackup, kOld);
         w.file(L"saves\\backup.txt.tmp", "left behind\r\n");
         w.readOnly(L"saves\\backup.txt.tmp", true);
     },
     "applied",
     [](World& w, CallHooks&, const RunResult&) {
         NT_EXPECT_EQ(w.bytes(kBackup), std::optional<std::string>(kNew));
         NT_EXPECT(!w.exists(L"saves\\backup.txt.tmp"));
     }},
    {"a restore deletes a read-only backup", Shows::both, true, "restore", below(kBackup),
     readOnlyBackup, "restored",
     [](World& w, CallHooks&, const RunResult&) { NT_EXPECT(!w.exists(kBackup)); }},
};

}  // namespace

NT_CASE(ReadOnly) {
    runLayerRows(kRows);
}
