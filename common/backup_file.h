// The backup file: the original values of changed settings, as "key=value" lines under a
// two-line header. Written only through a temporary file that then takes the backup's
// name, so the name always holds either the complete old file or the complete new one.
#pragma once

#include <chrono>
#include <cstddef>
#include <map>
#include <string>
#include <string_view>

#include "common/backup_place.h"
#include "common/file_system.h"
#include "common/path.h"

/// Key to value, both bytes; ordered byte-wise, which is also the order written.
using BackupMap = std::map<std::string, std::string>;

namespace backupkey {
constexpr std::string_view kFormat = "format";
constexpr std::string_view kVendor = "vendor";
}  // namespace backupkey

/// The largest backup file that is read. Ours hold a line per setting, a few KiB; anything
/// bigger was not written by us and is refused without being read into memory.
constexpr size_t kLargestBackup = 1024 * 1024;

/// A file operation that finds the file busy (a virus scanner or indexer holding it for a
/// moment) is tried again this many times, waiting `kBusyBackoff` times the attempt
/// number before each: 1.375 s in all at most, well inside the lock wait.
constexpr int kBusyRetries = 10;
constexpr std::chrono::milliseconds kBusyBackoff{25};

/// How loading went. `unreadable` means something stands at the path that could not be
/// read: it must be treated as holding values we cannot see, never as an empty backup.
enum class LoadOutcome { loaded, absent, unreadable };

struct LoadedBackup {
    LoadOutcome outcome = LoadOutcome::absent;
    BackupMap map;
};

/// Parses file bytes: empty lines and lines without "=" are skipped, the key runs to the
/// first "=", a CR before the LF is not part of the line, and the last line of a key wins.
BackupMap parseBackup(std::string_view bytes);

/// The file text for `map` ("\n" line breaks): the header with `vendorWord`, then every
/// entry but "format" and "vendor".
std::string formatBackup(const BackupMap& map, std::string_view vendorWord);

/// The backup operations of one program, bound to its vendor word, a file system and,
/// for the rest of the run, one backup path.
class BackupStore {
  public:
    BackupStore(FileSystem& files, std::string_view vendorWord)
        : files_(files), vendorWord_(vendorWord), place_(files) {}

    /// Walks to `path` once; every operation below then acts on that backup. False when
    /// the path cannot be used (see `BackupPlace::walk`); a store that is not bound to a
    /// path refuses everything.
    bool bind(const Path& path);

    /// The text that names the bound backup for the lock between runs, the same for every
    /// spelling of it.
    Path lockKey() { return place_.lockKey(); }

    /// False when the process is elevated and the backup or its temporary file is a link,
    /// has more than one name, or cannot be looked at: an elevated run that went through
    /// such a name could be made to touch a file its caller cannot. A run that is not
    /// elevated can reach nothing its user could not, so every path is safe.
    bool safeToUse();

    LoadedBackup loadBackup();

    /// True when the complete file now stands under the backup's name. On false the file
    /// that stood there before is still there, unchanged.
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

  private:
    /// Runs `operation` again while it reports `busy`, with the back-off above.
    template <typename Operation>
    auto retryWhileBusy(Operation operation);
    FileStatus remove(const Path& name);
    /// Removes a temporary file left by a run that died before its rename, but only once
    /// it is shown not to be a link, whose target is not ours.
    bool removeStaleTemporary();

    FileSystem& files_;
    std::string vendorWord_;
    BackupPlace place_;
    bool refusing_ = true;  // until a path is bound
};
