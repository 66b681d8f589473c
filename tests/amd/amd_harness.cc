#include "tests/amd/amd_harness.h"

#include <gtest/gtest.h>

#include <algorithm>

AmdHarness::AmdHarness() {
    files.observer = [this](const std::string& entry) {
        // A replace that left the temporary file behind did not take.
        if (entry.rfind("replace ", 0) == 0 && files.files.count(path + L".tmp") == 0) {
            ++saves;
            adlx.log.push_back("save " + backup());
        } else if (entry.rfind("remove ", 0) == 0) {
            adlx.log.push_back("remove");
        }
    };
}

AmdHarness::~AmdHarness() {
    EXPECT_EQ(adlx.misuseLines, std::vector<std::string>{});
}

std::string amdLine(const char* result, int supported, int changed, const char* message) {
    return std::string("result=") + result + ";vendor=AMD;supported=" + std::to_string(supported) +
           ";changed=" + std::to_string(changed) + ";message=" + message;
}

std::vector<std::string> logFrom(const std::vector<std::string>& log, const std::string& from) {
    auto start = std::find(log.begin(), log.end(), from);
    return std::vector<std::string>(start, log.end());
}
