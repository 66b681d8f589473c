#include "sim/nvapi/faults.h"

#include <array>

#include "sim/nvapi/text.h"

namespace {

/// Every function the library answers for, as it appears in the call log.
constexpr std::array<std::string_view, 11> kFunctions = {
    "NvAPI_Initialize",
    "NvAPI_DRS_CreateSession",
    "NvAPI_DRS_LoadSettings",
    "NvAPI_DRS_GetBaseProfile",
    "NvAPI_DRS_GetSetting",
    "NvAPI_DRS_SetSetting",
    "NvAPI_DRS_DeleteProfileSetting",
    "NvAPI_DRS_SaveSettings",
    "NvAPI_DRS_DestroySession",
    "NvAPI_Unload",
    "UnloadWithArgument",
};

std::string_view shortName(std::string_view name) {
    for (std::string_view prefix : {std::string_view("NvAPI_DRS_"), std::string_view("NvAPI_")}) {
        if (name.substr(0, prefix.size()) == prefix) {
            return name.substr(prefix.size());
        }
    }
    return name;
}

bool parseRule(std::string_view text, FaultRule& rule, std::string& error) {
    const size_t eq = text.find('=');
    if (eq == std::string_view::npos) {
        error = "fault rule without '=': " + std::string(text);
        return false;
    }
    std::string_view target = trimBlanks(text.substr(0, eq));
    const std::string_view outcome = trimBlanks(text.substr(eq + 1));

    const size_t hash = target.find('#');
    if (hash != std::string_view::npos) {
        if (!parseU32(target.substr(hash + 1), rule.nth) || rule.nth == 0) {
            error = "fault rule with a bad call number: " + std::string(text);
            return false;
        }
        target = target.substr(0, hash);
    }
    const size_t at = target.find('@');
    if (at != std::string_view::npos) {
        uint32_t id = 0;
        if (!parseU32(target.substr(at + 1), id)) {
            error = "fault rule with a bad setting id: " + std::string(text);
            return false;
        }
        rule.settingId = id;
        target = target.substr(0, at);
    }
    if (target != "*") {
        rule.function = canonicalFunctionName(target);
        if (rule.function.empty()) {
            error = "fault rule for an unknown function: " + std::string(text);
            return false;
        }
    }
    constexpr std::string_view kSleep = "sleep:";
    if (outcome == "exit") {
        rule.exitProcess = true;
    } else if (outcome.substr(0, kSleep.size()) == kSleep) {
        if (!parseU32(outcome.substr(kSleep.size()), rule.sleepMs) || rule.sleepMs == 0) {
            error = "fault rule with a bad sleep: " + std::string(text);
            return false;
        }
    } else if (!parseStatus(outcome, rule.status)) {
        error = "fault rule with a bad status: " + std::string(text);
        return false;
    }
    return true;
}

}  // namespace

std::string canonicalFunctionName(std::string_view name) {
    for (std::string_view function : kFunctions) {
        if (name == function || name == shortName(function)) {
            return std::string(function);
        }
    }
    return {};
}

bool parseFaultRules(std::string_view text, std::vector<FaultRule>& rules, std::string& error) {
    rules.clear();
    if (trimBlanks(text).empty()) {
        return true;
    }
    for (std::string_view piece : splitAt(text, ',')) {
        FaultRule rule;
        if (!parseRule(trimBlanks(piece), rule, error)) {
            return false;
        }
        rules.push_back(rule);
    }
    return true;
}

std::optional<FaultRule> FaultPlan::nextCall(const std::string& function,
                                             std::optional<NvU32> settingId) {
    ++calls_;
    std::optional<FaultRule> fired;
    // Every rule counts its matches, also behind one that fires, so "#n" always means
    // the n-th matching call whatever other rules did.
    for (size_t i = 0; i < rules_.size(); ++i) {
        const FaultRule& rule = rules_[i];
        if (!rule.function.empty() && rule.function != function) {
            continue;
        }
        if (rule.settingId && settingId != rule.settingId) {
            continue;
        }
        const uint32_t count = rule.function.empty() && !rule.settingId ? calls_ : ++matched_[i];
        if (!fired && (rule.nth == 0 || rule.nth == count)) {
            fired = rule;
        }
    }
    return fired;
}
