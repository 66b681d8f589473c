#include "tests/file_faults/file_fault_case.h"

#include <cstdio>
#include <map>

#include "tests/file_faults/backup_watch.h"
#include "tests/support/recording_sink.h"

namespace {

constexpr int kOkExit = 0;
constexpr int kBackupFailedExit = 20;
constexpr int kIncompleteExit = 22;
constexpr size_t kSector = 512;

/// A file system in the state `from` left: files, directories, read-only marks.
void copyFiles(const FakeFileSystem& from, FakeFileSystem& to) {
    to.files = from.files;
    to.directories = from.directories;
    to.crlf = true;
}

int ownEntries(const std::optional<std::string>& bytes, bool (*ownsKey)(std::string_view)) {
    int count = 0;
    if (bytes) {
        for (const auto& [key, value] : readBackupText(*bytes).entries) {
            count += ownsKey(key) ? 1 : 0;
        }
    }
    return count;
}

std::string show(const std::optional<std::string>& bytes) {
    if (!bytes) {
        return "<absent>";
    }
    std::string out;
    for (char c : *bytes) {
        out += c == '\r' ? std::string("\\r") : c == '\n' ? std::string("\\n") : std::string(1, c);
    }
    return out;
}

/// The lines the command under test may print, given the run without faults.
std::vector<ResultLine> allowedLines(const CampaignVendor& vendor, const Scenario& scenario,
                                     const ResultLine& clean) {
    std::vector<ResultLine> allowed{clean};
    if (!scenario.restoring) {
        for (const ResultLine& line : vendor.applyFailures(clean.supported, clean.changed)) {
            allowed.push_back(line);
        }
        return allowed;
    }
    // Nothing touched because the backup could not be looked at, or everything put back
    // but the file could not be given up.
    allowed.push_back({"error", 0, 0, vendor.restoreIncomplete, kIncompleteExit});
    allowed.push_back(
        {"error", clean.supported, clean.changed, vendor.restoreIncomplete, kIncompleteExit});
    return allowed;
}

/// Splits a line into its fields, or nothing when it is not one.
std::optional<ResultLine> readLine(const std::string& text, const std::string& vendorWord,
                                   int exit) {
    const std::string head = "result=";
    const std::string message = ";message=";
    const size_t messageAt = text.find(message);
    if (text.compare(0, head.size(), head) != 0 || messageAt == std::string::npos) {
        return std::nullopt;
    }
    ResultLine line{"", 0, 0, text.substr(messageAt + message.size()), exit};
    char kind[32] = {};
    char vendor[32] = {};
    if (std::sscanf(text.c_str(), "result=%31[a-z];vendor=%31[A-Z];supported=%d;changed=%d;", kind,
                    vendor, &line.supported, &line.changed) != 4 ||
        vendor != vendorWord) {
        return std::nullopt;
    }
    line.kind = kind;
    if (lineText(line, vendorWord) != text) {
        return std::nullopt;
    }
    return line;
}

void checkWrites(const CampaignVendor& vendor, const std::vector<DriverWrite>& writes,
                 const Entries& originals, const Entries& foreign,
                 std::vector<std::string>& problems) {
    for (const DriverWrite& write : writes) {
        const std::string problem = write.backupOnDisk
                                        ? contentProblem(*write.backupOnDisk, vendor.fileWord,
                                                         vendor.ownsKey, originals, foreign)
                                        : "there was no backup";
        const bool recorded =
            write.backupOnDisk && readBackupText(*write.backupOnDisk).entries.count(write.key) != 0;
        if (!problem.empty() || !recorded) {
            problems.push_back("the driver's " + write.key +
                               " was written while the backup on disk did not hold its "
                               "original: " +
                               (problem.empty() ? show(write.backupOnDisk) : problem));
            return;
        }
    }
}

}  // namespace

CommandRun runCommand(const CampaignVendor& vendor, FakeDriver& driver, FakeFileSystem& files,
                      const Path& backup, bool restoring, PresetLevel level) {
    RecordingSink sink;
    ResultPrinter printer(vendor.lineWord, sink);
    BackupStore backups(files, vendor.fileWord);
    LineAndBackup io{printer, backups};
    // As the entry does: a path that cannot be walked leaves the store refusing.
    backups.bind(backup);
    const int exit = restoring ? driver.restore(io) : driver.apply(io, level);
    return CommandRun{exit, sink.lines};
}

std::string lineText(const ResultLine& line, const std::string& vendorWord) {
    return "result=" + line.kind + ";vendor=" + vendorWord +
           ";supported=" + std::to_string(line.supported) +
           ";changed=" + std::to_string(line.changed) + ";message=" + line.message;
}

