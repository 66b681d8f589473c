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

LoadedBackup BackupStore::loadBackup(const Path& path) {
    LoadedBackup result;
    if (refusing_) {
        result.outcome = LoadOutcome::unreadable;
        return result;
    }
    std::string bytes;
    switch (files_.readAll(path, bytes)) {
        case ReadOutcome::ok:
            result.outcome = LoadOutcome::loaded;
            result.map = parseBackup(bytes);
            break;
        case ReadOutcome::absent:
            result.outcome = LoadOutcome::absent;
            break;
        case ReadOutcome::failed:
            result.outcome = LoadOutcome::unreadable;
            break;
    }
    return result;
}

bool BackupStore::saveBackup(const Path& path, const BackupMap& map) {
    if (refusing_) {
        return false;
    }
    // A failed directory creation shows up when the temporary file cannot be opened.
    files_.makeDirectories(parentDirectory(path));
    const Path temporary = temporaryPathFor(path);
    std::unique_ptr<WritableFile> file = files_.openForWrite(temporary);
    if (!file && files_.query(temporary) == PathState::present && files_.removeFile(temporary)) {
        // A temporary file left by a run that died before its rename, read-only perhaps:
        // it is ours and holds nothing the backup needs, and keeping it would refuse
        // every later save until someone deleted it by hand.
        file = files_.openForWrite(temporary);
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
        files_.removeFile(temporary);
        return false;
    }
    if (files_.replace(temporary, path)) {
        return true;
    }
    // A read-only backup refuses to be replaced; the user asked us to keep it, not to
    // freeze it, so clear the mark and try once more.
    if (files_.clearReadOnly(path) && files_.replace(temporary, path)) {
        return true;
    }
    files_.removeFile(temporary);
    return false;
}

PathState BackupStore::backupExists(const Path& path) {
    return refusing_ ? PathState::unknown : files_.query(path);
}

bool BackupStore::removeBackup(const Path& path) {
    return !refusing_ && files_.removeFile(path);
}

bool BackupStore::recordOriginal(const Path& path, BackupMap& map, const std::string& key,
                                 const std::string& value) {
    if (map.count(key) != 0) {
        return true;
    }
    map.emplace(key, value);
    return saveBackup(path, map);
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
