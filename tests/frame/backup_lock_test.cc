// The lock's name digest, and the POSIX lock itself: one holder per path, a bounded wait,
// and a holder that dies lets go at once.
#include "common/backup_lock.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>

#include "common/backup_lock_key.h"

namespace {

using std::chrono::milliseconds;
using std::chrono::steady_clock;

constexpr milliseconds kShortWait{150};

/// A path of this test run's own, so parallel test runs do not share locks.
Path uniquePath(const char* name) {
    return L"/tmp/lock-test-" + std::to_wstring(::getpid()) + L"/" +
           std::wstring(name, name + std::char_traits<char>::length(name));
}

}  // namespace

TEST(BackupLockKey, IsSixtyFourBitFnv1aOverFourByteUnits) {
    // Expected digests computed independently from the published FNV-1a parameters.
    struct Case {
        const wchar_t* text;
        const char* key;
    } cases[] = {
        {L"", "CBF29CE484222325"},
        {L"a", "AC804B820E4FE984"},
        {L"C:\\B\\BACKUP.TXT", "07B1E789CC1A49C6"},
        {L"c:\\b\\backup.txt", "86F9D1125A4D8A66"},
        {L"\u00e7\U0001F600", "9381DCC258EC5B79"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(backupLockKey(c.text), c.key);
    }
}

TEST(PosixBackupLock, SecondHolderWaitsTheBoundAndGetsNothing) {
    const Path path = uniquePath("a.txt");
    auto first = platformBackupLock().acquire(path, kShortWait);
    ASSERT_NE(first, nullptr);
    const auto start = steady_clock::now();
    auto second = platformBackupLock().acquire(path, kShortWait);
    const auto waited = steady_clock::now() - start;
    EXPECT_EQ(second, nullptr);
    EXPECT_GE(waited, kShortWait);
    EXPECT_LT(waited, kShortWait * 10);
    first.reset();
    EXPECT_NE(platformBackupLock().acquire(path, milliseconds{0}), nullptr)
        << "released with its holder";
}

TEST(PosixBackupLock, SpellingsOfOnePathShareTheLockAndOtherPathsDoNot) {
    const Path path = uniquePath("b.txt");
    auto held = platformBackupLock().acquire(path, milliseconds{0});
    ASSERT_NE(held, nullptr);
    const std::filesystem::path dir = std::filesystem::path(path).parent_path();
    const Path sameViaDots = dir.wstring() + L"/x/../b.txt";
    EXPECT_EQ(platformBackupLock().acquire(sameViaDots, milliseconds{0}), nullptr);
    EXPECT_NE(platformBackupLock().acquire(uniquePath("c.txt"), milliseconds{0}), nullptr);

    const std::filesystem::path before = std::filesystem::current_path();
    std::filesystem::create_directories(dir);
    std::filesystem::current_path(dir);
    EXPECT_EQ(platformBackupLock().acquire(L"b.txt", milliseconds{0}), nullptr);
    std::filesystem::current_path(before);
    std::filesystem::remove_all(dir);
}

TEST(PosixBackupLock, KilledHolderLeavesNoStaleLock) {
    const Path path = uniquePath("d.txt");
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        auto held = platformBackupLock().acquire(path, milliseconds{0});
        const char flag = held ? '1' : '0';
        (void)!::write(ready[1], &flag, 1);
        ::pause();
        ::_exit(0);
    }
    char flag = 0;
    ASSERT_EQ(::read(ready[0], &flag, 1), 1);
    ::close(ready[0]);
    ::close(ready[1]);
    ASSERT_EQ(flag, '1');
    EXPECT_EQ(platformBackupLock().acquire(path, milliseconds{0}), nullptr);
    ::kill(child, SIGKILL);
    int status = 0;
    ::waitpid(child, &status, 0);
    EXPECT_NE(platformBackupLock().acquire(path, milliseconds{0}), nullptr);
}