std::vector<FileFault> faultsFor(const std::vector<std::string>& log) {
    std::vector<FileFault> faults;
    std::map<std::string, int> calls;
    for (size_t i = 0; i < log.size(); ++i) {
        const std::string op = log[i].substr(0, log[i].find(' '));
        const int nth = ++calls[op];
        faults.push_back({i, log[i], op, nth, false});
        if (op == "write") {
            faults.push_back({i, log[i], op, nth, true});
        }
    }
    std::vector<FileFault> persistent;
    for (const FileFault& fault : faults) {
        if (fault.nth == 1 && calls[fault.op] > 1) {
            persistent.push_back({fault.index, fault.entry, fault.op, 0, fault.cutShort});
        }
    }
    faults.insert(faults.end(), persistent.begin(), persistent.end());
    return faults;
}

std::string describeFault(const FileFault& fault, size_t operations) {
    const std::string how = fault.cutShort ? "cut short" : "fails";
    if (fault.nth == 0) {
        return "every " + fault.op + " " + how + ", from operation " +
               std::to_string(fault.index + 1) + " of " + std::to_string(operations) + " on";
    }
    return "operation " + std::to_string(fault.index + 1) + " of " + std::to_string(operations) +
           ", '" + fault.entry + "' (" + fault.op + " #" + std::to_string(fault.nth) + "), " + how;
}

bool prepareFiles(const CampaignVendor& vendor, const Scenario& scenario, FakeDriver& driver,
                  const Entries& foreign, FakeFileSystem& earlier,
                  std::vector<std::string>& problems) {
    const Path& backup = scenario.backup;
    earlier.crlf = true;
    for (PresetLevel level : scenario.earlierApplies) {
        const CommandRun run = runCommand(vendor, driver, earlier, backup, false, level);
        if (run.exit != kOkExit) {
            problems.push_back("an earlier apply without faults exited " +
                               std::to_string(run.exit));
            return false;
        }
    }
    if (scenario.foreignEntry) {
        BackupText text = readBackupText(earlier.files[backup].bytes);
        text.entries.insert(foreign.begin(), foreign.end());
        earlier.files[backup].bytes = writeBackupText(vendor.fileWord, text.entries);
    }
    if (scenario.readOnly) {
        earlier.files[backup].readOnly = true;
    }
    if (scenario.staleTornTemporary) {
        // A save cut short: half of its text, then zeros to the end of the sector, where
        // the size had grown but the data never came.
        const std::string text = writeBackupText(vendor.fileWord, driver.originals());
        const std::string half = text.substr(0, text.size() / 2);
        earlier.files[backup + L".tmp"].bytes =
            half + std::string(kSector - half.size() % kSector, '\0');
        earlier.directories.insert(backup.substr(0, backup.rfind(L'\\')));
    }
    return true;
}

