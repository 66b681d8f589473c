// Restore: write every recorded value back and give up the backup only when all of them
// went back; any failure keeps the file, unchanged, for another attempt.
#include <set>

#include "amd/adlx_session.h"
#include "amd/amd_backend.h"
#include "amd/amd_words.h"
#include "amd/catalogue_walk.h"
#include "amd/mode_number.h"
#include "amd/setting_value.h"
#include "frame/exit_codes.h"
#include "store/system_codes.h"

namespace {

class RestoreVisitor : public RowVisitor {
  public:
    RestoreVisitor(const BackupMap& saved, FailureLog& log) : saved_(saved), log_(log) {}

    bool wants(const CatalogueRow&) const override { return true; }
    void visitToggle(const CatalogueRow&, const std::string& key, const GpuPass*,
                     IADLX3DSwitchSetting* setting) override {
        const std::string* text = savedText(key);
        if (text == nullptr || !stillSupported(setting, key)) {
            return;
        }
        // Only the exact text "1" was ever written for "on".
        count(writeValue(setting, *text == amdkey::kSwitchOn ? 1 : 0), writeCall(setting), key);
    }
    void visitMode(const CatalogueRow&, const std::string& key, const GpuPass*,
                   IADLX3DModeSetting* setting) override {
        const std::string* text = savedText(key);
        if (text == nullptr || !stillSupported(setting, key)) {
            return;
        }
        const std::optional<int32_t> mode = parseModeNumber(*text);
        if (!mode) {
            log_.noteDriver("restoring setting " + key, "recorded value",
                            win32Code(win32error::kInvalidData), {}, key);
            ++counts_.failed;
            return;
        }
        count(writeValue(setting, *mode), writeCall(setting), key);
    }
    // A recorded value whose setting could not be reached this time has not gone back:
    // skipping it would let the backup be deleted with that value still in it.
    void unreachable(const CatalogueRow&, const std::string& key, const GpuPass*,
                     ADLX_RESULT result) override {
        if (savedText(key) != nullptr) {
            noteAdlx(log_, "restoring setting " + key, "getter", result, key);
            ++counts_.failed;
        }
    }
    void beginGpu(const GpuPass& gpu) override {
        if (gpu.identified && gpu.ownsKeys) {
            reachedPrefixes_.insert(gpuKeyPrefix(gpu.id));
        }
    }
    /// Only the owner of an id's keys is written. Another GPU with that id still holds
    /// its own value, which the recorded one is not; a GPU that cannot be named may be
    /// any GPU.
    bool wantsGpu(const GpuPass& gpu) const override { return gpu.identified && gpu.ownsKeys; }

    /// The counts once the walk is over. Every recorded key of a GPU has either been
    /// handled by that GPU's pass (restored, failed, or skipped because the driver no
    /// longer has the setting) or was never reached: its GPU is not in the list, or sits
    /// behind one that could not be fetched or named. An unreached key has not gone back,
    /// so it counts as failed and the file stays; a GPU that could not be fetched or named
    /// costs nothing by itself, since whatever it may hold is among the unreached keys.
    RestoreCounts counts() const {
        RestoreCounts counts = counts_;
        forEachUnreached([&counts](const std::string&) { ++counts.failed; });
        return counts;
    }

    /// Keeps every recorded key of a GPU the walk never reached.
    void noteUnreached() const {
        forEachUnreached([this](const std::string& key) {
            log_.noteDriver("restoring setting " + key, "GPU list", SystemCode{}, {},
                            "its GPU is not in the list");
        });
    }

  private:
    template <typename Each>
    void forEachUnreached(Each each) const {
        for (const auto& entry : saved_) {
            const std::optional<std::string_view> prefix = ownGpuKeyPrefix(entry.first);
            if (prefix && reachedPrefixes_.count(std::string(*prefix)) == 0) {
                each(entry.first);
            }
        }
    }
    const std::string* savedText(const std::string& key) const {
        const auto entry = saved_.find(key);
        return entry == saved_.end() ? nullptr : &entry->second;
    }
    /// A setting that says it is no longer supported is skipped; one that cannot say is
    /// not written and counts as failed if it has a recorded value.
    template <typename Setting>
    bool stillSupported(Setting* setting, const std::string& key) {
        ADLX_RESULT asked = ADLX_OK;
        switch (supportOf(setting, &asked)) {
            case Support::yes:
                return true;
            case Support::no:
                return false;
            case Support::unknown:
                noteAdlx(log_, "asking setting " + key, "IsSupported", asked, key);
                ++counts_.failed;
                return false;
        }
        return false;
    }
    void count(ADLX_RESULT result, const char* call, const std::string& key) {
        if (adlxSucceeded(result)) {
            ++counts_.restored;
        } else {
            noteAdlx(log_, "writing setting " + key, call, result, key);
            ++counts_.failed;
        }
    }

    const BackupMap& saved_;
    FailureLog& log_;
    RestoreCounts counts_;
    std::set<std::string> reachedPrefixes_;  // "gpu.<id>." of every GPU that owns its keys
};

enum class RestoreEnd { unavailable, unreadable, counted };

struct RestoreOutcome {
    RestoreEnd end = RestoreEnd::unavailable;
    RestoreCounts counts;
    BackupMap saved;
};

RestoreOutcome runRestore(AdlxRuntime& adlx, BackupStore& backups, FailureLog& log) {
    RestoreOutcome outcome;
    AdlxSession session(adlx, log);
    if (session.open() != SessionOpening::ready) {
        return outcome;
    }
    LoadedBackup loaded = backups.loadBackup();
    if (loaded.outcome == LoadOutcome::unreadable) {
        // Values we cannot see are not restored by deleting the file that holds them.
        outcome.end = RestoreEnd::unreadable;
        return outcome;
    }
    outcome.saved = std::move(loaded.map);
    RestoreVisitor visitor(outcome.saved, log);
    walkCatalogue(session.gpus(), session.services(), visitor);
    outcome.end = RestoreEnd::counted;
    outcome.counts = visitor.counts();
    visitor.noteUnreached();
    return outcome;
}  // every object released, then ADLX terminated, before the caller prints

int incomplete(LineAndBackup& io, const RestoreCounts& counts) {
    return restoreIncomplete(io, counts, amdword::kRestoreIncomplete);
}

}  // namespace

int amdRestore(AdlxRuntime& adlx, LineAndBackup& io) {
    if (const std::optional<int> ended =
            restoreWithoutBackup(io, amdword::kNothingToRestore, amdword::kRestoreIncomplete)) {
        return *ended;
    }
    const RestoreOutcome outcome = runRestore(adlx, io.backups, io.out.failures());
    switch (outcome.end) {
        case RestoreEnd::unavailable:
            io.out.printResultLine(resultkind::kUnsupported, 0, 0, amdword::kUnavailable);
            return exitcode::kUnavailable;
        case RestoreEnd::unreadable:
            return incomplete(io, RestoreCounts{});
        case RestoreEnd::counted:
            break;
    }
    if (outcome.counts.failed > 0) {
        return incomplete(io, outcome.counts);
    }
    if (!io.backups.retireBackup(outcome.saved, &isAmdKey)) {
        // Every value is back, but our entries still stand on disk; another restore
        // finishes the job.
        return incomplete(io, outcome.counts);
    }
    io.out.printResultLine(resultkind::kOk, outcome.counts.restored, outcome.counts.restored,
                           amdword::kRestored);
    return exitcode::kSuccess;
}
