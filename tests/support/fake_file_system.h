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
    };

    /// Names of the operations, as they appear in `log` and in `failOn`.
    /// "query", "mkdir", "read", "open", "write", "flush", "close", "replace",
    /// "clear-readonly", "remove".
    std::vector<std::string> log;

    std::map<Path, Entry> files;
    std::set<Path> directories;
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

    PathState query(const Path& path) override;
    bool makeDirectories(const Path& dir) override;
    ReadOutcome readAll(const Path& path, std::string& bytes) override;
    std::unique_ptr<WritableFile> openForWrite(const Path& path) override;
    bool replace(const Path& from, const Path& to) override;
    bool clearReadOnly(const Path& path) override;
    bool removeFile(const Path& path) override;

    /// Counts the call and tells whether it must fail.
    bool shouldFail(const std::string& op);

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
    std::map<std::string, int> calls_;
};

std::string narrowForTest(const Path& path);
