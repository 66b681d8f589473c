// Injected faults: which call answers with which status, or ends the process.
//
// Rules are written in the grammar both simulated libraries share (sim/common/
// fault_rules.h); here a call is a driver function ("GetSetting" or
// "NvAPI_DRS_GetSetting", ...) or "*", and a target is a setting id. A target limits a rule
// to calls about that setting (GetSetting, SetSetting, DeleteProfileSetting). "#n" fires
// only at the n-th call the rule matches (counted from 1); with a bare "*" that is the n-th
// driver call of the process. Without "#n" every matching call fires. The first rule that
// fires wins; the call is then not performed, except after a sleep, which only delays it
// (so a test can keep a run busy at a chosen point).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "contracts/nvapi_types.h"

struct FaultRule {
    std::string function;            // canonical log name; empty for "*"
    std::optional<NvU32> settingId;  // only calls about this setting
    uint32_t nth = 0;                // 0: every matching call
    bool exitProcess = false;
    uint32_t sleepMs = 0;  // non-zero: wait this long, then perform the call
    NvAPI_Status status = 0;
};

/// Parses the rule list; an empty text gives no rules. On false `error` says why.
bool parseFaultRules(std::string_view text, std::vector<FaultRule>& rules, std::string& error);

/// The canonical log name of a driver function, from either spelling; empty if unknown.
std::string canonicalFunctionName(std::string_view name);

/// Counts calls and answers which rule, if any, fires for the next one.
class FaultPlan {
  public:
    explicit FaultPlan(std::vector<FaultRule> rules)
        : rules_(std::move(rules)), matched_(rules_.size(), 0) {}

    /// Counts one driver call of `function` (about `settingId`, if it has one) and returns
    /// the first rule that fires for it.
    std::optional<FaultRule> nextCall(const std::string& function, std::optional<NvU32> settingId);

  private:
    std::vector<FaultRule> rules_;
    std::vector<uint32_t> matched_;
    uint32_t calls_ = 0;
};
