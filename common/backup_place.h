// Where the backup lives for one run: the folders on the way to it, walked once from the
// root, each opened inside the one above and held until the run ends. Every later
// operation on the backup acts inside the last of them, so nothing that is renamed,
// swapped for a link or made on the way after the walk can redirect it.
#pragma once

#include <memory>
#include <vector>

#include "common/file_system.h"
#include "common/path.h"

class BackupPlace {
  public:
    explicit BackupPlace(FileSystem& files) : files_(files) {}

    /// Walks to the folder of `path`: opens its root and every folder on the way that
    /// exists. False when the path cannot be used: no file can have that name, the system
    /// could not tell what stands on the way, or an elevated run found there a link, a
    /// folder it cannot hold, or a root it does not understand. Lets go of what an earlier
    /// walk held.
    bool walk(const Path& path);

    /// Whether every folder on the way stood there at the walk, or has been made since.
    bool reached() const { return walked_ && missing_.empty(); }
    /// Makes the folders that were missing, each inside the one above it and checked
    /// before the next is made; true when the backup's folder is now held.
    bool makeFolders();

    /// The backup's folder; only once `reached`.
    Folder& folder() { return *held_.back(); }
    /// The backup's name in its folder, as the folder lists it when it is there.
    const Path& leaf() const { return leaf_; }
    const Path& temporary() const { return temporary_; }

    /// The same text for every spelling of this backup path, from what the walk found.
    Path lockKey();

  private:
    FileSystem& files_;
    bool walked_ = false;
    std::vector<std::unique_ptr<Folder>> held_;
    /// The folders on the way that did not exist at the walk, outermost first.
    std::vector<Path> missing_;
    Path leaf_;
    Path temporary_;
};
