#include "tests/campaign/cut_explorer.h"

#include <memory>
#include <utility>

#include "tests/campaign/run_cuts.h"

namespace {

constexpr size_t kExamples = 5;
constexpr const char* kAbsent = "absent";

bool holdsOwnEntry(const DiskImage& disk, const Path& backup, bool (*ownsKey)(std::string_view)) {
    const auto file = disk.files.find(backup);
    if (file == disk.files.end()) {
        return false;
    }
    for (const auto& [key, value] : readBackupText(file->second.bytes).entries) {
        if (ownsKey(key)) {
            return true;
        }
    }
    return false;
}

/// One scenario under one model: what every check needs, and the tally.
class Exploration {
  public:
    Exploration(const CampaignVendor& vendor, const Scenario& scenario, const CutModel& model)
        : vendor_(vendor), scenario_(scenario), model_(model) {}

    CutTally run(CutOptions options) {
        options_ = options;
        if (!model_.folderFlushFails) {
            explore(-1);
            return tally_;
        }
        for (int nth = 1; explore(nth); ++nth) {
        }
        explore(0);
        return tally_;
    }

  private:
    void broke(const std::string& what) {
        ++tally_.broken;
        if (tally_.examples.size() < kExamples) {
            tally_.examples.push_back(scenario_.title + ": " + what);
        }
    }

    static FakeFileSystem fileSystem(const DiskImage& disk) {
        FakeFileSystem files;
        files.files = disk.files;
        files.directories = disk.directories;
        files.crlf = true;
        return files;
    }

    /// The command under test with the folder flush `failing` (as `DiskRules` counts), every
    /// cut in it, and the restore after each. False when it made fewer folder flushes than
    /// `failing` names.
    bool explore(int failing) {
        std::vector<std::pair<CutState, std::string>> firsts;
        if (!firstCuts(failing, firsts)) {
            return false;
        }
        for (const auto& [state, where] : firsts) {
            ++tally_.states;
            if (check(state, [&] { return where; })) {
                recover(state, where);
            }
        }
        return true;
    }

    /// Runs the command under test and keeps the states a cut in it leaves.
    bool firstCuts(int failing, std::vector<std::pair<CutState, std::string>>& firsts) {
        // The fake NVIDIA driver allows one instance at a time: this one goes before the
        // restores after the cuts make theirs.
        std::unique_ptr<FakeDriver> driver = vendor_.makeDriver();
        originals_ = driver->originals();
        start_ = driver->durable();
        FakeFileSystem earlier;
        std::vector<std::string> problems;
        const Entries foreign = scenario_.foreignEntry ? vendor_.foreign : Entries{};
        if (!prepareFiles(vendor_, scenario_, *driver, foreign, earlier, problems)) {
            broke(problems.front());
            return false;
        }
        FakeFileSystem files = fileSystem(DiskImage{earlier.files, earlier.directories});
        DiskRules rules = model_.disk;
        rules.failingFolderFlush = failing;
        const std::string how =
            failing < 0
                ? "cut "
                : (failing == 0
                       ? std::string("with every folder flush failing, cut ")
                       : "with folder flush #" + std::to_string(failing) + " failing, cut ");
        if (failing >= 0) {
            files.failOn("flush-folder", failing);
        }
        std::vector<std::pair<CutState, std::string>> states;
        RunCuts cuts(files, *driver, rules, model_.lazyDriver,
                     [&](const CutState& state, const RunCuts::Where& where) {
                         states.emplace_back(state, how + where());
                     });
        runCommand(vendor_, *driver, files, scenario_.backup, scenario_.restoring, scenario_.level);
        cuts.finish();
        if (!cuts.problem().empty()) {
            broke(cuts.problem());
            return false;
        }
        int folderFlushes = 0;
        for (const std::string& entry : files.log) {
            folderFlushes += entry.rfind("flush-folder ", 0) == 0 ? 1 : 0;
        }
        if (failing > folderFlushes) {
            return false;
        }
        firsts = std::move(states);
        return true;
    }

