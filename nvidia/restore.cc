// Restore: put back every recorded setting, commit, and only then give up the backup.
#include "frame/exit_codes.h"
#include "nvidia/nvapi_session.h"
#include "nvidia/nvidia_backend.h"
#include "nvidia/nvidia_words.h"
#include "nvidia/preset_table.h"
#include "store/system_codes.h"

namespace {

/// The number a recorded "value:" text holds, if it holds one.
std::optional<NvU32> recordedNumber(const std::string& value) {
    if (value.size() < nvidiavalue::kValuePrefix.size() ||
        value.compare(0, nvidiavalue::kValuePrefix.size(), nvidiavalue::kValuePrefix) != 0) {
        return std::nullopt;
    }
    return parseRecordedNumber(std::string_view(value).substr(nvidiavalue::kValuePrefix.size()));
}

/// Writes one recorded value back; true on success.
bool restoreRow(const NvapiSession& driver, NvU32 settingId, const std::string& value,
                FailureLog& log) {
    if (value == nvidiavalue::kMissing) {
        const NvAPI_Status status = driver.deleteSetting(settingId);
        return status == NVAPI_OK || status == NVAPI_SETTING_NOT_FOUND;
    }
    const std::optional<NvU32> number = recordedNumber(value);
    if (!number) {
        log.noteDriver("restoring setting " + hex32(settingId), "recorded value",
                       win32Code(win32error::kInvalidData), {}, settingKey(settingId));
        return false;
    }
    return driver.setSetting(settingId, *number) == NVAPI_OK;
}

bool isOwnKey(std::string_view key) {
    for (const NvidiaPresetRow& row : NvidiaPresetTable) {
        if (key == settingKey(row.settingId)) {
            return true;
        }
    }
    return false;
}

int incomplete(LineAndBackup& io, const RestoreCounts& counts) {
    return restoreIncomplete(io, counts, nvidiaword::kRestoreIncomplete);
}

}  // namespace

int nvidiaRestore(const NvapiTable& api, LineAndBackup& io) {
    if (const std::optional<int> ended = restoreWithoutBackup(io, nvidiaword::kNothingToRestore,
                                                              nvidiaword::kRestoreIncomplete)) {
        return *ended;
    }

    NvapiSession driver(api, &io.out.failures());
    if (driver.open() != NVAPI_OK) {
        io.out.printResultLine(resultkind::kUnsupported, 0, 0, nvidiaword::kUnavailable);
        return exitcode::kUnavailable;
    }

    const LoadedBackup backup = io.backups.loadBackup();
    if (backup.outcome == LoadOutcome::unreadable) {
        return incomplete(io, RestoreCounts{});
    }

    RestoreCounts counts;
    for (const NvidiaPresetRow& row : NvidiaPresetTable) {
        const auto entry = backup.map.find(settingKey(row.settingId));
        if (entry == backup.map.end()) {
            continue;
        }
        if (restoreRow(driver, row.settingId, entry->second, io.out.failures())) {
            ++counts.restored;
        } else {
            ++counts.failed;
        }
    }

    if (driver.save() != NVAPI_OK || counts.failed > 0) {
        return incomplete(io, counts);
    }
    if (!io.backups.retireBackup(backup.map, &isOwnKey)) {
        // Every setting is back, but our entries still stand on disk; reporting success
        // would let a later apply take them for originals. Another restore finishes it.
        return incomplete(io, counts);
    }
    io.out.printResultLine(resultkind::kOk, counts.restored, counts.restored,
                           nvidiaword::kRestored);
    return exitcode::kSuccess;
}