namespace {

/// The one line, whether this command may print it after this failure, and what it says
/// against what the run did to the driver and the backup.
void checkResult(const CampaignVendor& vendor, const Scenario& scenario,
                 const CaseOutcome* baseline, const FileFault* fault,
                 const std::optional<std::string>& before, const std::vector<DriverWrite>& writes,
                 const Entries& originals, const Entries& foreign, CaseOutcome& outcome) {
    std::vector<std::string>& problems = outcome.problems;
    // A save whose folder could not be flushed after the rename fails, yet the new file
    // stands complete under the name: besides the old one, the one thing it may leave.
    const bool keptOrNew = outcome.backupAfter == before ||
                           (fault != nullptr && fault->op == "flush-folder" &&
                            baseline != nullptr && outcome.backupAfter == baseline->backupAfter);
    if (outcome.lines.size() != 1) {
        problems.push_back(std::to_string(outcome.lines.size()) + " result lines");
        return;
    }
    const std::string& text = outcome.lines[0];
    const std::optional<ResultLine> line = readLine(text, vendor.lineWord, outcome.exit);
    if (!line) {
        problems.push_back("not a result line: " + text);
        return;
    }
    const std::string exit = ", exit " + std::to_string(outcome.exit);
    if (baseline == nullptr) {
        const std::string& message = scenario.restoring ? vendor.restored : vendor.applied;
        if (line->kind != "ok" || line->message != message || outcome.exit != kOkExit) {
            problems.push_back("without faults: " + text + exit);
        }
    } else {
        const std::optional<ResultLine> clean =
            baseline->lines.empty() ? std::nullopt
                                    : readLine(baseline->lines[0], vendor.lineWord, baseline->exit);
        bool known = false;
        for (const ResultLine& allowed :
             clean ? allowedLines(vendor, scenario, *clean) : std::vector<ResultLine>{}) {
            known = known ||
                    (lineText(allowed, vendor.lineWord) == text && allowed.exit == outcome.exit);
        }
        if (!known) {
            problems.push_back("unexpected result: " + text + exit);
        }
        if (line->kind == "ok" && outcome.backupAfter != baseline->backupAfter) {
            problems.push_back("reported ok but left the backup " + show(outcome.backupAfter) +
                               " instead of " + show(baseline->backupAfter));
        }
    }
    if (!scenario.restoring) {
        checkWrites(vendor, writes, originals, foreign, problems);
        if (static_cast<size_t>(line->changed) != writes.size()) {
            problems.push_back("says changed=" + std::to_string(line->changed) + " but wrote " +
                               std::to_string(writes.size()) + " settings");
        }
        if (line->exit == kBackupFailedExit && !keptOrNew) {
            problems.push_back("could not save, yet left the backup " + show(outcome.backupAfter) +
                               " instead of " + show(before));
        }
    } else if (line->exit == kIncompleteExit) {
        if (!keptOrNew) {
            problems.push_back("an incomplete restore changed the backup to " +
                               show(outcome.backupAfter));
        }
        if (line->supported == 0 && !writes.empty()) {
            problems.push_back("restore reported nothing touched but wrote " + writes[0].key);
        }
    }
}

/// A restore without faults after the case must finish the job: the driver as it was
/// before the first apply, no backup (or the foreign entries alone), no temporary file.
void checkRestoreAfter(const CampaignVendor& vendor, FakeDriver& driver,
                       const FakeFileSystem& files, const Path& backup, const Entries& foreign,
                       std::vector<std::string>& problems) {
    FakeFileSystem clean;
    copyFiles(files, clean);
    const std::optional<std::string> left = bytesAt(clean, backup);
    const int own = ownEntries(left, vendor.ownsKey);
    const ResultLine expected = left
                                    ? ResultLine{"ok", own, own, vendor.restored, kOkExit}
                                    : ResultLine{"nothing", 0, 0, vendor.nothingToRestore, kOkExit};
    const CommandRun restore = runCommand(vendor, driver, clean, backup, true, 0);
    const std::string expectedText = lineText(expected, vendor.lineWord);
    if (restore.lines != std::vector<std::string>{expectedText} || restore.exit != kOkExit) {
        problems.push_back("the restore after it printed " +
                           (restore.lines.empty() ? std::string("nothing") : restore.lines[0]) +
                           ", exit " + std::to_string(restore.exit) + ", not " + expectedText);
    }
    const std::string difference = driver.differenceFromStart();
    if (!difference.empty()) {
        problems.push_back("after the restore the driver is not back: " + difference);
    }
    const std::optional<std::string> remaining = bytesAt(clean, backup);
    const std::optional<std::string> wanted =
        foreign.empty() ? std::nullopt
                        : std::optional<std::string>(writeBackupText(vendor.fileWord, foreign));
    if (remaining != wanted) {
        problems.push_back("after the restore the backup is " + show(remaining) + ", not " +
                           show(wanted));
    }
    if (clean.files.count(backup + L".tmp") != 0) {
        problems.push_back("a temporary backup file is left behind");
    }
    for (const std::string& misuse : driver.misuses()) {
        problems.push_back("the driver was misused: " + misuse);
    }
}

}  // namespace

CaseOutcome runCase(const CampaignVendor& vendor, const Scenario& scenario, const FileFault* fault,
                    const CaseOutcome* baseline) {
    CaseOutcome outcome;
    std::unique_ptr<FakeDriver> driver = vendor.makeDriver();
    const Entries originals = driver->originals();
    const Entries foreign = scenario.foreignEntry ? vendor.foreign : Entries{};
    FakeFileSystem earlier;
    if (!prepareFiles(vendor, scenario, *driver, foreign, earlier, outcome.problems)) {
        return outcome;
    }

    FakeFileSystem files;
    copyFiles(earlier, files);
    const Path& backup = scenario.backup;
    const std::optional<std::string> before = bytesAt(files, backup);
    BackupWatch watch(
        files,
        BackupWatch::Setup{backup, vendor.fileWord, vendor.ownsKey, originals, foreign,
                           scenario.restoring, [&driver] { return driver->differenceFromStart(); },
                           [fault](size_t index, const std::string& op) {
                               return fault != nullptr &&
                                      (fault->nth == 0 ? op == fault->op : index == fault->index);
                           }});
    files.observer = [&watch](const std::string& entry) { watch.onOperation(entry); };
    driver->noteWrites([&files, &backup] { return bytesAt(files, backup); });
    if (fault) {
        files.failOn(fault->op, fault->nth);
        files.writeFailure = fault->cutShort ? FakeFileSystem::WriteFailure::cutShort
                                             : FakeFileSystem::WriteFailure::nothingWritten;
    }

    const CommandRun run =
        runCommand(vendor, *driver, files, backup, scenario.restoring, scenario.level);
    files.observer = nullptr;
    const std::vector<DriverWrite> writes = driver->writes();
    driver->noteWrites(nullptr);
    outcome.fileLog = files.log;
    outcome.lines = run.lines;
    outcome.exit = run.exit;
    outcome.backupAfter = bytesAt(files, backup);
    outcome.problems = watch.problems();

    checkResult(vendor, scenario, baseline, fault, before, writes, originals, foreign, outcome);
    checkRestoreAfter(vendor, *driver, files, backup, foreign, outcome.problems);
    return outcome;
}