    /// True when every setting that differs from its original finds it in the backup.
    bool check(const CutState& state, const RunCuts::Where& where) {
        if (options_.list) {
            tally_.listed.push_back(where());
        }
        const auto file = state.disk.files.find(scenario_.backup);
        const BackupText text = file == state.disk.files.end() ? BackupText{kAbsent, "", {}}
                                                               : readBackupText(file->second.bytes);
        std::string lost;
        size_t count = 0;
        for (const auto& [key, value] : state.driver) {
            const auto recorded = text.entries.find(key);
            if (value != start_.at(key) &&
                (!text.problem.empty() || recorded == text.entries.end() ||
                 recorded->second != originals_.at(key))) {
                lost += (lost.empty() ? "" : ", ") + key;
                ++count;
            }
        }
        if (count == 0) {
            return true;
        }
        tally_.lost += count;
        broke(where() + ": lost the original of " + lost + " (" +
              (text.problem.empty()      ? std::string("the backup lacks it")
               : text.problem == kAbsent ? "no backup"
                                         : "the backup: " + text.problem) +
              ")");
        return false;
    }

    /// The restore after a cut: it must give the backup up only with every original back.
    void recover(const CutState& state, const std::string& where) {
        std::unique_ptr<FakeDriver> driver = vendor_.makeDriver();
        driver->restart(state.driver);
        FakeFileSystem files = fileSystem(state.disk);
        std::unique_ptr<RunCuts> cuts;
        if (options_.secondCut) {
            DiskRules rules = model_.disk;
            rules.failingFolderFlush = -1;
            cuts = std::make_unique<RunCuts>(
                files, *driver, rules, model_.lazyDriver,
                [&](const CutState& second, const RunCuts::Where& when) {
                    ++tally_.states;
                    check(second,
                          [&] { return where + "; in the restore after it, cut again " + when(); });
                });
        }
        runCommand(vendor_, *driver, files, scenario_.backup, true, 0);
        if (cuts) {
            cuts->finish();
            if (!cuts->problem().empty()) {
                broke(where + ", then the restore: " + cuts->problem());
            }
        }
        DiskImage after{files.files, files.directories};
        if (holdsOwnEntry(after, scenario_.backup, vendor_.ownsKey)) {
            return;
        }
        std::string notBack;
        for (const auto& [key, value] : driver->durable()) {
            if (value != start_.at(key)) {
                notBack += (notBack.empty() ? "" : ", ") + key;
            }
        }
        if (!notBack.empty()) {
            broke(where + ", then the restore gave the backup up with " + notBack + " not back");
        }
    }

    const CampaignVendor& vendor_;
    const Scenario& scenario_;
    const CutModel& model_;
    Entries originals_;
    Entries start_;
    CutOptions options_;
    CutTally tally_;
};

}  // namespace

const std::vector<CutModel>& cutModels() {
    static const std::vector<CutModel> models = {
        {"ntfs", "NTFS", DiskRules{true, false}, false, false},
        {"names", "a file flush forces out no names", DiskRules{false, false}, false, false},
        {"flush-fails", "the folder flush after the rename fails", DiskRules{false, false}, true,
         false},
        {"fat", "FAT", DiskRules{true, true}, false, false},
        {"lazy-driver", "the driver's store writes lazily", DiskRules{true, false}, false, true},
    };
    return models;
}

void CutTally::add(const CutTally& other) {
    states += other.states;
    lost += other.lost;
    broken += other.broken;
    for (const std::string& example : other.examples) {
        if (examples.size() < kExamples) {
            examples.push_back(example);
        }
    }
}

CutTally exploreCuts(const CampaignVendor& vendor, const Scenario& scenario, const CutModel& model,
                     CutOptions options) {
    return Exploration(vendor, scenario, model).run(options);
}
