// One run at a time per backup path: two runs that load, extend and replace the same file
// at once would each write back only what they had read, and the slower one would drop
// the originals the other had just recorded. The lock belongs to the operating system, so
// a run that dies, however it dies, lets go of it at once.
#pragma once

#include <chrono>
#include <memory>

#include "store/file_status.h"
#include "store/path.h"

/// How long a run waits for an earlier run on the same backup path. An apply or restore
/// holds the lock for about a tenth of a second under Wine, and a front-end may start a
/// handful of runs together, each queueing behind the others on a loaded machine; ten
/// seconds covers such a queue many times over, yet a run stuck behind a hung one still
/// answers while its caller is waiting for it.
constexpr std::chrono::milliseconds kBackupLockWait{10000};

/// The lock while it is held; destroying it lets the next run in.
class HeldBackupLock {
  public:
    virtual ~HeldBackupLock() = default;
};

class BackupLock {
  public:
    virtual ~BackupLock() = default;
    /// Takes the lock named by `key` (a backup's `BackupStore::lockKey`, the same for every
    /// spelling of one backup), waiting at most `wait` for another holder to let go. Null
    /// when it is still held then, or when the system cannot make the lock; `why` then
    /// holds the call and its code.
    virtual std::unique_ptr<HeldBackupLock> acquire(const LockKey& key,
                                                    std::chrono::milliseconds wait,
                                                    FileStatus& why) = 0;
};

/// The lock of the platform the program runs on.
BackupLock& platformBackupLock();
