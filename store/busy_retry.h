// Another program may hold a file or folder for a moment (virus scanners and indexers do,
// and let go soon): an operation that finds it busy is tried again, with a growing wait.
#pragma once

#include <chrono>

#include "store/file_system.h"

/// Tried again this many times, waiting `kBusyBackoff` times the attempt number before
/// each: 1.375 s in all at most, well inside the lock wait.
constexpr int kBusyRetries = 10;
constexpr std::chrono::milliseconds kBusyBackoff{25};

inline const FileStatus& statusOf(const FileStatus& status) {
    return status;
}
template <typename T>
const FileStatus& statusOf(const Opened<T>& opened) {
    return opened.status;
}

/// Runs `operation` again while it reports `busy`, with the back-off above.
template <typename Operation>
auto retryWhileBusy(FileSystem& files, Operation operation) {
    for (int attempt = 1;; ++attempt) {
        auto result = operation();
        if (statusOf(result).outcome != FileOutcome::busy || attempt > kBusyRetries) {
            return result;
        }
        files.pause(kBusyBackoff * attempt);
    }
}
