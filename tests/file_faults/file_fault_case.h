// One case of the file-fault table: a command of one program run against its fake
// driver and the fault-injecting file system, with at most one file operation failing,
// then checked, then followed by a restore without faults that must finish the job.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "tests/file_faults/campaign_vendor.h"
#include "tests/support/fake_file_system.h"

struct Scenario {
    std::string title;
    bool restoring;
    PresetLevel level;  // of the apply under test
    /// Applies run, without faults, before the command under test.
    std::vector<PresetLevel> earlierApplies;
    bool foreignEntry;
    bool readOnly;
    Path backup = L"C:\\b\\backup.txt";
    /// A temporary file that a cut left half written beside the backup, before the command.
    bool staleTornTemporary = false;
};

/// The operation at `index` (0-based) in the file log of the run without faults fails;
/// it is the `nth` call of `op`, or with `nth` 0 the first of every call of `op`, all of
/// which fail (as on a full or vanished disk). A failing write may also cut the text short.
struct FileFault {
    size_t index;
    std::string entry;
    std::string op;
    int nth;
    bool cutShort;
};

/// Every fault for a run whose file log is `log`: each operation failing, each write also
/// cut short, and every call of each operation failing from its first.
std::vector<FileFault> faultsFor(const std::vector<std::string>& log);

/// "operation 5 of 13, 'write C:\b\x.tmp' (write #1), cut short".
std::string describeFault(const FileFault& fault, size_t operations);

struct CaseOutcome {
    std::vector<std::string> problems;
    std::vector<std::string> fileLog;
    std::vector<std::string> lines;
    int exit = -1;
    std::optional<std::string> backupAfter;  // right after the command under test
};

/// The one result line of a command and its exit code.
struct CommandRun {
    int exit;
    std::vector<std::string> lines;
};

/// Runs `vendor`'s apply (at `level`) or restore on `files`, bound to `backup` as the
/// entry binds it.
CommandRun runCommand(const CampaignVendor& vendor, FakeDriver& driver, FakeFileSystem& files,
                      const Path& backup, bool restoring, PresetLevel level);

/// Puts into `earlier` the files as the scenario's earlier applies left them, with the
/// foreign entry, the read-only mark and the stale temporary file when it asks for them.
/// False (with the reason in `problems`) when an earlier apply did not succeed.
bool prepareFiles(const CampaignVendor& vendor, const Scenario& scenario, FakeDriver& driver,
                  const Entries& foreign, FakeFileSystem& earlier,
                  std::vector<std::string>& problems);

/// Runs one case. `baseline` is the outcome of the same scenario without faults, or null
/// for that run itself.
CaseOutcome runCase(const CampaignVendor& vendor, const Scenario& scenario, const FileFault* fault,
                    const CaseOutcome* baseline);

/// "result=...;vendor=...;supported=...;changed=...;message=..." as the front-end reads it.
std::string lineText(const ResultLine& line, const std::string& vendorWord);
