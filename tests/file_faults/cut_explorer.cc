#include "tests/file_faults/cut_explorer.h"

#include <map>
#include <memory>
#include <utility>

namespace {

constexpr size_t kExamples = 5;

/// The originals a cut state lost: none when `count` is 0.
struct Verdict {
    size_t count = 0;
    std::string what;  // "lost the original of ... (why)"
};

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

/// A state that cuts in the command under test left, with where each model found it.
struct FirstCut {
    CutState state;
    std::vector<std::pair<size_t, std::string>> found;  // model, where
};

/// One scenario under some models: what every check needs, and a tally per model.
class Exploration {
  public:
    Exploration(const CampaignVendor& vendor, const Scenario& scenario,
                const std::vector<const CutModel*>& models, CutOptions options)
        : vendor_(vendor),
          scenario_(scenario),
          models_(models),
          options_(options),
          tallies_(models.size()) {}

    std::vector<CutTally> run() {
        if (!models_.front()->folderFlushFails) {
            explore(-1);
            return tallies_;
        }
        for (int nth = 1; explore(nth); ++nth) {
        }
        explore(0);
        return tallies_;
    }

  private:
    void broke(size_t model, const std::string& what) {
        CutTally& tally = tallies_[model];
        ++tally.broken;
        if (tally.examples.size() < kExamples) {
            tally.examples.push_back(scenario_.title + ": " + what);
        }
    }

    /// Counts a state for `model`; true when it lost nothing.
    bool count(size_t model, const Verdict& verdict, const RunCuts::Where& where) {
        CutTally& tally = tallies_[model];
        ++tally.states;
        if (options_.list) {
            tally.listed.push_back(where());
        }
        if (verdict.count == 0) {
            return true;
        }
        tally.lost += verdict.count;
        broke(model, where() + ": " + verdict.what);
        return false;
    }

    std::vector<CutView> views(int failing) const {
        std::vector<CutView> views;
        for (const CutModel* model : models_) {
            views.push_back(model->view);
            views.back().disk.failingFolderFlush = failing;
        }
        return views;
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
        std::vector<FirstCut> firsts;
        if (!firstCuts(failing, firsts)) {
            return false;
        }
        for (const FirstCut& first : firsts) {
            const Verdict verdict = judge(first.state.disk, first.state.driver);
            bool lost = false;
            for (const auto& [model, where] : first.found) {
                lost = !count(model, verdict, [&] { return where; }) || lost;
            }
            if (!lost) {
                recover(first);
            }
        }
        return true;
    }

