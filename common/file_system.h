// The few file-system operations the backup file needs, behind an interface so that
// tests can fail or record any one of them. One implementation per platform.
#pragma once

#include <chrono>
#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

#include "common/path.h"

/// What a query of a path found. `unknown` means the system could not tell (for example
/// access to a directory on the way was denied, a network share did not answer, or the
/// drive letter has no volume behind it): neither absence nor presence is known.
enum class PathState { absent, present, unknown };

/// Outcome of reading a whole file: `absent` only when nothing stands at the path; `busy`
/// when another program holds or locks the file for the moment (virus scanners, indexers).
enum class ReadOutcome { ok, absent, failed, busy };

/// Outcome of an operation that changes a name: `busy` as for reading.
enum class FileStatus { ok, failed, busy };

/// What stands at a name, looked at without going through a link there.
struct NameInfo {
    PathState state = PathState::absent;
    /// A symbolic link, a junction or another reparse point that stands for another name,
    /// or a name the system resolves to another place than its own folder and leaf.
    bool link = false;
    /// How many names (hard links) the file has.
    unsigned names = 1;
};

/// A file being written. Text written here gets the platform's line breaks for "\n".
class WritableFile {
  public:
    virtual ~WritableFile() = default;
    virtual bool write(std::string_view text) = 0;
    /// Forces what was written to stable storage.
    virtual bool flush() = 0;
    virtual bool close() = 0;
};

/// When the process is elevated, every operation below that opens, changes or removes a
/// file refuses (fails) where the name turns out to be a link or a file with several
/// names, checked on the handle it then uses; an elevated run must never be steered by a
/// name that someone else planted.
class FileSystem {
  public:
    virtual ~FileSystem() = default;

    /// Whether the process runs with administrator rights.
    virtual bool elevated() = 0;
    /// The absolute form of `path` (relative to the working directory, "." and ".."
    /// resolved); empty when the system cannot make one.
    virtual Path fullPath(const Path& path) = 0;
    virtual NameInfo inspect(const Path& path) = 0;
    virtual PathState query(const Path& path) = 0;
    /// Creates `dir` and every missing directory above it; true when it now exists.
    virtual bool makeDirectories(const Path& dir) = 0;
    /// Reads the whole file as bytes, line breaks as they stand on disk. A file larger
    /// than `limit` bytes fails without being read into memory.
    virtual ReadOutcome readAll(const Path& path, std::string& bytes, size_t limit) = 0;
    /// Creates `path` as a new, empty file for writing; null when anything stands there
    /// already or it cannot be made.
    virtual std::unique_ptr<WritableFile> createNew(const Path& path) = 0;
    /// Renames `from` to `to`, its neighbour in the same folder, in one step, replacing a
    /// file at `to`, returning only once the move is on disk.
    virtual FileStatus replace(const Path& from, const Path& to) = 0;
    /// Clears a read-only mark on `path`; true only when there was one and it is gone.
    virtual bool clearReadOnly(const Path& path) = 0;
    /// Deletes the file at `path`, read-only or not; `ok` when it is gone.
    virtual FileStatus removeFile(const Path& path) = 0;
    /// Waits before an operation that found the file busy is tried again.
    virtual void pause(std::chrono::milliseconds wait) = 0;
};

/// The file system of the platform the program runs on.
FileSystem& platformFileSystem();
