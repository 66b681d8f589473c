// Looks at the backup after every single file operation of one run and notes each way it
// breaks what users are promised: the name holds the complete old file or a complete new
// one, apply never drops or alters a recorded original, and only a restore that has put
// the driver back gives entries up.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "tests/file_faults/backup_text.h"
#include "tests/support/fake_file_system.h"

/// Empty when `bytes` is a complete backup of `fileWord` whose every entry is either an
/// owned key holding its original or one of `foreign`, untouched, and which keeps all of
/// `foreign`; else what is wrong.
std::string contentProblem(const std::string& bytes, const std::string& fileWord,
                           bool (*ownsKey)(std::string_view), const Entries& originals,
                           const Entries& foreign);

std::optional<std::string> bytesAt(const FakeFileSystem& files, const Path& path);

class BackupWatch {
  public:
    struct Setup {
        Path path;
        std::string fileWord;
        bool (*ownsKey)(std::string_view);
        Entries originals;
        Entries foreign;
        bool restoring;
        /// Empty while the driver holds its starting values.
        std::function<std::string()> driverDifference;
        /// Whether the operation at this index (0-based) in the file log was made to fail.
        std::function<bool(size_t index, const std::string& op)> fails;
    };

    BackupWatch(const FakeFileSystem& files, Setup setup);

    void onOperation(const std::string& entry);
    const std::vector<std::string>& problems() const { return problems_; }

  private:
    void checkChange(const std::string& entry, const std::optional<std::string>& now);
    void trackTemporary(const std::string& op, const std::string& target, bool failed);
    void note(const std::string& entry, const std::string& problem);

    const FakeFileSystem& files_;
    Setup setup_;
    std::string name_;       // the backup path as the file log shows it
    std::string temporary_;  // and its temporary file
    std::optional<std::string> last_;
    size_t index_ = 0;
    // The temporary file since its last open: written and forced to disk with no step
    // failing, and not written to after it was closed.
    bool tmpOpen_ = false;
    bool tmpIntact_ = false;
    bool tmpFlushed_ = false;
    bool tmpClosed_ = false;
    std::vector<std::string> problems_;
};
