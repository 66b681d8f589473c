// The contract between the entry point and the one backend a program links: what a
// backend operation is handed besides its driver, and the three operations it offers.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "frame/preset_level.h"
#include "frame/result_line.h"
#include "store/backup_store.h"

/// What a backend operation uses besides its driver: the printer of its one result line
/// and the store of its backup file.
struct LineAndBackup {
    ResultPrinter& out;
    BackupStore& backups;
};

/// The three operations of the one backend a program links. Each prints exactly one
/// result line and returns the exit code.
struct Backend {
    int (*status)(LineAndBackup& io);
    /// `io.backups` is bound to the backup path of the command line.
    int (*apply)(LineAndBackup& io, PresetLevel level);
    int (*restore)(LineAndBackup& io);
};

/// The Backend of a program whose operations take its one driver binding first: each
/// operation is called with what `driver()` hands out.
template <auto driver, auto status, auto apply, auto restore>
Backend backendOver() {
    return Backend{
        [](LineAndBackup& io) { return status(driver(), io); },
        [](LineAndBackup& io, PresetLevel level) { return apply(driver(), io, level); },
        [](LineAndBackup& io) { return restore(driver(), io); },
    };
}

/// What a restore counts: values written back, and values that did not go back.
struct RestoreCounts {
    int32_t restored = 0;
    int32_t failed = 0;
};

/// The gate of every restore, before it touches its driver. Nothing when a backup stands at
/// the bound path; otherwise prints the run's line and returns its exit code: "nothing" and
/// 0 when there is none, or `incomplete` with 0/0 and 22 when the system cannot say.
std::optional<int> restoreWithoutBackup(LineAndBackup& io, std::string_view nothingToRestore,
                                        std::string_view incomplete);

/// Prints the line of a restore that left values behind, `incomplete` with the counts, and
/// returns 22: the backup stays for another attempt.
int restoreIncomplete(LineAndBackup& io, const RestoreCounts& counts, std::string_view incomplete);
