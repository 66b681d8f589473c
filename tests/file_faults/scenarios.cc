#include "tests/file_faults/scenarios.h"

namespace {

constexpr PresetLevel kGamer = 1;
constexpr PresetLevel kCompetitivo = 2;
constexpr PresetLevel kExtremo = 3;

}  // namespace

const std::vector<Scenario>& fileFaultScenarios() {
    static const std::vector<Scenario> all = {
        {"apply gamer", false, kGamer, {}, false, false},
        {"apply competitivo", false, kCompetitivo, {}, false, false},
        {"apply extremo", false, kExtremo, {}, false, false},
        {"apply gamer over a backup", false, kGamer, {kGamer}, false, false},
        {"apply competitivo over a backup", false, kCompetitivo, {kGamer}, false, false},
        {"apply extremo over a backup", false, kExtremo, {kGamer}, false, false},
        {"apply extremo over a read-only backup with a foreign entry",
         false,
         kExtremo,
         {kGamer},
         true,
         true},
        {"restore", true, 0, {kGamer, kExtremo}, false, false},
        {"restore with a foreign entry", true, 0, {kExtremo}, true, false},
        {"restore of a read-only backup with a foreign entry", true, 0, {kExtremo}, true, true},
    };
    return all;
}

const std::vector<Scenario>& powerCutScenarios() {
    static const std::vector<Scenario> all = [] {
        std::vector<Scenario> scenarios = fileFaultScenarios();
        scenarios.push_back({"apply gamer with two folders on the way missing",
                             false,
                             kGamer,
                             {},
                             false,
                             false,
                             L"C:\\b\\c\\backup.txt"});
        scenarios.push_back({"apply gamer over a stale, torn temporary file",
                             false,
                             kGamer,
                             {},
                             false,
                             false,
                             L"C:\\b\\backup.txt",
                             true});
        return scenarios;
    }();
    return all;
}
