// POSIX backup lock for the native build: flock on a file in the temporary directory
// named after the path's digest. The system drops the lock with the last descriptor, so a
// process that dies lets go at once; the lock file is never removed (removing it could
// let a later run lock a new file while an earlier one still holds the old) and never
// stands beside the backup.
#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <thread>

#include "common/backup_lock.h"
#include "common/backup_lock_key.h"
#include "common/unique_fd.h"

namespace {

constexpr char kLockDirectory[] = "/tmp/";
constexpr char kLockPrefix[] = "preset-backup-";
constexpr char kLockSuffix[] = ".lock";
/// How often a waiting run tries again: flock has no timed wait.
constexpr std::chrono::milliseconds kRetryInterval{10};

/// The absolute path with "." and ".." resolved in its text, so that a relative and an
/// absolute spelling meet; links are not followed (the file may not exist yet).
Path canonicalPath(const Path& path) {
    std::error_code error;
    const std::filesystem::path absolute = std::filesystem::absolute(path, error);
    if (error) {
        return path;
    }
    return absolute.lexically_normal().wstring();
}

/// Closing the descriptor releases the lock.
class HeldFlock : public HeldBackupLock {
  public:
    explicit HeldFlock(int fd) : fd_(fd) {}
    int fd() const { return fd_.get(); }

  private:
    UniqueFd fd_;
};

class PosixBackupLock : public BackupLock {
  public:
    std::unique_ptr<HeldBackupLock> acquire(const Path& backupPath,
                                            std::chrono::milliseconds wait) override {
        const std::string file = std::string(kLockDirectory) + kLockPrefix +
                                 backupLockKey(canonicalPath(backupPath)) + kLockSuffix;
        auto held =
            std::make_unique<HeldFlock>(::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
        return lockWithin(held->fd(), wait) ? std::move(held) : nullptr;
    }

  private:
    static bool lockWithin(int fd, std::chrono::milliseconds wait) {
        if (fd < 0) {
            return false;
        }
        const auto deadline = std::chrono::steady_clock::now() + wait;
        for (;;) {
            if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
                return true;
            }
            if (errno != EWOULDBLOCK && errno != EINTR) {
                return false;
            }
            if (std::chrono::steady_clock::now() >= deadline) {
                return false;
            }
            std::this_thread::sleep_for(kRetryInterval);
        }
    }
};

}  // namespace

BackupLock& platformBackupLock() {
    static PosixBackupLock instance;
    return instance;
}
