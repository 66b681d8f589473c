// Apply: record every original first, save the backup, and only then write the preset.
#include <array>

#include "frame/exit_codes.h"
#include "nvidia/nvapi_session.h"
#include "nvidia/nvidia_backend.h"
#include "nvidia/nvidia_words.h"
#include "nvidia/preset_table.h"
#include "store/system_codes.h"

namespace {

/// Reads the current value of one row into `map`; true when the map now holds its
/// original (recorded earlier or just now).
bool recordRow(const NvapiSession& driver, const NvidiaPresetRow& row, BackupMap& map,
               FailureLog& log) {
    const std::string key = settingKey(row.settingId);
    if (map.count(key) != 0) {
        return true;  // an earlier apply recorded it; that value is the original
    }
    NVDRS_SETTING record;
    const NvAPI_Status status = driver.getSetting(row.settingId, record);
    if (status == NVAPI_OK && record.settingType == 0) {
        map[key] = recordedValue(record.u32CurrentValue);
        return true;
    }
    if (status == NVAPI_SETTING_NOT_FOUND) {
        map[key] = std::string(nvidiavalue::kMissing);
        return true;
    }
    if (status == NVAPI_OK) {
        // Read, but not as the 32-bit number a restore could write back.
        log.noteDriver("reading setting " + hex32(row.settingId), "NvAPI_DRS_GetSetting",
                       win32Code(win32error::kInvalidData), {}, key);
    }
    return false;
}

}  // namespace

int nvidiaApply(const NvapiTable& api, LineAndBackup& io, PresetLevel level) {
    NvapiSession driver(api, &io.out.failures());
    if (driver.open() != NVAPI_OK) {
        io.out.printResultLine(resultkind::kUnsupported, 0, 0, nvidiaword::kUnavailable);
        return exitcode::kUnavailable;
    }

    LoadedBackup backup = io.backups.loadBackup();
    if (backup.outcome == LoadOutcome::unreadable) {
        // Something we cannot read stands there; it may hold originals, so nothing may be
        // changed and the file must stay as it is.
        io.out.printResultLine(resultkind::kError, 0, 0, nvidiaword::kBackupFailed);
        return exitcode::kBackupFailed;
    }

    std::array<bool, NvidiaPresetTable.size()> hasOriginal{};
    int32_t recorded = 0;
    for (size_t i = 0; i < NvidiaPresetTable.size(); ++i) {
        const NvidiaPresetRow& row = NvidiaPresetTable[i];
        if (rowInPreset(row, level) && recordRow(driver, row, backup.map, io.out.failures())) {
            hasOriginal[i] = true;
            ++recorded;
        }
    }
    if (recorded == 0) {
        io.out.printResultLine(resultkind::kError, 0, 0, nvidiaword::kBackupFailed);
        return exitcode::kBackupFailed;
    }
    if (!io.backups.saveBackup(backup.map)) {
        io.out.printResultLine(resultkind::kError, recorded, 0, nvidiaword::kBackupFailed);
        return exitcode::kBackupFailed;
    }

    int32_t changed = 0;
    int32_t failed = 0;
    for (size_t i = 0; i < NvidiaPresetTable.size(); ++i) {
        const NvidiaPresetRow& row = NvidiaPresetTable[i];
        if (!rowInPreset(row, level)) {
            continue;
        }
        if (!hasOriginal[i]) {
            // Without its original on disk the setting could never be put back.
            ++failed;
            continue;
        }
        if (driver.setSetting(row.settingId, row.value) == NVAPI_OK) {
            ++changed;
        } else {
            ++failed;
        }
    }

    if (driver.save() != NVAPI_OK || failed > 0) {
        io.out.printResultLine(resultkind::kError, recorded, changed, nvidiaword::kAppliedPartly);
        return exitcode::kApplyPartial;
    }
    io.out.printResultLine(resultkind::kOk, recorded, changed, nvidiaword::kApplied);
    return exitcode::kSuccess;
}
