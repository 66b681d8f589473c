#include "common/backup_file.h"

#include <algorithm>

namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
constexpr std::string_view kFormatLine = "format=1";

std::string_view withoutByteOrderMark(std::string_view bytes) {
    if (bytes.substr(0, kByteOrderMark.size()) == kByteOrderMark) {
        bytes.remove_prefix(kByteOrderMark.size());
    }
    return bytes;
}

/// The size of `text` on disk, where each "\n" is written as CR LF.
size_t sizeOnDisk(std::string_view text) {
    return text.size() + static_cast<size_t>(std::count(text.begin(), text.end(), '\n'));
}

}  // namespace

bool isBackupText(std::string_view bytes) {
    if (bytes.empty()) {
        return true;
    }
    const std::string_view text = withoutByteOrderMark(bytes);
    if (text.substr(0, kFormatLine.size()) != kFormatLine) {
        return false;
    }
    const std::string_view rest = text.substr(kFormatLine.size());
    return rest.empty() || rest[0] == '\n' || rest.substr(0, 2) == "\r\n";
}

BackupMap parseBackup(std::string_view bytes) {
    BackupMap map;
    bytes = withoutByteOrderMark(bytes);
    size_t start = 0;
    while (start < bytes.size()) {
        size_t end = bytes.find('\n', start);
        size_t next = end == std::string_view::npos ? bytes.size() : end + 1;
        std::string_view line =
            bytes.substr(start, (end == std::string_view::npos ? bytes.size() : end) - start);
        if (end != std::string_view::npos && !line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        start = next;
        size_t eq = line.find('=');
        if (line.empty() || eq == std::string_view::npos) {
            continue;
        }
        map[std::string(line.substr(0, eq))] = std::string(line.substr(eq + 1));
    }
    return map;
}

std::string formatBackup(const BackupMap& map, std::string_view vendorWord) {
    std::string text = "format=1\nvendor=";
    text.append(vendorWord).append("\n");
    for (const auto& [key, value] : map) {
        if (key == backupkey::kFormat || key == backupkey::kVendor) {
            continue;
        }
        text.append(key).append("=").append(value).append("\n");
    }
    return text;
}

template <typename Operation>
auto BackupStore::retryWhileBusy(Operation operation) {
    for (int attempt = 1;; ++attempt) {
        const auto outcome = operation();
        if (outcome != decltype(outcome)::busy || attempt > kBusyRetries) {
            return outcome;
        }
        files_.pause(kBusyBackoff * attempt);
    }
}

FileStatus BackupStore::remove(const Path& name) {
    return retryWhileBusy([&] { return files_.removeFile(place_.folder(), name); });
}

bool BackupStore::bind(const Path& path) {
    refusing_ = !place_.walk(path);
    return !refusing_;
}

bool BackupStore::safeToUse() {
    if (refusing_ || !files_.elevated() || !place_.reached()) {
        return !refusing_;  // a folder that is missing holds nothing yet; a save makes it
    }
    for (const Path& name : {place_.leaf(), place_.temporary()}) {
        const NameInfo info = files_.inspect(place_.folder(), name);
        if (info.state == PathState::unknown ||
            (info.state == PathState::present && (info.link || info.names > 1))) {
            return false;
        }
    }
    return true;
}

LoadedBackup BackupStore::loadBackup() {
    LoadedBackup result;
    if (refusing_) {
        result.outcome = LoadOutcome::unreadable;
        return result;
    }
    if (!place_.reached()) {
        return result;  // a folder on the way is missing: so is the backup
    }
    std::string bytes;
    switch (retryWhileBusy(
        [&] { return files_.readAll(place_.folder(), place_.leaf(), bytes, kLargestBackup); })) {
        case ReadOutcome::ok:
            if (!isBackupText(bytes)) {
                result.outcome = LoadOutcome::unreadable;  // somebody else's: left alone
                break;
            }
            result.outcome = LoadOutcome::loaded;
            result.map = parseBackup(bytes);
            break;
        case ReadOutcome::absent:
            result.outcome = LoadOutcome::absent;
            break;
        case ReadOutcome::failed:
        case ReadOutcome::busy:
            result.outcome = LoadOutcome::unreadable;
            break;
    }
    return result;
}

bool BackupStore::removeStaleTemporary() {
    const NameInfo info = files_.inspect(place_.folder(), place_.temporary());
    return info.state == PathState::present && !info.link &&
           remove(place_.temporary()) == FileStatus::ok;
}

bool BackupStore::saveBackup(const BackupMap& map) {
    const std::string text = formatBackup(map, vendorWord_);
    // A file that could not be read back would lose every original in it.
    if (refusing_ || sizeOnDisk(text) > kLargestBackup || !place_.makeFolders()) {
        return false;
    }
    Folder& folder = place_.folder();
    const Path& temporary = place_.temporary();
    // Made new, never opened over something that stands there: that could be a link to a
    // file that is not ours.
    std::unique_ptr<WritableFile> file = files_.createNew(folder, temporary);
    if (!file && removeStaleTemporary()) {
        // A temporary file left by a run that died before its rename, read-only perhaps:
        // it is ours and holds nothing the backup needs, and keeping it would refuse
        // every later save until someone deleted it by hand.
        file = files_.createNew(folder, temporary);
    }
    if (!file) {
        return false;
    }
    const auto replaceBackup = [&] {
        return retryWhileBusy([&] { return files_.replace(folder, *file, place_.leaf()); }) ==
               FileStatus::ok;
    };
    const auto takeBackupName = [&] {
        if (replaceBackup()) {
            return true;
        }
        // A read-only backup refuses to be replaced; the user asked us to keep it, not to
        // freeze it, so clear the mark and try once more. If that fails too, the mark goes
        // back on: the file stays exactly as it was.
        if (!files_.clearReadOnly(folder, place_.leaf())) {
            return false;
        }
        if (replaceBackup()) {
            return true;
        }
        files_.restoreReadOnly(folder, place_.leaf());
        return false;
    };
    // The new content must be on disk before it takes the backup's name; otherwise a
    // crash right after the rename could leave an empty file where the backup stood.
    const bool saved = file->write(text) && file->flush() && takeBackupName();
    // Once the file holds the backup's name, written and on disk, closing it can undo
    // nothing; before that, it must be closed before it can be deleted.
    file->close();
    file.reset();
    if (!saved) {
        remove(temporary);
    }
    return saved;
}

PathState BackupStore::backupExists() {
    if (refusing_) {
        return PathState::unknown;
    }
    return place_.reached() ? files_.inspect(place_.folder(), place_.leaf()).state
                            : PathState::absent;
}

bool BackupStore::removeBackup() {
    return !refusing_ && (!place_.reached() || remove(place_.leaf()) == FileStatus::ok);
}

bool BackupStore::retireBackup(const BackupMap& map, bool (*ownsKey)(std::string_view key)) {
    BackupMap others;
    bool holdsOurs = false;
    for (const auto& [key, value] : map) {
        if (key == backupkey::kFormat || key == backupkey::kVendor) {
            continue;
        }
        if (ownsKey(key)) {
            holdsOurs = true;
        } else {
            others.emplace(key, value);
        }
    }
    if (others.empty()) {
        return removeBackup();
    }
    return !holdsOurs || saveBackup(others);
}
