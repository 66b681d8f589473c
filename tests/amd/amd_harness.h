// One AMD command run against the fakes: the fake runtime, the in-memory files, the lines
// printed. Saves, removals and lines go into the driver's log, so their order among the
// driver calls can be asserted.
#pragma once

#include <string>
#include <vector>

#include "amd/amd_backend.h"
#include "frame/result_line.h"
#include "store/backup_store.h"
#include "tests/amd/fake_adlx.h"
#include "tests/support/fake_file_system.h"
#include "tests/support/recording_sink.h"

struct AmdHarness {
    AmdHarness();
    /// Fails the test when the product misused the runtime: a fixture stricter than the
    /// real driver, which would crash instead.
    ~AmdHarness();
    AmdHarness(const AmdHarness&) = delete;  // the file observer holds `this`
    AmdHarness& operator=(const AmdHarness&) = delete;

    FakeAdlx adlx;
    FakeFileSystem files;
    RecordingSink sink{adlx.log, "print"};
    ResultPrinter out{"AMD", sink};
    BackupStore backups{files, "amd"};
    LineAndBackup io{out, backups};
    const Path path = L"C:\\b\\amd.txt";
    int saves = 0;  // backups that took the backup's name, logged "save <bytes>"

    int status() { return amdStatus(adlx, io); }
    /// Each command is a run of its own: the store is bound to the path afresh (the walk
    /// is the entry's business and stays out of the log).
    int apply(PresetLevel level) {
        bindStore();
        return amdApply(adlx, io, level);
    }
    int restore() {
        bindStore();
        return amdRestore(adlx, io);
    }
    void bindStore() {
        backups.bind(path);
        files.log.clear();
    }

    /// The one line printed, or "" when there is not exactly one.
    std::string line() const { return sink.lines.size() == 1 ? sink.lines[0] : ""; }
    bool hasBackup() const { return files.files.count(path) != 0; }
    std::string backup() const {
        auto found = files.files.find(path);
        return found == files.files.end() ? "<none>" : found->second.bytes;
    }
    void plantBackup(const std::string& bytes) { files.files[path].bytes = bytes; }
};

/// A result line as the AMD program prints it, field by field.
std::string amdLine(const char* result, int supported, int changed, const char* message);
/// What every command prints when there is no ADLX or no AMD GPU it can use.
inline constexpr const char* kUnavailable =
    "result=unsupported;vendor=AMD;supported=0;changed=0;"
    "message=ADLX indisponivel ou nenhuma GPU AMD compativel";

/// Entries of `log` from the first one equal to `from` (inclusive) to the end.
std::vector<std::string> logFrom(const std::vector<std::string>& log, const std::string& from);