    /// Runs the command under test and keeps the states a cut in it leaves.
    bool firstCuts(int failing, std::vector<FirstCut>& firsts) {
        // The fake NVIDIA driver allows one instance at a time: this one goes before the
        // restores after the cuts make theirs.
        std::unique_ptr<FakeDriver> driver = vendor_.makeDriver();
        originals_ = driver->originals();
        start_ = driver->durable();
        FakeFileSystem earlier;
        std::vector<std::string> problems;
        const Entries foreign = scenario_.foreignEntry ? vendor_.foreign : Entries{};
        if (!prepareFiles(vendor_, scenario_, *driver, foreign, earlier, problems)) {
            broke(0, problems.front());
            return false;
        }
        FakeFileSystem files = fileSystem(DiskImage{earlier.files, earlier.directories});
        const std::string how =
            failing < 0
                ? "cut "
                : (failing == 0
                       ? std::string("with every folder flush failing, cut ")
                       : "with folder flush #" + std::to_string(failing) + " failing, cut ");
        if (failing >= 0) {
            files.failOn("flush-folder", failing);
        }
        std::map<RunCuts::Key, size_t> index;
        std::vector<FirstCut> states;
        RunCuts cuts(files, *driver, views(failing),
                     [&](const DiskImage& disk, const Entries& driverState, const RunCuts::Key& key,
                         size_t model, const RunCuts::Where& where) {
                         const auto [at, fresh] = index.emplace(key, states.size());
                         if (fresh) {
                             states.push_back(FirstCut{CutState{disk, driverState}, {}});
                         }
                         states[at->second].found.emplace_back(model, how + where());
                     });
        runCommand(vendor_, *driver, files, scenario_.backup, scenario_.restoring, scenario_.level);
        cuts.finish();
        if (!cuts.problem().empty()) {
            broke(0, cuts.problem());
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

    /// Every setting that differs from its original must find it in the backup.
    Verdict judge(const DiskImage& disk, const Entries& driver) {
        const auto file = disk.files.find(scenario_.backup);
        const std::string* bytes = file == disk.files.end() ? nullptr : &file->second.bytes;
        // Most states of a run hold the same backup: it is read once.
        if (bytes == nullptr) {
            read_ = BackupText{"", "", {}};
            readBytes_.reset();
        } else if (!readBytes_ || *readBytes_ != *bytes) {
            read_ = readBackupText(*bytes);
            readBytes_ = *bytes;
        }
        Verdict verdict;
        std::string keys;
        for (const auto& [key, value] : driver) {
            const auto recorded = read_.entries.find(key);
            if (value != start_.at(key) &&
                (bytes == nullptr || !read_.problem.empty() || recorded == read_.entries.end() ||
                 recorded->second != originals_.at(key))) {
                keys += (keys.empty() ? "" : ", ") + key;
                ++verdict.count;
            }
        }
        if (verdict.count != 0) {
            verdict.what = "lost the original of " + keys + " (" +
                           (bytes == nullptr        ? std::string("no backup")
                            : read_.problem.empty() ? std::string("the backup lacks it")
                                                    : "the backup: " + read_.problem) +
                           ")";
        }
        return verdict;
    }

    /// The restore after a cut: it must give the backup up only with every original back.
    void recover(const FirstCut& first) {
        std::unique_ptr<FakeDriver> driver = vendor_.makeDriver();
        driver->restart(first.state.driver);
        FakeFileSystem files = fileSystem(first.state.disk);
        std::vector<CutView> seeing;  // the models that found the state, on a sound disk
        for (const auto& [model, where] : first.found) {
            seeing.push_back(models_[model]->view);
            seeing.back().disk.failingFolderFlush = -1;
        }
        std::map<RunCuts::Key, Verdict> verdicts;
        std::unique_ptr<RunCuts> cuts;
        if (options_.secondCut) {
            cuts = std::make_unique<RunCuts>(
                files, *driver, seeing,
                [&](const DiskImage& disk, const Entries& driverState, const RunCuts::Key& key,
                    size_t view, const RunCuts::Where& when) {
                    auto [at, fresh] = verdicts.emplace(key, Verdict{});
                    if (fresh) {
                        at->second = judge(disk, driverState);
                    }
                    const auto& [model, where] = first.found[view];
                    count(model, at->second, [&, &where = where] {
                        return where + "; in the restore after it, cut again " + when();
                    });
                });
        }
        runCommand(vendor_, *driver, files, scenario_.backup, true, 0);
        std::string problem;
        if (cuts) {
            cuts->finish();
            problem = cuts->problem().empty() ? "" : ", then the restore: " + cuts->problem();
        }
        const DiskImage after{files.files, files.directories};
        if (problem.empty() && !holdsOwnEntry(after, scenario_.backup, vendor_.ownsKey)) {
            std::string notBack;
            for (const auto& [key, value] : driver->durable()) {
                if (value != start_.at(key)) {
                    notBack += (notBack.empty() ? "" : ", ") + key;
                }
            }
            if (!notBack.empty()) {
                problem = ", then the restore gave the backup up with " + notBack + " not back";
            }
        }
        if (!problem.empty()) {
            for (const auto& [model, where] : first.found) {
                broke(model, where + problem);
            }
        }
    }

    const CampaignVendor& vendor_;
    const Scenario& scenario_;
    const std::vector<const CutModel*>& models_;
    CutOptions options_;
    Entries originals_;
    Entries start_;
    std::vector<CutTally> tallies_;
    std::optional<std::string> readBytes_;  // the backup last read, and what it held
    BackupText read_;
};

}  // namespace

const std::vector<CutModel>& cutModels() {
    static const std::vector<CutModel> models = {
        {"ntfs", "NTFS", CutView{DiskRules{true, false}, false}, false},
        {"names", "a file flush forces out no names", CutView{DiskRules{false, false}, false},
         false},
        {"flush-fails", "the folder flush after the rename fails",
         CutView{DiskRules{false, false}, false}, true},
        {"fat", "FAT", CutView{DiskRules{true, true}, false}, false},
        {"lazy-driver", "the driver's store writes lazily", CutView{DiskRules{true, false}, true},
         false},
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

std::vector<CutTally> exploreCuts(const CampaignVendor& vendor, const Scenario& scenario,
                                  const std::vector<const CutModel*>& models, CutOptions options) {
    return Exploration(vendor, scenario, models, options).run();
}
