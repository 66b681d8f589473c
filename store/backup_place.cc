#include "store/backup_place.h"

#include "store/backup_path.h"
#include "store/busy_retry.h"
#include "store/system_codes.h"

namespace {

/// No system call refused this: the path itself cannot be used.
FileStatus unusablePath(const Path& path) {
    return fileFailure(FileOutcome::failed, "name check", win32Code(win32error::kInvalidName),
                       path);
}

}  // namespace

FileStatus BackupPlace::walk(const Path& path) {
    walked_ = false;
    held_.clear();
    made_.clear();
    missing_.clear();
    key_ = LockKey();
    const BackupRoute route = routeOf(path, isLiteralPath(path) ? Path() : files_.fullPath(path));
    kind_ = route.kind;
    endsWithSeparator_ = route.endsWithSeparator;
    if (route.kind == RouteKind::invalid || route.kind == RouteKind::noFile ||
        (route.kind == RouteKind::foreign && files_.elevated())) {
        return unusablePath(path);
    }
    Opened<Folder> root = retryWhileBusy(files_, [&] { return files_.openRoot(route.root); });
    if (!root.status.ok()) {
        return root.status;
    }
    held_.push_back(std::move(root.object));
    missing_ = route.folders;
    givenLeaf_ = route.leaf;
    if (FileStatus walked = walkOn(); !walked.ok()) {
        return walked;
    }
    walked_ = true;
    nameTheLeaf();
    return fileOk();
}

FileStatus BackupPlace::walkOn() {
    while (!missing_.empty()) {
        Opened<Folder> next =
            retryWhileBusy(files_, [&] { return held_.back()->openFolder(missing_.front()); });
        if (next.status.outcome == FileOutcome::absent) {
            break;
        }
        if (!next.status.ok()) {
            return next.status;
        }
        held_.push_back(std::move(next.object));
        missing_.erase(missing_.begin());
    }
    return fileOk();
}

void BackupPlace::nameTheLeaf() {
    leaf_ = missing_.empty() ? folder().nameOnDisk(givenLeaf_) : givenLeaf_;
    temporary_ = temporaryNameFor(leaf_);
}

FileStatus BackupPlace::refresh() {
    if (!walked_) {
        return fileFailure(FileOutcome::failed, "", SystemCode{}, Path());
    }
    const size_t missing = missing_.size();
    const Name leaf = leaf_;
    if (FileStatus walked = walkOn(); !walked.ok()) {
        walked_ = false;
        return walked;
    }
    nameTheLeaf();
    if (missing_.size() != missing || leaf_ != leaf) {
        key_ = LockKey();
    }
    return fileOk();
}

FileStatus BackupPlace::makeFolders() {
    if (!walked_) {
        return fileFailure(FileOutcome::failed, "", SystemCode{}, Path());
    }
    while (!missing_.empty()) {
        bool made = false;
        Opened<Folder> next = retryWhileBusy(
            files_, [&] { return held_.back()->makeFolder(missing_.front(), made); });
        if (!next.status.ok()) {
            return next.status;
        }
        // Made by someone else meanwhile: not ours to take back, nor anything above it.
        if (!made) {
            made_.clear();
        } else {
            made_.push_back(missing_.front());
        }
        held_.push_back(std::move(next.object));
        missing_.erase(missing_.begin());
    }
    return fileOk();
}

void BackupPlace::takeBackFolders() {
    // Each removal needs the folders inside it gone first; an entry someone put in one
    // keeps it, and with it every folder above.
    while (!made_.empty()) {
        if (!held_.back()->removeIfEmpty().ok()) {
            return;
        }
        held_.pop_back();
        // Missing again, to be made anew should the run save once more.
        missing_.insert(missing_.begin(), std::move(made_.back()));
        made_.pop_back();
    }
}

LockKey BackupPlace::lockKey() {
    if (key_.empty()) {
        std::vector<Name> below = missing_;
        below.push_back(leaf_);
        key_ = folder().placeKey(below);
    }
    return key_;
}
