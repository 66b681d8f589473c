// The backup operations of one program: bound to one backup path for the run, they load
// the file, save it through a temporary file that then takes the backup's name (so the
// name always holds either the complete old file or the complete new one), test whether it
// exists, and give it up after a complete restore.
#pragma once

#include <string_view>
#include <vector>

#include "store/backup_file.h"
#include "store/backup_place.h"
#include "store/failure_log.h"
#include "store/file_system.h"
#include "store/path.h"

/// How loading went. `unreadable` means something stands at the path that could not be
/// read: it must be treated as holding values we cannot see, never as an empty backup.
enum class LoadOutcome { loaded, absent, unreadable };

struct LoadedBackup {
    LoadOutcome outcome = LoadOutcome::absent;
    BackupMap map;
};

namespace backupstep {
constexpr std::string_view kWalking = "walking to the backup";
constexpr std::string_view kLooking = "looking at the backup";
constexpr std::string_view kReading = "reading the backup";
constexpr std::string_view kMakingFolder = "making folder";
constexpr std::string_view kSaving = "saving the backup";
constexpr std::string_view kRemovingTemporary = "removing a stale temporary file";
constexpr std::string_view kRemoving = "removing the backup";
}  // namespace backupstep

/// What a run binds the store for: a restore reads and gives up a backup that stands
/// there; an apply may also make one.
enum class BackupUse { restore, apply };

class BackupStore {
  public:
    BackupStore(FileSystem& files, std::string_view vendorWord)
        : files_(files), vendorWord_(vendorWord), place_(files) {}

    /// Walks to `path`; every operation below then acts on that backup. False when the path
    /// cannot be used (see `BackupPlace::walk`), or when an apply would make a backup where
    /// none should stand: under a name no file can have, or at a path that ends in a
    /// separator. A store that is not bound to a path refuses everything; one bound to a
    /// name no file can have still answers that no backup exists there.
    bool bind(const Path& path, BackupUse use = BackupUse::apply);
    /// Once the lock is held: looks again at what stands on the way to the bound backup,
    /// where another run may have made folders or the backup since the walk. False when
    /// the path cannot be used any more.
    bool refresh();

    /// The text that names the bound backup for the lock between runs, the same for every
    /// spelling of it.
    LockKey lockKey() { return place_.lockKey(); }

    /// False when the process is elevated and the backup or its temporary file is a link,
    /// has more than one name, or cannot be looked at: an elevated run that went through
    /// such a name could be made to touch a file its caller cannot. A run that is not
    /// elevated can reach nothing its user could not, so every path is safe.
    bool safeToUse();

    LoadedBackup loadBackup();

    /// True when the complete file now stands under the backup's name, on disk. On false
    /// the name holds what it held before, or the new file complete, and the folders the
    /// save made, when nothing else came to stand in them, are gone again.
    bool saveBackup(const BackupMap& map);

    PathState backupExists();

    /// True when no file stands at the backup's name any more.
    bool removeBackup();

    /// After a complete restore: the entries `ownsKey` accepts have done their work, the
    /// others (another tool's, unknown ones) are not ours to throw away. Deletes the file
    /// when nothing else is in it, rewrites it with the others alone when it held entries of
    /// ours too, and leaves it as it stands otherwise. True when no entry of ours is left on
    /// disk; on false a later apply would take the stale entries for originals.
    bool retireBackup(const BackupMap& map, bool (*ownsKey)(std::string_view key));

    /// From now on the store touches no file and answers as a backup that can be neither
    /// seen nor written: loading finds it unreadable, its existence is unknown, saving and
    /// removing fail. For a run that could not have the backup path to itself: every
    /// backend then changes nothing and reports that the backup could not be used.
    void refuseAll() { refusing_ = true; }
    bool refusing() const { return refusing_; }

    /// Where the store keeps every failure it meets, with the step it was in: the run's
    /// own log from now on, or one of the store's own until told.
    void reportTo(FailureLog& log) { log_ = &log; }
    const FailureLog& failures() const { return *log_; }

  private:
    /// Notes `status` under `step` when it is a failure; true when it is not.
    bool noted(std::string_view step, FileStatus status) {
        return log_->note(step, std::move(status));
    }
    FileStatus remove(const Name& name);
    /// Writes `text` to a new temporary file and gives it the backup's name.
    bool writeAndReplace(const std::string& text);
    /// Removes a temporary file left by a run that died before its rename, but only once
    /// it is shown not to be a link, whose target is not ours.
    bool removeStaleTemporary();

    FileSystem& files_;
    std::string vendorWord_;
    BackupPlace place_;
    Path path_;
    bool refusing_ = true;  // until a path is bound
    /// Bound to a name no file can have: nothing stands there, nor ever did.
    bool nameless_ = false;
    FailureLog ownLog_;
    FailureLog* log_ = &ownLog_;
};
