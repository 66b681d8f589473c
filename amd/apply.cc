// Apply: record each supported setting's value in the backup file, then change it, one
// setting at a time, so the file on disk always holds the original of every setting that
// has been changed.
#include <set>

#include "amd/adlx_session.h"
#include "amd/amd_backend.h"
#include "amd/amd_words.h"
#include "amd/catalogue_walk.h"
#include "amd/setting_value.h"
#include "common/exit_codes.h"

namespace {

struct ApplyCounts {
    int32_t supported = 0;
    int32_t changed = 0;
    int32_t failed = 0;  // never printed; it only chooses the result
};

class ApplyVisitor : public RowVisitor {
  public:
    ApplyVisitor(PresetLevel level, BackupStore& backups, const Path& backupPath,
                 LoadedBackup loaded)
        : level_(level),
          backups_(backups),
          backupPath_(backupPath),
          // A backup that exists but cannot be read may hold originals we cannot see;
          // saving over it would lose them, so nothing is recorded or changed.
          backupUsable_(loaded.outcome != LoadOutcome::unreadable),
          map_(std::move(loaded.map)) {}

    bool wants(const CatalogueRow& row) const override {
        return presetValue(row, level_).has_value();
    }
    void visitToggle(const CatalogueRow& row, const std::string& key, const GpuPass* gpu,
                     IADLX3DSwitchSetting* setting) override {
        applyRow(row, key, gpu, setting);
    }
    void visitMode(const CatalogueRow& row, const std::string& key, const GpuPass* gpu,
                   IADLX3DModeSetting* setting) override {
        applyRow(row, key, gpu, setting);
    }

    const ApplyCounts& counts() const { return counts_; }

  private:
    template <typename Setting>
    void applyRow(const CatalogueRow& row, const std::string& key, const GpuPass* gpu,
                  Setting* setting) {
        if (!isSupported(setting)) {
            return;
        }
        int32_t current = 0;
        if (!adlxSucceeded(readValue(setting, current))) {
            ++counts_.failed;
            return;
        }
        ++counts_.supported;
        // A GPU whose id could not be read has no key a later restore is sure to find:
        // its original would be recorded where nobody looks for it.
        if (!backupUsable_ || (gpu != nullptr && !gpu->identified)) {
            ++counts_.failed;
            return;
        }
        const std::string text = valueText(row.shape, current);
        const bool firstInRun = keysThisRun_.insert(key).second;
        if (firstInRun && !backups_.recordOriginal(backupPath_, map_, key, text)) {
            unsaved_.insert(key);
            ++counts_.failed;
            return;
        }
        const int32_t desired = *presetValue(row, level_);
        if (sameValue(row.shape, current, desired)) {
            return;
        }
        if (!firstInRun && !sharedOriginalHolds(key, text)) {
            ++counts_.failed;
            return;
        }
        if (adlxSucceeded(writeValue(setting, desired))) {
            ++counts_.changed;
        } else {
            ++counts_.failed;
        }
    }

    static bool sameValue(SettingShape shape, int32_t current, int32_t desired) {
        if (shape == SettingShape::toggle) {
            return static_cast<adlx_bool>(current) == static_cast<adlx_bool>(desired);
        }
        return current == desired;
    }

    /// A second GPU with an id already seen in this run shares that GPU's key, so only one
    /// original can be kept for both. Changing this GPU is safe only when the original on
    /// disk is its own value too; otherwise restore would give it the other GPU's value.
    bool sharedOriginalHolds(const std::string& key, const std::string& text) const {
        const auto entry = map_.find(key);
        return entry != map_.end() && entry->second == text && unsaved_.count(key) == 0;
    }

    PresetLevel level_;
    BackupStore& backups_;
    const Path& backupPath_;
    bool backupUsable_;
    BackupMap map_;
    ApplyCounts counts_;
    std::set<std::string> keysThisRun_;
    std::set<std::string> unsaved_;  // in the map, but their save failed
};

struct ApplyOutcome {
    bool available = false;
    ApplyCounts counts;
};

ApplyOutcome runApply(AdlxRuntime& adlx, BackupStore& backups, PresetLevel level,
                      const Path& backupPath) {
    AdlxSession session(adlx);
    if (session.open() != SessionOpening::ready) {
        return ApplyOutcome{};
    }
    ApplyVisitor visitor(level, backups, backupPath, backups.loadBackup(backupPath));
    walkCatalogue(session.gpus(), session.services(), visitor);
    return ApplyOutcome{true, visitor.counts()};
}  // every object released, then ADLX terminated, before the caller prints

}  // namespace

int amdApply(AdlxRuntime& adlx, Host& host, PresetLevel level, const Path& backupPath) {
    const ApplyOutcome outcome = runApply(adlx, host.backups, level, backupPath);
    if (!outcome.available) {
        host.out.printResultLine(resultkind::kUnsupported, 0, 0, amdword::kUnavailable);
        return exitcode::kUnavailable;
    }
    const ApplyCounts& counts = outcome.counts;
    if (counts.supported == 0) {
        host.out.printResultLine(resultkind::kUnsupported, 0, 0, amdword::kNoSetting);
        return exitcode::kUnavailable;
    }
    if (counts.failed > 0) {
        host.out.printResultLine(resultkind::kError, counts.supported, counts.changed,
                                 amdword::kAppliedPartly);
        return exitcode::kApplyPartial;
    }
    host.out.printResultLine(resultkind::kOk, counts.supported, counts.changed, amdword::kApplied);
    return exitcode::kSuccess;
}
