#include "frame/backend.h"

#include "frame/exit_codes.h"

std::optional<int> restoreWithoutBackup(LineAndBackup& io, std::string_view nothingToRestore,
                                        std::string_view incomplete) {
    switch (io.backups.backupExists()) {
        case PathState::absent:
            io.out.printResultLine(resultkind::kNothing, 0, 0, nothingToRestore);
            return exitcode::kSuccess;
        case PathState::unknown:
            // We cannot tell whether a backup stands there; touching the driver now could
            // undo nothing or the wrong thing.
            return restoreIncomplete(io, RestoreCounts{}, incomplete);
        case PathState::present:
            break;
    }
    return std::nullopt;
}

int restoreIncomplete(LineAndBackup& io, const RestoreCounts& counts, std::string_view incomplete) {
    io.out.printResultLine(resultkind::kError, counts.restored + counts.failed, counts.restored,
                           incomplete);
    return exitcode::kRestoreIncomplete;
}
