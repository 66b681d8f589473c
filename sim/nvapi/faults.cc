#include "sim/nvapi/faults.h"

#include <array>

#include "sim/common/fault_rules.h"
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

/// This library's reading of a rule in the shared grammar: a known function, a setting
/// id as target, and no "+out"/"-out" (a call a fault hits is never performed here).
bool toRule(const FaultRuleText& text, FaultRule& rule, std::string& error) {
    if (text.call != "*") {
        rule.function = canonicalFunctionName(text.call);
        if (rule.function.empty()) {
            error = "fault rule for an unknown function: " + text.text;
            return false;
        }
    }
    if (text.target) {
        uint32_t id = 0;
        if (!parseU32(*text.target, id)) {
            error = "fault rule with a bad setting id: " + text.text;
            return false;
        }
        rule.settingId = id;
    }
    rule.nth = text.nth;
    if (text.outcome.writesOut) {
        error = "fault rule with '+out' or '-out', which this library does not offer: " + text.text;
        return false;
    }
    rule.exitProcess = text.outcome.kind == FaultOutcome::Kind::kCrash;
    rule.sleepMs = text.outcome.sleepMs;
    rule.status = text.outcome.status;
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
    std::vector<FaultRuleText> texts;
    if (!parseFaultRuleList(text, LegacyAt::kTarget, texts, error)) {
        return false;
    }
    for (const FaultRuleText& ruleText : texts) {
        FaultRule rule;
        if (!toRule(ruleText, rule, error)) {
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
