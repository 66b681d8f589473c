// Win32 backup lock: a named mutex per backup path. The system abandons a mutex whose
// holder ended without letting go and hands it to the next waiter, so a crashed run never
// leaves a stale lock; and a mutex lives in the object namespace, not on disk, so nothing
// appears beside the backup.
#include <windows.h>

#include <string>

#include "store/backup_lock.h"
#include "store/backup_lock_key.h"
#include "windows/nt_calls.h"
#include "windows/win32_handle.h"

namespace {

/// The session's own namespace: the runs a front-end starts share its session, and no
/// privilege is needed to create an object there.
constexpr wchar_t kMutexPrefix[] = L"Local\\preset-backup-";

class HeldMutex : public HeldBackupLock {
  public:
    explicit HeldMutex(UniqueHandle mutex) : mutex_(std::move(mutex)) {}
    ~HeldMutex() override { ntCalls().releaseMutex(mutex_.get()); }
    HeldMutex(const HeldMutex&) = delete;
    HeldMutex& operator=(const HeldMutex&) = delete;

  private:
    UniqueHandle mutex_;
};

class Win32BackupLock : public BackupLock {
  public:
    std::unique_ptr<HeldBackupLock> acquire(const LockKey& key, std::chrono::milliseconds wait,
                                            FileStatus& why) override {
        const std::wstring name = kMutexPrefix + widen(backupLockKey(key.text()));
        UniqueHandle mutex(ntCalls().createMutex(nullptr, FALSE, name.c_str()));
        if (!mutex.valid()) {
            why = fileFailure(FileOutcome::failed, "CreateMutexW",
                              SystemCode{CodeFamily::win32, GetLastError()}, name);
            return nullptr;
        }
        const DWORD waited =
            ntCalls().waitForSingleObject(mutex.get(), static_cast<DWORD>(wait.count()));
        switch (waited) {
            case WAIT_OBJECT_0:
            case WAIT_ABANDONED:  // the holder died; what it left on disk is whole
                return std::make_unique<HeldMutex>(std::move(mutex));
            default:
                why =
                    fileFailure(waited == WAIT_TIMEOUT ? FileOutcome::busy : FileOutcome::failed,
                                "WaitForSingleObject",
                                SystemCode{CodeFamily::win32,
                                           waited == WAIT_TIMEOUT ? WAIT_TIMEOUT : GetLastError()},
                                name);
                return nullptr;
        }
    }

  private:
    static std::wstring widen(const std::string& ascii) {
        return std::wstring(ascii.begin(), ascii.end());
    }
};

}  // namespace

BackupLock& platformBackupLock() {
    static Win32BackupLock instance;
    return instance;
}
