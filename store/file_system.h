// The few file-system operations the backup file needs, behind an interface so that
// tests can fail or record any one of them. One implementation per platform.
//
// Everything works on folders held open, in the manner of openat: a root is opened by its
// name, each folder below it inside the folder above, and every file inside its folder. A
// name that was checked and is then opened again by its whole path proves nothing; a
// handle that was checked and kept does.
//
// Whether the run is elevated is decided once, when the file system is made. An elevated
// run refuses (fails, or reports `unknown`) wherever a name turns out to be a link or a
// file with several names, checked on the handle it then uses, and opens a folder only
// when it can hold it, undeletable, for the rest of the run: it must never be steered by a
// name that someone else planted, before the run or during it.
#pragma once

#include <chrono>
#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "store/file_status.h"
#include "store/path.h"

/// What a query of a name found. `unknown` means the system could not tell (for example
/// access to a folder on the way was denied, a network share did not answer, or the drive
/// letter has no volume behind it): neither absence nor presence is known.
enum class PathState { absent, present, unknown };

/// What stands at a name, looked at without going through a link there.
struct NameInfo {
    PathState state = PathState::absent;
    /// A symbolic link, a junction or another reparse point that stands for another name,
    /// or a name the system resolves to another place than its own folder and leaf.
    bool link = false;
    /// How many names (hard links) the file has.
    unsigned names = 1;
    /// Why the state is `unknown`.
    FileStatus why;
};

/// An object that was opened, or why not.
template <typename T>
struct Opened {
    std::unique_ptr<T> object;
    FileStatus status;
};

/// A new file being written inside the folder that made it, used through its own handle
/// to the end: written, checked, given the backup's name, or thrown away.
class WritableFile {
  public:
    virtual ~WritableFile() = default;
    /// Text written here gets the platform's line breaks for "\n".
    virtual FileStatus write(std::string_view text) = 0;
    /// Forces what was written to stable storage.
    virtual FileStatus flush() = 0;
    /// Checks on the handle that the file is still what was made: exactly one name, no
    /// link, not marked for deletion, and still under its own name in its folder. Someone
    /// who swapped or linked the name since could otherwise have the rename move a file of
    /// theirs, or of the system's, into the backup's place.
    virtual FileStatus verify() = 0;
    /// Gives the file the name `to` in its folder in one step, replacing a file there, a
    /// read-only one too (its mark is put back should the replacement still fail), and
    /// returns only once the move is on disk: the folder that now lists the file under its
    /// new name is flushed as well. What takes the name is what this handle wrote, never
    /// whatever stands at the temporary name by then. After a failure the name `to` holds
    /// either what it held before or this file, each complete.
    virtual FileStatus replace(const Name& to) = 0;
    /// Deletes the file through its own handle, never by looking its name up again.
    virtual FileStatus discard() = 0;
    virtual FileStatus close() = 0;
};

/// A folder held open for the rest of the run; every operation on a name acts inside it.
class Folder {
  public:
    virtual ~Folder() = default;

    /// Opens the folder `name` inside this one. `absent` when nothing stands there (or it
    /// is no folder); `failed` when the system could not tell, or an elevated run refused
    /// what it found there; `busy` when another program holds it for the moment.
    virtual Opened<Folder> openFolder(const Name& name) = 0;
    /// Makes the folder `name` inside this one and opens it. `made` says whether this call
    /// made it: only such a folder may be taken back with `removeIfEmpty`.
    virtual Opened<Folder> makeFolder(const Name& name, bool& made) = 0;
    /// Deletes this folder, which `makeFolder` made, when nothing stands in it; an entry
    /// that appeared meanwhile keeps it. Through its own handle, never by name.
    virtual FileStatus removeIfEmpty() = 0;

    /// The name that the folder's listing gives the entry `name` (its long form when `name`
    /// is an 8.3 short name, a link's own name for a link); `name` itself when there is none.
    virtual Name nameOnDisk(const Name& name) = 0;
    /// Text that is the same for every spelling of this folder (drive letters, short names,
    /// letter case), followed by the `below` names, folded to one case.
    virtual LockKey placeKey(const std::vector<Name>& below) = 0;

    /// The whole path of `name` in this folder, as a failure shows it.
    virtual Path shown(const Name& name) const = 0;

    virtual NameInfo inspect(const Name& name) = 0;
    /// Reads the whole file as bytes, line breaks as they stand on disk. A file larger
    /// than `limit` bytes fails without being read into memory.
    virtual FileStatus readAll(const Name& name, std::string& bytes, size_t limit) = 0;
    /// Creates `name` as a new, empty file for writing; fails when anything stands there
    /// already.
    virtual Opened<WritableFile> createNew(const Name& name) = 0;
    /// Deletes the file `name`, read-only or not; `ok` when it is gone, or was never there.
    /// A read-only mark that was cleared for a deletion that then failed is set again.
    virtual FileStatus removeFile(const Name& name) = 0;
};

class FileSystem {
  public:
    explicit FileSystem(bool elevated) : elevated_(elevated) {}
    virtual ~FileSystem() = default;

    /// Whether the process runs with administrator rights, decided once for the run.
    bool elevated() const { return elevated_; }

    /// The absolute form of `path` (relative to the working directory, "." and ".."
    /// resolved, "/" turned into "\"); empty when the system cannot make one.
    virtual Path fullPath(const Path& path) = 0;
    /// Opens the folder a walk starts from, by its whole name in the system's form. Any
    /// failure is `failed`: a volume or share that cannot be opened may hold anything.
    virtual Opened<Folder> openRoot(const Root& root) = 0;
    /// Waits before an operation that found the file busy is tried again.
    virtual void pause(std::chrono::milliseconds wait) = 0;

  protected:
    void setElevated(bool elevated) { elevated_ = elevated; }

  private:
    bool elevated_;
};

/// The file system of the platform the program runs on, careful as `elevated` asks.
std::unique_ptr<FileSystem> platformFileSystem(bool elevated);
