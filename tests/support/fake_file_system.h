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

    /// Names of the operations, as they appear in `log`, in `failOn` and `busyFor`.
    /// "inspect", "query", "mkdir", "read", "open" (a new file), "write", "flush", "close",
    /// "replace", "clear-readonly", "remove"; "pause <ms>" records a wait.
    std::vector<std::string> log;

    std::map<Path, Entry> files;
    std::set<Path> directories;
    /// Names that are links (symbolic links, junctions): present, and, when `runsElevated`,
    /// refused by every operation on them or on a name below them, as the Windows layer
    /// refuses what its handle checks show.
    std::set<Path> links;
    bool runsElevated = false;
    /// Paths whose query cannot be answered, and paths that exist but cannot be read.
    std::set<Path> unknownPaths;
    std::set<Path> unreadablePaths;
    /// Whether "\n" written becomes CR LF on disk, as on Windows.
    bool crlf = false;
    /// Emulates Windows refusing to replace a read-only file.
    bool replaceRefusesReadOnly = true;
    /// Whether opening a file fails when its directory was never made, as on a real disk.
    bool openNeedsDirectory = false;

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
    Path fullPath(const Path& path) override { return path; }
    NameInfo inspect(const Path& path) override;
    PathState query(const Path& path) override;
    bool makeDirectories(const Path& dir) override;
    ReadOutcome readAll(const Path& path, std::string& bytes, size_t limit) override;
    std::unique_ptr<WritableFile> createNew(const Path& path) override;
    FileStatus replace(const Path& from, const Path& to) override;
    bool clearReadOnly(const Path& path) override;
    FileStatus removeFile(const Path& path) override;
    void pause(std::chrono::milliseconds wait) override;

    /// Counts the call and tells whether it must fail.
    bool shouldFail(const std::string& op);
    /// Whether this call of `op` finds the file busy.
    bool isBusy(const std::string& op);
    /// Whether an elevated process must refuse `path`: a link at it or on the way to it,
    /// or a file there with more than one name.
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
