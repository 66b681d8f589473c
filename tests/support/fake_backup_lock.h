// A backup lock that is free or busy as the test says and records every acquisition and
// release, with the path and the wait asked for.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "store/backup_lock.h"
#include "tests/support/fake_file_system.h"

class FakeBackupLock : public BackupLock {
  public:
    /// Whether another run holds the lock: acquire then gives nothing.
    bool busy = false;
    /// "acquire <path> <wait in ms>", "release <path>", in order.
    std::vector<std::string> log;
    /// Locks handed out and not yet released.
    int held = 0;

    std::unique_ptr<HeldBackupLock> acquire(const LockKey& key, std::chrono::milliseconds wait,
                                            FileStatus& why) override {
        log.push_back("acquire " + narrowForTest(key.text()) + " " + std::to_string(wait.count()));
        if (busy) {
            why = fileFailure(FileOutcome::busy, "WaitForSingleObject",
                              SystemCode{CodeFamily::win32, 258}, key.text());
            return nullptr;
        }
        ++held;
        return std::make_unique<Held>(*this, narrowForTest(key.text()));
    }

  private:
    class Held : public HeldBackupLock {
      public:
        Held(FakeBackupLock& lock, std::string path) : lock_(lock), path_(std::move(path)) {}
        ~Held() override {
            --lock_.held;
            lock_.log.push_back("release " + path_);
        }
        Held(const Held&) = delete;
        Held& operator=(const Held&) = delete;

      private:
        FakeBackupLock& lock_;
        std::string path_;
    };
};
