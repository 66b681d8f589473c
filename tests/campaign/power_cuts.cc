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

#include "tests/campaign/cut_explorer.h"
#include "tests/campaign/scenarios.h"

namespace {

const CutModel* findModel(const std::string& id) {
    for (const CutModel& model : cutModels()) {
        if (model.id == id) {
            return &model;
        }
    }
    return nullptr;
}

/// Runs one model over every matching scenario of one program; true when nothing broke.
bool runModel(const CampaignVendor& vendor, const CutModel& model, CutOptions options,
              const std::string& only) {
    const std::string row =
        vendor.name + ": power cuts, " + model.name + (options.secondCut ? ", second cut" : "");
    CutTally total;
    bool any = false;
    for (const Scenario& scenario : powerCutScenarios()) {
        if ((row + ": " + scenario.title).find(only) == std::string::npos) {
            continue;
        }
        any = true;
        const CutTally tally = exploreCuts(vendor, scenario, model, options);
        std::printf("%s: %s: states=%zu lost=%zu\n", row.c_str(), scenario.title.c_str(),
                    tally.states, tally.lost);
        for (const std::string& cut : tally.listed) {
            std::printf("    %s\n", cut.c_str());
        }
        total.add(tally);
    }
    if (!any) {
        return true;
    }
    std::printf("%s states=%zu lost=%zu broken=%zu\n", row.c_str(), total.states, total.lost,
                total.broken);
    for (const std::string& example : total.examples) {
        std::printf("  %s\n", example.c_str());
    }
    std::fflush(stdout);
    return total.broken == 0;
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
    const auto started = std::chrono::steady_clock::now();
    bool allWell = true;
    for (const CutModel* model : models) {
        for (const CampaignVendor& vendor : {nvidiaVendor(), amdVendor()}) {
            allWell = runModel(vendor, *model, options, only) && allWell;
        }
    }
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - started;
    std::printf("(%.1f s)\n", took.count());
    return allWell ? EXIT_SUCCESS : EXIT_FAILURE;
}
