// The backup file: the original values of changed settings, as "key=value" lines under a
// two-line header. Written only through a temporary file that then takes the backup's
// name, so the name always holds either the complete old file or the complete new one.
#pragma once

#include <chrono>
#include <cstddef>
#include <map>
#include <string>
#include <string_view>

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

/// The backup operations of one program, bound to its vendor word and a file system.
class BackupStore {
  public:
    BackupStore(FileSystem& files, std::string_view vendorWord)
        : files_(files), vendorWord_(vendorWord) {}

    /// False when the process is elevated and the backup, its temporary file or an
    /// existing folder on the way to them is a link, or the backup or its temporary file
    /// has more than one name, or any of these cannot be looked at: an elevated run that
    /// went through such a name could be made to touch a file its caller cannot. A run
    /// that is not elevated can reach nothing its user could not, so every path is safe.
    bool safeToUse(const Path& path);

    LoadedBackup loadBackup(const Path& path);

    /// True when the complete file now stands under `path`. On false the file that stood
    /// there before is still there, unchanged.
    bool saveBackup(const Path& path, const BackupMap& map);

    PathState backupExists(const Path& path);

    /// True when no file stands at `path` any more.
    bool removeBackup(const Path& path);

    /// After a complete restore: the entries `ownsKey` accepts have done their work, the
    /// others (another tool's, unknown ones) are not ours to throw away. Deletes the file
    /// when nothing else is in it, rewrites it with the others alone when it held entries of
    /// ours too, and leaves it as it stands otherwise. True when no entry of ours is left on
    /// disk; on false a later apply would take the stale entries for originals.
    bool retireBackup(const Path& path, const BackupMap& map,
                      bool (*ownsKey)(std::string_view key));

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
    FileStatus remove(const Path& path);
    /// Removes a temporary file left by a run that died before its rename, but only once
    /// it is shown not to be a link, whose target is not ours.
    bool removeStaleTemporary(const Path& temporary);

    FileSystem& files_;
    std::string vendorWord_;
    bool refusing_ = false;
};
