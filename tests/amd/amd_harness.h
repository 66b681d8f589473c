// One AMD command run against the fakes: the fake runtime, the in-memory files, the lines
// printed. The file log and the driver log are one, so their order can be asserted.
#pragma once

#include <string>
#include <vector>

#include "amd/amd_backend.h"
#include "common/backup_file.h"
#include "common/result_line.h"
#include "tests/amd/fake_adlx.h"
#include "tests/amd/memory_files.h"
#include "tests/support/recording_sink.h"

struct AmdHarness {
    AmdHarness() { files.log = &adlx.log; }

    FakeAdlx adlx;
    MemoryFiles files;
    RecordingSink sink{adlx.log, "print"};
    ResultPrinter out{"AMD", sink};
    BackupStore backups{files, "amd"};
    Host host{out, backups};
    const Path path = L"C:\\b\\amd.txt";

    int status() { return amdStatus(adlx, host); }
    int apply(PresetLevel level) { return amdApply(adlx, host, level, path); }
    int restore() { return amdRestore(adlx, host, path); }

    /// The one line printed, or "" when there is not exactly one.
    std::string line() const { return sink.lines.size() == 1 ? sink.lines[0] : ""; }
    std::string backup() const {
        auto found = files.files.find(path);
        return found == files.files.end() ? "<none>" : found->second;
    }
};

/// Entries of `log` from the first one equal to `from` (inclusive) to the end.
std::vector<std::string> logFrom(const std::vector<std::string>& log, const std::string& from);
