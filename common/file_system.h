// The few file-system operations the backup file needs, behind an interface so that
// tests can fail or record any one of them. One implementation per platform.
//
// Everything works on folders held open: a root is opened by its name, each folder below
// it relative to the folder above, and every file inside relative to its folder. A name
// that was checked and is then opened again by its whole path proves nothing; a handle
// that was checked and kept does.
#pragma once

#include <chrono>
#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

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

/// A folder held open for the rest of the run; what the operations below act in.
class Folder {
  public:
    virtual ~Folder() = default;
};

/// A folder that was opened, or why not: `absent` when nothing stands at the name (or it
/// is no folder); `unknown` when the system could not tell, or when an elevated process
/// refused what it found there.
struct OpenedFolder {
    PathState state = PathState::unknown;
    std::unique_ptr<Folder> folder;
};

/// When the process is elevated, every operation below refuses (fails, or reports
/// `unknown`) where a name turns out to be a link or a file with several names, checked on
/// the handle it then uses, and a folder is opened only when it can be held, undeletable,
/// for the rest of the run: an elevated run must never be steered by a name that someone
/// else planted, before the run or during it.
class FileSystem {
  public:
    virtual ~FileSystem() = default;

    /// Whether the process runs with administrator rights.
    virtual bool elevated() = 0;
    /// The absolute form of `path` (relative to the working directory, "." and ".."
    /// resolved, "/" turned into "\"); empty when the system cannot make one.
    virtual Path fullPath(const Path& path) = 0;

    /// Opens the folder a walk starts from, by its whole name in the system's form. A
    /// failure is `unknown`: a volume or share that cannot be opened may hold anything.
    virtual OpenedFolder openRoot(const Path& root) = 0;
    /// Opens the folder `name` inside `parent`, or with `create` makes it first when it is
    /// missing.
    virtual OpenedFolder openFolder(Folder& parent, const Path& name, bool create) = 0;
    /// The name that the folder's listing gives the entry `name` (its long form when `name`
    /// is an 8.3 short name, a link's own name for a link); `name` itself when there is none.
    virtual Path nameOnDisk(Folder& folder, const Path& name) = 0;
    /// Text that is the same for every spelling of `folder` (drive letters, short names,
    /// letter case), followed by the `below` names, folded to one case.
    virtual Path placeKey(Folder& folder, const std::vector<Path>& below) = 0;

    virtual NameInfo inspect(Folder& folder, const Path& name) = 0;
    /// Reads the whole file as bytes, line breaks as they stand on disk. A file larger
    /// than `limit` bytes fails without being read into memory.
    virtual ReadOutcome readAll(Folder& folder, const Path& name, std::string& bytes,
                                size_t limit) = 0;
    /// Creates `name` as a new, empty file for writing; null when anything stands there
    /// already or it cannot be made.
    virtual std::unique_ptr<WritableFile> createNew(Folder& folder, const Path& name) = 0;
    /// Gives `written`, a file that `createNew` made in `folder` and that is still open,
    /// the name `to` in one step, replacing a file there, and returns only once the move is
    /// on disk. The handle that wrote the file renames it: what takes the name is what was
    /// written, never whatever stands at the temporary name by then.
    virtual FileStatus replace(Folder& folder, WritableFile& written, const Path& to) = 0;
    /// Clears a read-only mark on `name`; true only when there was one and it is gone.
    virtual bool clearReadOnly(Folder& folder, const Path& name) = 0;
    /// Puts the read-only mark back after an operation that cleared it failed.
    virtual void restoreReadOnly(Folder& folder, const Path& name) = 0;
    /// Deletes the file `name`, read-only or not; `ok` when it is gone. A read-only mark
    /// that was cleared for a deletion that then failed is set again.
    virtual FileStatus removeFile(Folder& folder, const Path& name) = 0;
    /// Waits before an operation that found the file busy is tried again.
    virtual void pause(std::chrono::milliseconds wait) = 0;
};

/// The file system of the platform the program runs on.
FileSystem& platformFileSystem();
