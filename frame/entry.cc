#include "frame/entry.h"

#include <exception>
#include <memory>

#include "frame/exit_codes.h"

namespace {

int commandLineError(LineAndBackup& io, std::string_view message, int code) {
    io.out.printResultLine(resultkind::kError, 0, 0, message);
    return code;
}

/// How many times a run locks again when the place it locked turned out to be another
/// once it looked under the lock: a link or a short name that only now leads somewhere.
constexpr int kLockAttempts = 3;

constexpr std::string_view kLocking = "locking the backup";

/// Takes the lock of the place the walk found, then judges anew what stands on the way,
/// where another run may have made folders or the backup while this one waited: every
/// decision about the backup is taken on what stands there once no other run of ours can
/// change it. Null when the lock cannot be had, or the place keeps changing.
std::unique_ptr<HeldBackupLock> lockWhereItStands(BackupLock& lock, LineAndBackup& io,
                                                  const Path& backupPath) {
    for (int attempt = 0; attempt < kLockAttempts; ++attempt) {
        const LockKey key = io.backups.lockKey();
        FileStatus why;
        std::unique_ptr<HeldBackupLock> held = lock.acquire(key, kBackupLockWait, why);
        if (!held) {
            why.path = backupPath;  // the lock's own name tells a reader nothing
            io.out.failures().note(kLocking, std::move(why));
            return nullptr;
        }
        if (!io.backups.refresh()) {
            return nullptr;
        }
        if (io.backups.lockKey() == key) {
            return held;
        }
    }
    io.out.failures().note(kLocking,
                           fileFailure(FileOutcome::failed, "lock key", SystemCode{}, backupPath));
    return nullptr;
}

/// Runs `command` with the store bound to `backupPath` and holding the lock of what
/// stands there, or, when the path cannot be used, another run keeps the lock or the
/// backup is not safe for this process to use, with a store that refuses everything. The
/// lock is let go only after the backend returned, its line printed and its driver closed.
template <typename Command>
int withBackupLock(BackupLock& lock, LineAndBackup& io, const Path& backupPath, BackupUse use,
                   Command command) {
    std::unique_ptr<HeldBackupLock> held;
    io.backups.reportTo(io.out.failures());
    if (io.backups.bind(backupPath, use)) {
        held = lockWhereItStands(lock, io, backupPath);
    }
    if (!held || !io.backups.safeToUse()) {
        io.backups.refuseAll();
    }
    return command();
}

/// An empty backup path names no file: the system would take it for the working folder.
bool givesBackupPath(int argc, const wchar_t* const* argv, int at) {
    return argc > at && argv[at][0] != L'\0';
}

int dispatch(int argc, const wchar_t* const* argv, const Backend& backend, LineAndBackup& io,
             BackupLock& lock) {
    if (argc < 2) {
        return commandLineError(io, commonmessage::kMissingCommand, exitcode::kCommandLine);
    }
    const std::wstring_view command = argv[1];
    if (equalsIgnoringAsciiCase(command, "status")) {
        return backend.status(io);
    }
    if (equalsIgnoringAsciiCase(command, "apply") && givesBackupPath(argc, argv, 3)) {
        const PresetLevel level = parsePresetLevel(argv[2]);
        if (level == kNoPreset) {
            return commandLineError(io, commonmessage::kBadPreset, exitcode::kUnknownPreset);
        }
        const Path backupPath(argv[3]);
        return withBackupLock(lock, io, backupPath, BackupUse::apply,
                              [&] { return backend.apply(io, level); });
    }
    if (equalsIgnoringAsciiCase(command, "restore") && givesBackupPath(argc, argv, 2)) {
        const Path backupPath(argv[2]);
        return withBackupLock(lock, io, backupPath, BackupUse::restore,
                              [&] { return backend.restore(io); });
    }
    return commandLineError(io, commonmessage::kBadArguments, exitcode::kCommandLine);
}

/// Whether an argument after the command's own is "--detail", in any letter case; every
/// other extra argument means nothing.
bool asksForDetail(int argc, const wchar_t* const* argv) {
    if (argc < 2) {
        return false;
    }
    const std::wstring_view command = argv[1];
    const int own = equalsIgnoringAsciiCase(command, "status")    ? 2
                    : equalsIgnoringAsciiCase(command, "apply")   ? 4
                    : equalsIgnoringAsciiCase(command, "restore") ? 3
                                                                  : argc;
    for (int i = own; i < argc; ++i) {
        if (equalsIgnoringAsciiCase(argv[i], "--detail")) {
            return true;
        }
    }
    return false;
}

int runAndExplain(int argc, const wchar_t* const* argv, const Backend& backend, LineAndBackup& io,
                  BackupLock& lock) {
    try {
        return dispatch(argc, argv, backend, io, lock);
    } catch (...) {
        // The backend's owners have closed the driver on the way out; the front-end still
        // gets its one line, unless the backend printed it before failing.
        try {
            if (io.out.linesPrinted() == 0) {
                io.out.printResultLine(resultkind::kError, 0, 0, commonmessage::kUnexpected);
            }
        } catch (...) {
            // Not even the line could be made; the exit code still tells.
        }
        return exitcode::kUnexpectedFailure;
    }
}

}  // namespace

int runEntry(int argc, const wchar_t* const* argv, const Backend& backend, LineAndBackup& io,
             BackupLock& lock) {
    const int code = runAndExplain(argc, argv, backend, io, lock);
    if (asksForDetail(argc, argv)) {
        try {
            io.out.printDetail();
        } catch (...) {
            // The line and the exit code are the answer; the detail only explains them.
        }
    }
    return code;
}
