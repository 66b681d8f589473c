// An in-memory file system that records every operation and can fail any one of them.
#pragma once

#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "common/file_system.h"

class FakeFileSystem : public FileSystem {
  public:
    struct Entry {
        std::string bytes;  // as on disk
        bool readOnly = false;
        unsigned names = 1;  // hard links
    };

    /// Names of the operations, as they appear in `log`, in `failOn` and `busyFor`, each
    /// followed by the whole path it acts on: "root" (where a walk starts), "folder" (a
    /// folder opened on the way), "mkdir" (a folder opened or made), "inspect", "read",
    /// "open" (a new file), "write", "flush", "close", "replace", "clear-readonly",
    /// "set-readonly", "remove"; "pause <ms>" records a wait.
    std::vector<std::string> log;

    /// Keyed by whole paths: "C:ackup.txt", "\server\share", a root as "C:".
    std::map<Path, Entry> files;
    std::set<Path> directories;
    /// Names that are links (symbolic links, junctions): present, and, when `runsElevated`,
    /// refused by every operation on them, as the Windows layer refuses what its handle
    /// checks show. A walk that is not elevated goes through a linked folder.
    std::set<Path> links;
    bool runsElevated = false;
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
    /// can look at the files between any two steps.
    std::function<void(const std::string& entry)> observer;

    /// Makes the `nth` (1-based) call of operation `op` fail; 0 makes every call fail.
    void failOn(const std::string& op, int nth = 0) { failures_[op] = nth; }
    /// Makes the next `times` calls of `op` report the file busy, then lets them through.
    void busyFor(const std::string& op, int times) { busy_[op] = times; }

    bool elevated() override { return runsElevated; }
    /// `workingFolder` before a relative path, "/" turned into "\", "." and ".." resolved.
    Path fullPath(const Path& path) override;
    OpenedFolder openRoot(const Path& root) override;
    OpenedFolder openFolder(Folder& parent, const Path& name, bool create) override;
    Path nameOnDisk(Folder&, const Path& name) override { return name; }
    /// The folder's path and the names below it, ASCII letters upper-cased.
    Path placeKey(Folder& folder, const std::vector<Path>& below) override;
    NameInfo inspect(Folder& folder, const Path& name) override;
    ReadOutcome readAll(Folder& folder, const Path& name, std::string& bytes,
                        size_t limit) override;
    std::unique_ptr<WritableFile> createNew(Folder& folder, const Path& name) override;
    FileStatus replace(Folder& folder, WritableFile& written, const Path& to) override;
    bool clearReadOnly(Folder& folder, const Path& name) override;
    void restoreReadOnly(Folder& folder, const Path& name) override;
    FileStatus removeFile(Folder& folder, const Path& name) override;
    void pause(std::chrono::milliseconds wait) override;

    /// Counts the call and tells whether it must fail.
    bool shouldFail(const std::string& op);
    /// Whether this call of `op` finds the file busy.
    bool isBusy(const std::string& op);
    /// Whether an elevated process must refuse the file `path`: a link, or a file with more
    /// than one name.
    bool refuses(const Path& path) const;

  private:
    friend class FakeWritableFile;
    /// Tells the observer, on leaving the operation, about the entry it logged.
    class Notify {
      public:
        explicit Notify(FakeFileSystem& fs) : fs_(fs) {}
        ~Notify() {
            if (fs_.observer) {
                fs_.observer(fs_.log.back());
            }
        }
        Notify(const Notify&) = delete;
        Notify& operator=(const Notify&) = delete;

      private:
        FakeFileSystem& fs_;
    };

    std::map<std::string, int> failures_;
    std::map<std::string, int> busy_;
    std::map<std::string, int> calls_;
};

std::string narrowForTest(const Path& path);
