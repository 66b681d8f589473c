// The one fault-rule grammar of both simulated libraries (SIM_NVAPI_FAULTS and
// SIM_ADLX_FAULTS), read into a form neither library owns; each library then checks the
// call names and targets it knows. One parser keeps a rule meaning the same in both, so a
// rule written for one never silently does nothing in the other.
//
//   rules   := rule { ("," | ";") rule }          blanks around every piece are ignored
//   rule    := call [ ":" target ] [ "#" n ] "=" outcome
//   outcome := status [ "+out" | "-out" ] | "crash" | "exit" | "sleep:" milliseconds
//
// Older spellings stay accepted: "@" after the call is the target in SIM_NVAPI_FAULTS
// ("GetSetting@0x10") and the call number in SIM_ADLX_FAULTS ("SetMode@2"), as each library
// read it before the two grammars were made one.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

/// What a rule does to the call it hits.
struct FaultOutcome {
    enum class Kind { kStatus, kCrash, kSleep };
    Kind kind = Kind::kStatus;
    int32_t status = 0;
    std::optional<bool> writesOut;  // "+out" / "-out"; nothing: the library's default
    uint32_t sleepMs = 0;           // kSleep: at least 1
};

struct FaultRuleText {
    std::string text;                   // the whole rule, for messages
    std::string call;                   // as written; "*" for any call
    std::optional<std::string> target;  // as written; nothing: any subject
    uint32_t nth = 0;                   // 0: every matching call; else only the n-th
    FaultOutcome outcome;
};

/// What an "@" between the call and "=" means in one library's older spelling.
enum class LegacyAt { kTarget, kCallNumber };

/// Parses a rule list; an empty or blank text gives no rules, empty pieces are skipped.
/// On false `error` says why and quotes the rule ("fault rule with a bad status: X=y").
bool parseFaultRuleList(std::string_view text, LegacyAt at, std::vector<FaultRuleText>& rules,
                        std::string& error);
