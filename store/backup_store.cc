#include "store/backup_store.h"

#include "store/busy_retry.h"
#include "store/system_codes.h"

FileStatus BackupStore::remove(const Name& name) {
    return retryWhileBusy(files_, [&] { return place_.folder().removeFile(name); });
}

bool BackupStore::bind(const Path& path, BackupUse use) {
    path_ = path;
    refusing_ = !noted(backupstep::kWalking, place_.walk(path));
    nameless_ = place_.kind() == RouteKind::noFile;
    if (!refusing_ && use == BackupUse::apply && place_.endsWithSeparator()) {
        // A folder's name: a backup made under it would turn the folder the caller meant
        // into a file. A restore still reads one an earlier version made there.
        refusing_ =
            !noted(backupstep::kWalking, fileFailure(FileOutcome::failed, "name check",
                                                     win32Code(win32error::kDirectory), path));
    }
    return !refusing_;
}

bool BackupStore::refresh() {
    if (!refusing_) {
        refusing_ = !noted(backupstep::kWalking, place_.refresh());
    }
    return !refusing_;
}

bool BackupStore::safeToUse() {
    if (refusing_ || !files_.elevated() || !place_.reached()) {
        return !refusing_;  // a folder that is missing holds nothing yet; a save makes it
    }
    for (const Name& name : {place_.leaf(), place_.temporary()}) {
        NameInfo info = place_.folder().inspect(name);
        if (info.state == PathState::unknown) {
            return noted(backupstep::kLooking, std::move(info.why));
        }
        if (info.state == PathState::present && (info.link || info.names > 1)) {
            return noted(backupstep::kLooking,
                         fileFailure(FileOutcome::failed, "link check",
                                     info.link ? ntCode(ntstatus::kReparsePointEncountered)
                                               : ntCode(ntstatus::kTooManyLinks),
                                     place_.folder().shown(name)));
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
    FileStatus read = retryWhileBusy(
        files_, [&] { return place_.folder().readAll(place_.leaf(), bytes, kLargestBackup); });
    if (read.outcome == FileOutcome::absent) {
        result.outcome = LoadOutcome::absent;
    } else if (!noted(backupstep::kReading, std::move(read))) {
        result.outcome = LoadOutcome::unreadable;
    } else if (!isBackupText(bytes)) {
        // Somebody else's file: left alone, and never taken for originals.
        noted(backupstep::kReading, fileFailure(FileOutcome::failed, "format check",
                                                win32Code(win32error::kInvalidData), path_));
        result.outcome = LoadOutcome::unreadable;
    } else {
        result.outcome = LoadOutcome::loaded;
        result.map = parseBackup(bytes);
    }
    return result;
}

bool BackupStore::removeStaleTemporary() {
    const NameInfo info = place_.folder().inspect(place_.temporary());
    return info.state == PathState::present && !info.link &&
           noted(backupstep::kRemovingTemporary, remove(place_.temporary()));
}

bool BackupStore::saveBackup(const BackupMap& map) {
    if (refusing_) {
        return false;
    }
    const std::string text = formatBackup(map, vendorWord_);
    // A file that could not be read back would lose every original in it.
    if (sizeOnDisk(text) > kLargestBackup) {
        return noted(backupstep::kSaving, fileFailure(FileOutcome::failed, "size check",
                                                      ntCode(ntstatus::kFileTooLarge), path_));
    }
    const bool saved =
        noted(backupstep::kMakingFolder, place_.makeFolders()) && writeAndReplace(text);
    if (!saved) {
        place_.takeBackFolders();
    }
    return saved;
}

bool BackupStore::writeAndReplace(const std::string& text) {
    Folder& folder = place_.folder();
    const Name& temporary = place_.temporary();
    // Made new, never opened over something that stands there: that could be a link to a
    // file that is not ours.
    Opened<WritableFile> made = folder.createNew(temporary);
    if (!made.object && removeStaleTemporary()) {
        // A temporary file left by a run that died before its rename, read-only perhaps:
        // it is ours and holds nothing the backup needs, and keeping it would refuse
        // every later save until someone deleted it by hand.
        made = folder.createNew(temporary);
    }
    if (!noted(backupstep::kSaving, std::move(made.status))) {
        return false;
    }
    WritableFile& file = *made.object;
    // The new content must be on disk before it takes the backup's name; otherwise a
    // crash right after the rename could leave an empty file where the backup stood. The
    // file is checked as soon as it is made and again just before it takes the name.
    FileStatus status = file.verify();
    if (status.ok()) {
        status = file.write(text);
    }
    if (status.ok()) {
        status = file.flush();
    }
    if (status.ok()) {
        status = file.verify();
    }
    if (status.ok()) {
        status = retryWhileBusy(files_, [&] { return file.replace(place_.leaf()); });
    }
    const bool saved = noted(backupstep::kSaving, std::move(status));
    if (!saved) {
        file.discard();  // keeps a file that took the backup's name: it holds what is needed
    }
    // Once the file holds the backup's name, written and on disk, closing it can undo
    // nothing.
    file.close();
    return saved;
}

PathState BackupStore::backupExists() {
    if (nameless_) {
        return PathState::absent;
    }
    if (refusing_) {
        return PathState::unknown;
    }
    if (!place_.reached()) {
        return PathState::absent;
    }
    NameInfo info = place_.folder().inspect(place_.leaf());
    if (info.state == PathState::unknown) {
        noted(backupstep::kLooking, std::move(info.why));
    }
    return info.state;
}

bool BackupStore::removeBackup() {
    return !refusing_ && (!place_.reached() || noted(backupstep::kRemoving, remove(place_.leaf())));
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
