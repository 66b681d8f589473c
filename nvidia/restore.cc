// Restore: put back every recorded setting, commit, and only then give up the backup.
#include "common/exit_codes.h"
#include "nvidia/nvapi_session.h"
#include "nvidia/nvidia_backend.h"
#include "nvidia/nvidia_words.h"
#include "nvidia/preset_table.h"

namespace {

struct Counts {
    int32_t restored = 0;
    int32_t failed = 0;
};

/// Writes one recorded value back; true on success.
bool restoreRow(const NvapiSession& driver, NvU32 settingId, const std::string& value) {
    const NvapiTable& api = driver.api();
    if (value == nvidiavalue::kMissing) {
        const NvAPI_Status status =
            api.NvAPI_DRS_DeleteProfileSetting(driver.session(), driver.profile(), settingId);
        return status == NVAPI_OK || status == NVAPI_SETTING_NOT_FOUND;
    }
    if (value.size() < nvidiavalue::kValuePrefix.size() ||
        value.compare(0, nvidiavalue::kValuePrefix.size(), nvidiavalue::kValuePrefix) != 0) {
        return false;
    }
    const std::optional<NvU32> number =
        parseRecordedNumber(std::string_view(value).substr(nvidiavalue::kValuePrefix.size()));
    if (!number) {
        return false;
    }
    NVDRS_SETTING record = freshSettingRecord();
    record.settingId = settingId;
    record.settingType = 0;
    record.u32CurrentValue = *number;
    return api.NvAPI_DRS_SetSetting(driver.session(), driver.profile(), &record) == NVAPI_OK;
}

bool isOwnKey(std::string_view key) {
    for (const NvidiaPresetRow& row : NvidiaPresetTable) {
        if (key == settingKey(row.settingId)) {
            return true;
        }
    }
    return false;
}

int incomplete(LineAndBackup& io, const Counts& counts) {
    io.out.printResultLine(resultkind::kError, counts.restored + counts.failed, counts.restored,
                           nvidiaword::kRestoreIncomplete);
    return exitcode::kRestoreIncomplete;
}

}  // namespace

int nvidiaRestore(const NvapiTable& api, LineAndBackup& io) {
    switch (io.backups.backupExists()) {
        case PathState::absent:
            io.out.printResultLine(resultkind::kNothing, 0, 0, nvidiaword::kNothingToRestore);
            return exitcode::kSuccess;
        case PathState::unknown:
            // We cannot tell whether a backup stands there; touching the driver now could
            // undo nothing or the wrong thing.
            return incomplete(io, Counts{});
        case PathState::present:
            break;
    }

    NvapiSession driver(api);
    if (driver.open() != NVAPI_OK) {
        io.out.printResultLine(resultkind::kUnsupported, 0, 0, nvidiaword::kUnavailable);
        return exitcode::kUnavailable;
    }

    const LoadedBackup backup = io.backups.loadBackup();
    if (backup.outcome == LoadOutcome::unreadable) {
        return incomplete(io, Counts{});
    }

    Counts counts;
    for (const NvidiaPresetRow& row : NvidiaPresetTable) {
        const auto entry = backup.map.find(settingKey(row.settingId));
        if (entry == backup.map.end()) {
            continue;
        }
        if (restoreRow(driver, row.settingId, entry->second)) {
            ++counts.restored;
        } else {
            ++counts.failed;
        }
    }

    if (api.NvAPI_DRS_SaveSettings(driver.session()) != NVAPI_OK || counts.failed > 0) {
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
