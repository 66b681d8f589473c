// The few file-system operations the backup file needs, behind an interface so that
// tests can fail or record any one of them. One implementation per platform.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "common/path.h"

/// What a query of a path found. `unknown` means the system could not tell (for example
/// access to a directory on the way was denied): neither absence nor presence is known.
enum class PathState { absent, present, unknown };

/// Outcome of reading a whole file: `absent` only when nothing stands at the path.
enum class ReadOutcome { ok, absent, failed };

/// A file being written. Text written here gets the platform's line breaks for "\n".
class WritableFile {
  public:
    virtual ~WritableFile() = default;
    virtual bool write(std::string_view text) = 0;
    /// Forces what was written to stable storage.
    virtual bool flush() = 0;
    virtual bool close() = 0;
};

class FileSystem {
  public:
    virtual ~FileSystem() = default;

    virtual PathState query(const Path& path) = 0;
    /// Creates `dir` and every missing directory above it; true when it now exists.
    virtual bool makeDirectories(const Path& dir) = 0;
    /// Reads the whole file as bytes, line breaks as they stand on disk.
    virtual ReadOutcome readAll(const Path& path, std::string& bytes) = 0;
    /// Creates or truncates `path` for writing; null when it cannot be opened.
    virtual std::unique_ptr<WritableFile> openForWrite(const Path& path) = 0;
    /// Renames `from` to `to` in one step, replacing a file at `to`, returning only once
    /// the move is on disk.
    virtual bool replace(const Path& from, const Path& to) = 0;
    /// Clears a read-only mark on `path`; true only when there was one and it is gone.
    virtual bool clearReadOnly(const Path& path) = 0;
    /// Deletes the file at `path`, read-only or not; true when it is gone.
    virtual bool removeFile(const Path& path) = 0;
};

/// The file system of the platform the program runs on.
FileSystem& platformFileSystem();
