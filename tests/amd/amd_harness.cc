#include "tests/amd/amd_harness.h"

#include <algorithm>

std::vector<std::string> logFrom(const std::vector<std::string>& log, const std::string& from) {
    auto start = std::find(log.begin(), log.end(), from);
    return std::vector<std::string>(start, log.end());
}
