// The power-loss explorer over every scenario of both programs, one persistence model at a
// time. Per scenario one line with the states a cut left and the originals they lost; per
// program and model one total line, then the first broken states with where the power was
// cut.
//
//   power_cuts                       the models the test command holds to: NTFS, and a
//                                    file flush forcing out no names, each with a second
//                                    cut in the restore after the first; exit 1 when any
//                                    original was lost
//   power_cuts --model ID ... [--second-cut] [--row TEXT] [--list]
//                                    the models named (ntfs, names, flush-fails, fat,
//                                    lazy-driver), the rows whose name holds TEXT, and
//                                    with --list every cut of them
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "tests/file_faults/cut_explorer.h"
#include "tests/file_faults/scenarios.h"

namespace {

const CutModel* findModel(const std::string& id) {
    for (const CutModel& model : cutModels()) {
        if (model.id == id) {
            return &model;
        }
    }
    return nullptr;
}

std::string rowName(const CampaignVendor& vendor, const CutModel& model, CutOptions options) {
    return vendor.name + ": power cuts, " + model.name + (options.secondCut ? ", second cut" : "");
}

/// Runs models that can share their states over every matching scenario of one program;
/// true when nothing broke.
bool runGroup(const CampaignVendor& vendor, const std::vector<const CutModel*>& models,
              CutOptions options, const std::string& only) {
    std::vector<CutTally> totals(models.size());
    std::vector<std::string> lines(models.size());
    bool any = false;
    for (const Scenario& scenario : powerCutScenarios()) {
        bool wanted = false;
        for (const CutModel* model : models) {
            wanted =
                wanted || (rowName(vendor, *model, options) + ": " + scenario.title).find(only) !=
                              std::string::npos;
        }
        if (!wanted) {
            continue;
        }
        any = true;
        const std::vector<CutTally> tallies = exploreCuts(vendor, scenario, models, options);
        for (size_t m = 0; m < models.size(); ++m) {
            lines[m] += rowName(vendor, *models[m], options) + ": " + scenario.title +
                        ": states=" + std::to_string(tallies[m].states) +
                        " lost=" + std::to_string(tallies[m].lost) + "\n";
            for (const std::string& cut : tallies[m].listed) {
                lines[m] += "    " + cut + "\n";
            }
            totals[m].add(tallies[m]);
        }
    }
    bool allWell = true;
    for (size_t m = 0; any && m < models.size(); ++m) {
        std::printf("%s%s states=%zu lost=%zu broken=%zu\n", lines[m].c_str(),
                    rowName(vendor, *models[m], options).c_str(), totals[m].states, totals[m].lost,
                    totals[m].broken);
        for (const std::string& example : totals[m].examples) {
            std::printf("  %s\n", example.c_str());
        }
        allWell = allWell && totals[m].broken == 0;
    }
    std::fflush(stdout);
    return allWell;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<const CutModel*> models;
    CutOptions options;
    std::string only;
    for (int i = 1; i < argc; ++i) {
        const CutModel* model = nullptr;
        if (std::strcmp(argv[i], "--model") == 0 && i + 1 < argc &&
            (model = findModel(argv[i + 1])) != nullptr) {
            models.push_back(model);
            ++i;
        } else if (std::strcmp(argv[i], "--second-cut") == 0) {
            options.secondCut = true;
        } else if (std::strcmp(argv[i], "--list") == 0) {
            options.list = true;
        } else if (std::strcmp(argv[i], "--row") == 0 && i + 1 < argc) {
            only = argv[++i];
        } else {
            std::fprintf(stderr,
                         "usage: %s [--model ntfs|names|flush-fails|fat|lazy-driver]... "
                         "[--second-cut] [--row TEXT] [--list]\n",
                         argv[0]);
            return 2;
        }
    }
    if (models.empty()) {
        models = {findModel("ntfs"), findModel("names")};
        options.secondCut = true;
    }
    // A model whose folder flushes fail needs runs of its own; the others share theirs.
    std::vector<std::vector<const CutModel*>> groups(1);
    for (const CutModel* model : models) {
        if (model->folderFlushFails) {
            groups.push_back({model});
        } else {
            groups.front().push_back(model);
        }
    }
    const auto started = std::chrono::steady_clock::now();
    bool allWell = true;
    for (const std::vector<const CutModel*>& group : groups) {
        for (const CampaignVendor& vendor : {nvidiaVendor(), amdVendor()}) {
            if (!group.empty()) {
                allWell = runGroup(vendor, group, options, only) && allWell;
            }
        }
    }
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - started;
    std::printf("(%.1f s)\n", took.count());
    return allWell ? EXIT_SUCCESS : EXIT_FAILURE;
}
