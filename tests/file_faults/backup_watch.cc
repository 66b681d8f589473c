#include "tests/file_faults/backup_watch.h"

std::string contentProblem(const std::string& bytes, const std::string& fileWord,
                           bool (*ownsKey)(std::string_view), const Entries& originals,
                           const Entries& foreign) {
    const BackupText text = readBackupText(bytes);
    if (!text.problem.empty()) {
        return "not a complete backup file (" + text.problem + ")";
    }
    if (text.vendor != fileWord) {
        return "header names vendor '" + text.vendor + "'";
    }
    for (const auto& [key, value] : text.entries) {
        if (ownsKey(key)) {
            const auto original = originals.find(key);
            if (original == originals.end()) {
                return "entry " + key + " names no setting of this driver";
            }
            if (value != original->second) {
                return key + " holds '" + value + "', not the original '" + original->second + "'";
            }
        } else {
            const auto planted = foreign.find(key);
            if (planted == foreign.end() || planted->second != value) {
                return "entry " + key + "=" + value + " was never there";
            }
        }
    }
    for (const auto& [key, value] : foreign) {
        if (text.entries.count(key) == 0) {
            return "the foreign entry " + key + " was dropped";
        }
    }
    return "";
}

std::optional<std::string> bytesAt(const FakeFileSystem& files, const Path& path) {
    const auto found = files.files.find(path);
    if (found == files.files.end()) {
        return std::nullopt;
    }
    return found->second.bytes;
}

namespace {

bool holdsOwnEntry(const std::optional<std::string>& bytes, bool (*ownsKey)(std::string_view)) {
    if (!bytes) {
        return false;
    }
    for (const auto& [key, value] : readBackupText(*bytes).entries) {
        if (ownsKey(key)) {
            return true;
        }
    }
    return false;
}

}  // namespace

BackupWatch::BackupWatch(const FakeFileSystem& files, Setup setup)
    : files_(files),
      setup_(std::move(setup)),
      name_(narrowForTest(setup_.path)),
      temporary_(narrowForTest(setup_.path + L".tmp")),
      last_(bytesAt(files, setup_.path)) {}

void BackupWatch::note(const std::string& entry, const std::string& problem) {
    problems_.push_back("after operation " + std::to_string(index_) + " '" + entry +
                        "': " + problem);
}

void BackupWatch::trackTemporary(const std::string& op, const std::string& target, bool failed) {
    if (target != temporary_) {
        return;
    }
    if (op == "open") {
        tmpOpen_ = !failed;
        tmpIntact_ = true;
        tmpFlushed_ = false;
        tmpClosed_ = false;
    } else if (op == "write") {
        tmpIntact_ = tmpIntact_ && !failed && !tmpClosed_;
        tmpFlushed_ = false;
    } else if (op == "flush") {
        tmpIntact_ = tmpIntact_ && !failed;
        tmpFlushed_ = !failed;
    } else if (op == "close") {
        tmpIntact_ = tmpIntact_ && !failed;
        tmpClosed_ = true;
    } else if (op == "remove") {
        tmpOpen_ = false;
    }
}

void BackupWatch::onOperation(const std::string& entry) {
    ++index_;
    const size_t space = entry.find(' ');
    const std::string op = entry.substr(0, space);
    const std::string target = space == std::string::npos ? "" : entry.substr(space + 1);
    const bool failed = setup_.fails(index_ - 1, op);
    trackTemporary(op, target, failed);

    const std::optional<std::string> now = bytesAt(files_, setup_.path);
    if (now != last_) {
        checkChange(entry, now);
        last_ = now;
    }
}

void BackupWatch::checkChange(const std::string& entry, const std::optional<std::string>& now) {
    const bool replaced = entry == "replace " + temporary_ + " " + name_;
    const bool removed = entry == "remove " + name_;
    if (!replaced && !removed) {
        note(entry, "the backup changed other than by taking a new file's name or by removal");
    }
    if (replaced && !(tmpOpen_ && tmpIntact_ && tmpFlushed_)) {
        note(entry, "a file not completely written and forced to disk took the backup's name");
    }
    if (!now) {
        if (!setup_.restoring) {
            note(entry, "apply left no backup where one stood");
            return;
        }
        if (!setup_.foreign.empty()) {
            note(entry, "the backup was removed with another program's entries in it");
        }
        const std::string difference = setup_.driverDifference();
        if (!difference.empty()) {
            note(entry, "the backup was removed before the driver was back: " + difference);
        }
        return;
    }
    const std::string problem =
        contentProblem(*now, setup_.fileWord, setup_.ownsKey, setup_.originals, setup_.foreign);
    if (!problem.empty()) {
        note(entry, problem);
        return;
    }
    const Entries before = last_ ? readBackupText(*last_).entries : Entries{};
    const Entries after = readBackupText(*now).entries;
    if (!setup_.restoring) {
        for (const auto& [key, value] : before) {
            const auto kept = after.find(key);
            if (kept == after.end() || kept->second != value) {
                note(entry, "apply dropped or altered the recorded " + key);
                return;
            }
        }
        return;
    }
    if (holdsOwnEntry(now, setup_.ownsKey)) {
        note(entry, "restore rewrote the backup with its own entries still in it");
    }
    const std::string difference = setup_.driverDifference();
    if (holdsOwnEntry(last_, setup_.ownsKey) && !difference.empty()) {
        note(entry, "restore gave up its entries before the driver was back: " + difference);
    }
}
