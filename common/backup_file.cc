#include "common/backup_file.h"

#include "common/backup_path.h"

BackupMap parseBackup(std::string_view bytes) {
    BackupMap map;
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

FileStatus BackupStore::remove(const Path& path) {
    return retryWhileBusy([&] { return files_.removeFile(path); });
}

bool BackupStore::safeToUse(const Path& path) {
    if (!files_.elevated()) {
        return true;
    }
    const Path full = files_.fullPath(path);
    if (full.empty()) {
        return false;
    }
    // The volume's root is left out: it is where the path starts, and some systems
    // (Wine's drive letters among them) make the root itself a link.
    for (const Path& folder : directoryChain(parentDirectory(full))) {
        const NameInfo info = files_.inspect(folder);
        if (info.state == PathState::absent) {
            break;  // nothing further down exists either; a save makes it, checking each
        }
        if (info.state == PathState::unknown || info.link) {
            return false;
        }
    }
    for (const Path& name : {full, temporaryPathFor(full)}) {
        const NameInfo info = files_.inspect(name);
        if (info.state == PathState::unknown ||
            (info.state == PathState::present && (info.link || info.names > 1))) {
            return false;
        }
    }
    return true;
}

LoadedBackup BackupStore::loadBackup(const Path& path) {
    LoadedBackup result;
    if (refusing_) {
        result.outcome = LoadOutcome::unreadable;
        return result;
    }
    std::string bytes;
    switch (retryWhileBusy([&] { return files_.readAll(path, bytes, kLargestBackup); })) {
        case ReadOutcome::ok:
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

bool BackupStore::removeStaleTemporary(const Path& temporary) {
    const NameInfo info = files_.inspect(temporary);
    return info.state == PathState::present && !info.link && remove(temporary) == FileStatus::ok;
}

bool BackupStore::saveBackup(const Path& path, const BackupMap& map) {
    if (refusing_) {
        return false;
    }
    // A failed directory creation shows up when the temporary file cannot be made.
    files_.makeDirectories(parentDirectory(path));
    const Path temporary = temporaryPathFor(path);
    // Made new, never opened over something that stands there: that could be a link to a
    // file that is not ours.
    std::unique_ptr<WritableFile> file = files_.createNew(temporary);
    if (!file && removeStaleTemporary(temporary)) {
        // A temporary file left by a run that died before its rename, read-only perhaps:
        // it is ours and holds nothing the backup needs, and keeping it would refuse
        // every later save until someone deleted it by hand.
        file = files_.createNew(temporary);
    }
    if (!file) {
        return false;
    }
    bool written = file->write(formatBackup(map, vendorWord_));
    // The new content must be on disk before it takes the backup's name; otherwise a
    // crash right after the rename could leave an empty file where the backup stood.
    written = written && file->flush();
    written = file->close() && written;
    file.reset();
    if (!written) {
        remove(temporary);
        return false;
    }
    const auto replaceBackup = [&] {
        return retryWhileBusy([&] { return files_.replace(temporary, path); });
    };
    if (replaceBackup() == FileStatus::ok) {
        return true;
    }
    // A read-only backup refuses to be replaced; the user asked us to keep it, not to
    // freeze it, so clear the mark and try once more.
    if (files_.clearReadOnly(path) && replaceBackup() == FileStatus::ok) {
        return true;
    }
    remove(temporary);
    return false;
}

PathState BackupStore::backupExists(const Path& path) {
    return refusing_ ? PathState::unknown : files_.query(path);
}

bool BackupStore::removeBackup(const Path& path) {
    return !refusing_ && remove(path) == FileStatus::ok;
}

bool BackupStore::retireBackup(const Path& path, const BackupMap& map,
                               bool (*ownsKey)(std::string_view key)) {
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
        return removeBackup(path);
    }
    return !holdsOurs || saveBackup(path, others);
}
