// Where the backup lives for one run: the folders on the way to it, walked from the root,
// each opened inside the one above and held until the run ends. Every later operation on
// the backup acts inside the last of them, so nothing that is renamed, swapped for a link
// or made on the way after the walk can redirect it.
#pragma once

#include <memory>
#include <vector>

#include "store/backup_path.h"
#include "store/file_system.h"
#include "store/path.h"

class BackupPlace {
  public:
    explicit BackupPlace(FileSystem& files) : files_(files) {}

    /// Walks to the folder of `path`: opens its root and every folder on the way that
    /// exists. Fails when the path cannot be used: no file can have that name, the system
    /// could not tell what stands on the way, or an elevated run found there a link, a
    /// folder it cannot hold, or a root it does not understand. Lets go of what an earlier
    /// walk held.
    FileStatus walk(const Path& path);
    /// Walks on through the folders that were missing, and looks the backup's name up
    /// again: another run may have made them, or the backup, since the walk. What the
    /// backup's lock was taken for must be judged by what stands there once it is held.
    FileStatus refresh();

    /// What the path turned out to be at the last walk.
    RouteKind kind() const { return kind_; }
    /// Whether the path ends in a separator: it names the folder, not a file in it.
    bool endsWithSeparator() const { return endsWithSeparator_; }

    /// Whether every folder on the way stood there at the walk, or has been made since.
    bool reached() const { return walked_ && missing_.empty(); }
    /// Makes the folders that were missing, each inside the one above it and checked
    /// before the next is made; ok when the backup's folder is now held.
    FileStatus makeFolders();
    /// Takes back the folders `makeFolders` made, newest first, each only while nothing
    /// stands in it: a save that failed leaves the path as it found it.
    void takeBackFolders();

    /// The backup's folder; only once `reached`.
    Folder& folder() { return *held_.back(); }
    /// The backup's name in its folder, as the folder lists it when it is there.
    const Name& leaf() const { return leaf_; }
    const Name& temporary() const { return temporary_; }

    /// The same text for every spelling of this backup path, from what the walk found;
    /// asked of the system again only when a refresh found more than the walk had.
    LockKey lockKey();

  private:
    /// Opens the missing folders that stand there by now, outermost first.
    FileStatus walkOn();
    void nameTheLeaf();

    FileSystem& files_;
    RouteKind kind_ = RouteKind::invalid;
    bool endsWithSeparator_ = false;
    bool walked_ = false;
    std::vector<std::unique_ptr<Folder>> held_;
    /// The names of the folders at the back of `held_` that this run made, outermost first.
    std::vector<Name> made_;
    /// The folders on the way that did not exist at the walk, outermost first.
    std::vector<Name> missing_;
    Name givenLeaf_;
    Name leaf_;
    Name temporary_;
    /// `lockKey` as last asked, while nothing on the way changed.
    LockKey key_;
};
