// Apply: read every supported setting of a pass (the global rows, then each GPU), save the
// values new to the backup file in one go, and only then change the settings of that pass,
// so the file on disk always holds the original of every setting that has been changed.
#include <vector>

#include "amd/adlx_session.h"
#include "amd/amd_backend.h"
#include "amd/amd_words.h"
#include "amd/catalogue_walk.h"
#include "amd/setting_value.h"
#include "frame/exit_codes.h"

namespace {

struct ApplyCounts {
    int32_t supported = 0;
    int32_t changed = 0;
    int32_t failed = 0;  // never printed; it only chooses the result
};

class ApplyVisitor : public RowVisitor {
  public:
    ApplyVisitor(PresetLevel level, BackupStore& backups, LoadedBackup loaded, FailureLog& log)
        : level_(level),
          backups_(backups),
          log_(log),
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

    bool keepsSettingsForPass() const override { return true; }

    const ApplyCounts& counts() const { return counts_; }

  private:
    /// A change waiting for the pass's save; the walk keeps `toggle` or `mode` alive until
    /// the pass has ended.
    struct PendingWrite {
        IADLX3DSwitchSetting* toggle = nullptr;
        IADLX3DModeSetting* mode = nullptr;
        int32_t desired = 0;
        /// Recorded in this pass: the change may go ahead only once the save has succeeded.
        const std::string* newKey = nullptr;
        /// The key, for a failure's explanation.
        std::string key;
    };

    static void remember(PendingWrite& write, IADLX3DSwitchSetting* setting) {
        write.toggle = setting;
    }
    static void remember(PendingWrite& write, IADLX3DModeSetting* setting) { write.mode = setting; }

    template <typename Setting>
    void applyRow(const CatalogueRow& row, const std::string& key, const GpuPass* gpu,
                  Setting* setting) {
        ADLX_RESULT asked = ADLX_OK;
        const Support support = supportOf(setting, &asked);
        if (support != Support::yes) {
            if (support == Support::unknown) {
                noteAdlx(log_, "asking setting " + key, "IsSupported", asked, key);
            }
            return;
        }
        int32_t current = 0;
        const ADLX_RESULT read = readValue(setting, current);
        if (!adlxSucceeded(read)) {
            noteAdlx(log_, "reading setting " + key, readCall(setting), read, key);
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
        const int32_t desired = *presetValue(row, level_);
        const bool inPlace = sameValue(row.shape, current, desired);
        // The keys under this GPU's id belong to another GPU (or may): restore will never
        // write this one, so it must not be changed and its value is not recorded.
        if (gpu != nullptr && !gpu->ownsKeys) {
            if (!inPlace) {
                ++counts_.failed;
            }
            return;
        }
        const auto [entry, isNew] = map_.emplace(key, valueText(row.shape, current));
        // The first value wins: a key already held stays as it is.
        const std::string* newKey = isNew ? &entry->first : nullptr;
        if (inPlace) {
            if (newKey != nullptr) {
                pending_.push_back(PendingWrite{nullptr, nullptr, desired, newKey, {}});
            }
            return;
        }
        PendingWrite write{nullptr, nullptr, desired, newKey, key};
        remember(write, setting);
        pending_.push_back(write);
    }

    /// One save for every value the pass recorded, then the pass's changes. When the save
    /// fails, the settings recorded in this pass stay as they are; the values stay in the
    /// map, so the next pass that saves writes them too.
    void endPass(const GpuPass* gpu) override {
        (void)gpu;
        bool anyNew = false;
        for (const PendingWrite& write : pending_) {
            anyNew = anyNew || write.newKey != nullptr;
        }
        const bool saved = !anyNew || backups_.saveBackup(map_);
        for (const PendingWrite& write : pending_) {
            if (write.newKey != nullptr && !saved) {
                ++counts_.failed;
                continue;
            }
            ADLX_RESULT result = ADLX_OK;
            const char* call = nullptr;
            if (write.toggle != nullptr) {
                result = writeValue(write.toggle, write.desired);
                call = writeCall(write.toggle);
            } else if (write.mode != nullptr) {
                result = writeValue(write.mode, write.desired);
                call = writeCall(write.mode);
            } else {
                continue;  // recorded only: the setting already holds the preset's value
            }
            if (adlxSucceeded(result)) {
                ++counts_.changed;
            } else {
                noteAdlx(log_, "writing setting " + write.key, call, result, write.key);
                ++counts_.failed;
            }
        }
        pending_.clear();
    }

    static bool sameValue(SettingShape shape, int32_t current, int32_t desired) {
        if (shape == SettingShape::toggle) {
            return static_cast<adlx_bool>(current) == static_cast<adlx_bool>(desired);
        }
        return current == desired;
    }

    PresetLevel level_;
    BackupStore& backups_;
    FailureLog& log_;
    bool backupUsable_;
    BackupMap map_;
    ApplyCounts counts_;
    std::vector<PendingWrite> pending_;  // this pass's, in catalogue order
};

struct ApplyOutcome {
    bool available = false;
    ApplyCounts counts;
};

ApplyOutcome runApply(AdlxRuntime& adlx, BackupStore& backups, PresetLevel level, FailureLog& log) {
    AdlxSession session(adlx, log);
    if (session.open() != SessionOpening::ready) {
        return ApplyOutcome{};
    }
    ApplyVisitor visitor(level, backups, backups.loadBackup(), log);
    walkCatalogue(session.gpus(), session.services(), visitor);
    return ApplyOutcome{true, visitor.counts()};
}  // every object released, then ADLX terminated, before the caller prints

}  // namespace

int amdApply(AdlxRuntime& adlx, LineAndBackup& io, PresetLevel level) {
    const ApplyOutcome outcome = runApply(adlx, io.backups, level, io.out.failures());
    if (!outcome.available) {
        io.out.printResultLine(resultkind::kUnsupported, 0, 0, amdword::kUnavailable);
        return exitcode::kUnavailable;
    }
    const ApplyCounts& counts = outcome.counts;
    if (counts.supported == 0) {
        io.out.printResultLine(resultkind::kUnsupported, 0, 0, amdword::kNoSetting);
        return exitcode::kUnavailable;
    }
    if (counts.failed > 0) {
        io.out.printResultLine(resultkind::kError, counts.supported, counts.changed,
                               amdword::kAppliedPartly);
        return exitcode::kApplyPartial;
    }
    io.out.printResultLine(resultkind::kOk, counts.supported, counts.changed, amdword::kApplied);
    return exitcode::kSuccess;
}
