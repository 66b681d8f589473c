// The contract between the entry point and the one backend a program links: what a
// backend operation is handed besides its driver, and the three operations it offers.
#pragma once

#include "common/backup_file.h"
#include "common/preset_level.h"
#include "common/result_line.h"

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
