// The file-fault table: for each program and each command, every file operation of a
// run without faults is made to fail in turn (and every write also cut short), and after
// each case the backup, the result line and the driver are checked, then a restore
// without faults must bring the driver back and leave no backup behind.
//
//   file_faults                     every row; exit 1 when any case broke
//   file_faults --row TEXT          only the rows whose name contains TEXT
//   file_faults --fault OP:NTH|every[:short] --row TEXT
//                                   one case, with its file log and result line
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "tests/file_faults/file_fault_case.h"
#include "tests/file_faults/scenarios.h"

namespace {

constexpr int kShownProblems = 3;

std::string joined(const std::vector<std::string>& problems) {
    std::string out;
    for (size_t i = 0; i < problems.size() && i < kShownProblems; ++i) {
        out += (i == 0 ? "" : "; ") + problems[i];
    }
    if (problems.size() > kShownProblems) {
        out += "; and " + std::to_string(problems.size() - kShownProblems) + " more";
    }
    return out;
}

std::string faultArgument(const FileFault& fault) {
    return fault.op + ":" + (fault.nth == 0 ? std::string("every") : std::to_string(fault.nth)) +
           (fault.cutShort ? ":short" : "");
}

/// Runs one row and prints "<row> cases=N broken=M", then one line per broken case.
bool runRow(const CampaignVendor& vendor, const Scenario& scenario) {
    const std::string row = vendor.name + ": every file operation fails: " + scenario.title;
    const CaseOutcome baseline = runCase(vendor, scenario, nullptr, nullptr);
    std::vector<std::string> broken;
    if (!baseline.problems.empty()) {
        broken.push_back("without faults: " + joined(baseline.problems));
    }
    const std::vector<FileFault> faults = faultsFor(baseline.fileLog);
    for (const FileFault& fault : faults) {
        const CaseOutcome outcome = runCase(vendor, scenario, &fault, &baseline);
        if (!outcome.problems.empty()) {
            broken.push_back(describeFault(fault, baseline.fileLog.size()) + " [--fault " +
                             faultArgument(fault) + "]: " + joined(outcome.problems));
        }
    }
    std::printf("%s cases=%zu broken=%zu\n", row.c_str(), faults.size() + 1, broken.size());
    for (const std::string& line : broken) {
        std::printf("  %s\n", line.c_str());
    }
    std::fflush(stdout);
    return broken.empty();
}

/// Runs the one case `argument` names in every matching row and shows all it did.
bool showCase(const CampaignVendor& vendor, const Scenario& scenario, const std::string& argument) {
    const std::string row = vendor.name + ": every file operation fails: " + scenario.title;
    const CaseOutcome baseline = runCase(vendor, scenario, nullptr, nullptr);
    for (const FileFault& fault : faultsFor(baseline.fileLog)) {
        if (faultArgument(fault) != argument) {
            continue;
        }
        const CaseOutcome outcome = runCase(vendor, scenario, &fault, &baseline);
        std::printf("%s / %s\n", row.c_str(),
                    describeFault(fault, baseline.fileLog.size()).c_str());
        for (const std::string& entry : outcome.fileLog) {
            std::printf("  file: %s\n", entry.c_str());
        }
        for (const std::string& line : outcome.lines) {
            std::printf("  line: %s (exit %d)\n", line.c_str(), outcome.exit);
        }
        for (const std::string& problem : outcome.problems) {
            std::printf("  BROKEN: %s\n", problem.c_str());
        }
        return outcome.problems.empty();
    }
    std::printf("%s: no operation %s in the run without faults\n", row.c_str(), argument.c_str());
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    std::string only;
    std::string fault;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--row") == 0 && i + 1 < argc) {
            only = argv[++i];
        } else if (std::strcmp(argv[i], "--fault") == 0 && i + 1 < argc) {
            fault = argv[++i];
        } else {
            std::fprintf(stderr, "usage: %s [--row TEXT] [--fault OP:NTH|every[:short]]\n",
                         argv[0]);
            return 2;
        }
    }
    bool allWell = true;
    for (const CampaignVendor& vendor : {nvidiaVendor(), amdVendor()}) {
        for (const Scenario& scenario : fileFaultScenarios()) {
            const std::string row = vendor.name + ": every file operation fails: " + scenario.title;
            if (row.find(only) == std::string::npos) {
                continue;
            }
            const bool well =
                fault.empty() ? runRow(vendor, scenario) : showCase(vendor, scenario, fault);
            allWell = allWell && well;
        }
    }
    return allWell ? EXIT_SUCCESS : EXIT_FAILURE;
}
