// An in-memory file system that records every operation and can fail any one of them. It
// answers with the status codes Windows gives in the same case, so a test can assert the
// cause of a failure and not only the outcome.
#pragma once

#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "store/file_system.h"

class FakeFileSystem : public FileSystem {
  public:
    FakeFileSystem() : FileSystem(false) {}

    struct Entry {
        std::string bytes;  // as on disk
        bool readOnly = false;
        unsigned names = 1;  // hard links
    };

    /// Names of the operations, as they appear in `log`, in `failOn` and `busyFor`, each
    /// followed by the whole path it acts on: "root" (where a walk starts), "folder" (a
    /// folder opened on the way), "mkdir" (a folder made), "rmdir" (a folder made taken
    /// back), "inspect", "read", "open" (a new file), "write", "flush", "check" (a new file
    /// looked at on its handle), "replace" (the rename), "flush-folder" (the folder flushed
    /// after it), "discard" (a new file deleted through its handle), "close",
    /// "clear-readonly", "set-readonly", "remove"; "pause <ms>" records a wait.
    std::vector<std::string> log;

    /// Keyed by whole paths: "C:\backup.txt", "\\server\share", a root as "C:".
    std::map<Path, Entry> files;
    std::set<Path> directories;
    /// Names that are links (symbolic links, junctions): present, and, when elevated,
    /// refused by every operation on them, as the Windows layer refuses what its handle
    /// checks show. A walk that is not elevated goes through a linked folder.
    std::set<Path> links;
    /// Folders someone else holds with delete access: an elevated walk cannot hold them.
    std::set<Path> unholdable;
    /// Paths whose query cannot be answered (a root among them), and paths that exist but
    /// cannot be read.
    std::set<Path> unknownPaths;
    std::set<Path> unreadablePaths;
    /// What a relative path is relative to.
    Path workingFolder = L"C:\\work";
    /// Whether "\n" written becomes CR LF on disk, as on Windows.
    bool crlf = false;
    /// Emulates Windows refusing to replace a read-only file.
    bool replaceRefusesReadOnly = true;

    /// What reaches the file when a write fails: half of the text (a short write, as when
    /// the disk fills up mid-way) or none of it.
    enum class WriteFailure { cutShort, nothingWritten };
    WriteFailure writeFailure = WriteFailure::cutShort;

    /// Called after every operation has taken effect, with its entry in `log`, so a test
    /// can look at the files between any two steps, or change them.
    std::function<void(const std::string& entry)> observer;

    /// Makes the run elevated, or not (it is not unless told).
    void runElevated(bool elevated) { setElevated(elevated); }
    /// Makes the `nth` (1-based) call of operation `op` fail; 0 makes every call fail.
    void failOn(const std::string& op, int nth = 0) { failures_[op] = nth; }
    /// Makes the next `times` calls of `op` report the file busy, then lets them through.
    void busyFor(const std::string& op, int times) { busy_[op] = times; }

    /// `workingFolder` before a relative path, "/" turned into "\", "." and ".." resolved,
    /// trailing dots and spaces dropped as the system drops them.
    Path fullPath(const Path& path) override;
    Opened<Folder> openRoot(const Root& root) override;
    void pause(std::chrono::milliseconds wait) override;

    /// Counts the call and tells whether it must fail.
    bool shouldFail(const std::string& op);
    /// Whether this call of `op` finds the file busy.
    bool isBusy(const std::string& op);
    /// Whether an elevated process must refuse the file `path`: a link, or a file with more
    /// than one name.
    bool refuses(const Path& path) const;
    /// Whether a folder stands at `path`: one made, a link, or anything inside it.
    bool folderAt(const Path& path) const;

    /// Logs `op` on `path` and tells the observer once the operation has taken effect.
    class Step {
      public:
        Step(FakeFileSystem& fs, const std::string& op, const Path& path);
        Step(FakeFileSystem& fs, const std::string& entry);
        ~Step();
        Step(const Step&) = delete;
        Step& operator=(const Step&) = delete;

      private:
        FakeFileSystem& fs_;
    };

  private:
    std::map<std::string, int> failures_;
    std::map<std::string, int> busy_;
    std::map<std::string, int> calls_;
};

std::string narrowForTest(const Path& path);
