// The one fault grammar of both simulated drivers: what the shared parser reads, and how
// each library takes or refuses what it read.
#include "sim/common/fault_rules.h"

#include <gtest/gtest.h>

#include "sim/adlx/config.h"
#include "sim/common/sim_text.h"
#include "sim/nvapi/faults.h"

namespace {

std::vector<FaultRuleText> parsed(const char* text, LegacyAt at) {
    std::vector<FaultRuleText> rules;
    std::string error;
    EXPECT_TRUE(parseFaultRuleList(text, at, rules, error)) << text << ": " << error;
    return rules;
}

std::string refusal(const char* text, LegacyAt at) {
    std::vector<FaultRuleText> rules;
    std::string error;
    EXPECT_FALSE(parseFaultRuleList(text, at, rules, error)) << text;
    return error;
}

std::string adlxProblem(const char* name, const wchar_t* value) {
    return parseAdlxSimConfig({{name, value}}).problem;
}

}  // namespace

TEST(FaultRules, BothSeparatorsBlanksAndEmptyRules) {
    const auto rules = parsed(" A = 1 ; B:x #2=-2,, C=0x10;", LegacyAt::kTarget);
    ASSERT_EQ(rules.size(), 3u);
    EXPECT_EQ(rules[0].call, "A");
    EXPECT_EQ(rules[0].outcome.status, 1);
    EXPECT_EQ(rules[1].call, "B");
    EXPECT_EQ(*rules[1].target, "x");
    EXPECT_EQ(rules[1].nth, 2u);
    EXPECT_EQ(rules[1].outcome.status, -2);
    EXPECT_FALSE(rules[2].target.has_value());
    EXPECT_EQ(rules[2].outcome.status, 16);
    EXPECT_TRUE(parsed("  ", LegacyAt::kTarget).empty());
}

TEST(FaultRules, AtKeepsEachLibrarysOlderMeaning) {
    const auto nvidia = parsed("GetSetting@0x20#3=-1", LegacyAt::kTarget);
    EXPECT_EQ(*nvidia[0].target, "0x20");
    EXPECT_EQ(nvidia[0].nth, 3u);
    const auto adlx = parsed("SetEnabled:gpu0.boost@2=3", LegacyAt::kCallNumber);
    EXPECT_EQ(*adlx[0].target, "gpu0.boost");
    EXPECT_EQ(adlx[0].nth, 2u);
}

TEST(FaultRules, Outcomes) {
    const auto rules = parsed("A=crash;B=exit;C=sleep:15;D=3+out;E=0-out;F=0xFFFFFF60;G=+4",
                              LegacyAt::kCallNumber);
    EXPECT_EQ(rules[0].outcome.kind, FaultOutcome::Kind::kCrash);
    EXPECT_EQ(rules[1].outcome.kind, FaultOutcome::Kind::kCrash);
    EXPECT_EQ(rules[2].outcome.kind, FaultOutcome::Kind::kSleep);
    EXPECT_EQ(rules[2].outcome.sleepMs, 15u);
    EXPECT_EQ(rules[3].outcome.status, 3);
    EXPECT_EQ(rules[3].outcome.writesOut, std::optional<bool>(true));
    EXPECT_EQ(rules[4].outcome.writesOut, std::optional<bool>(false));
    EXPECT_FALSE(rules[5].outcome.writesOut.has_value());
    EXPECT_EQ(rules[5].outcome.status, -160);
    EXPECT_EQ(rules[6].outcome.status, 4);
}

TEST(FaultRules, Refusals) {
    EXPECT_EQ(refusal("A=1;B", LegacyAt::kTarget), "fault rule without '=': B");
    EXPECT_EQ(refusal("A#0=1", LegacyAt::kTarget), "fault rule with a bad call number: A#0=1");
    EXPECT_EQ(refusal("A@x=1", LegacyAt::kCallNumber), "fault rule with a bad call number: A@x=1");
    EXPECT_EQ(refusal("A@1#2=1", LegacyAt::kCallNumber),
              "fault rule with two call numbers: A@1#2=1");
    EXPECT_EQ(refusal("A:1@2=1", LegacyAt::kTarget), "fault rule with two targets: A:1@2=1");
    EXPECT_EQ(refusal("A=sleep:0", LegacyAt::kTarget), "fault rule with a bad sleep: A=sleep:0");
    EXPECT_EQ(refusal("A=sleep:", LegacyAt::kTarget), "fault rule with a bad sleep: A=sleep:");
    EXPECT_EQ(refusal("A=bogus", LegacyAt::kTarget), "fault rule with a bad status: A=bogus");
    EXPECT_EQ(refusal("A=+out", LegacyAt::kTarget), "fault rule with a bad status: A=+out");
    EXPECT_EQ(refusal("A=-3000000000", LegacyAt::kTarget),
              "fault rule with a bad status: A=-3000000000");
}

TEST(NvapiFaults, TakesTheSharedGrammarAndRefusesWhatItLacks) {
    std::vector<FaultRule> rules;
    std::string error;
    ASSERT_TRUE(parseFaultRules("NvAPI_DRS_GetSetting:0x10#2=crash;*#5=-1", rules, error));
    EXPECT_EQ(rules[0].function, "NvAPI_DRS_GetSetting");
    EXPECT_EQ(rules[0].settingId, std::optional<NvU32>(0x10));
    EXPECT_EQ(rules[0].nth, 2u);
    EXPECT_TRUE(rules[0].exitProcess);
    EXPECT_TRUE(rules[1].function.empty());
    EXPECT_FALSE(parseFaultRules("SetEnabled=3", rules, error));
    EXPECT_EQ(error, "fault rule for an unknown function: SetEnabled=3");
    EXPECT_FALSE(parseFaultRules("GetSetting:chill=3", rules, error));
    EXPECT_EQ(error, "fault rule with a bad setting id: GetSetting:chill=3");
    EXPECT_FALSE(parseFaultRules("GetSetting=3+out", rules, error));
}

TEST(AdlxConfig, TargetsAreCheckedAndWrittenAsSubjectsAre) {
    AdlxSimConfig config = parseAdlxSimConfig(
        {{"SIM_ADLX_FAULTS", L"At:01=3;UniqueId:gpu01#2=3,*:gpu1.chill=crash;Initialize=1"}});
    ASSERT_EQ(config.problem, "");
    ASSERT_EQ(config.faults.size(), 4u);
    EXPECT_EQ(config.faults[0].target, "1");
    EXPECT_EQ(config.faults[1].target, "gpu1");
    EXPECT_EQ(config.faults[1].nth, 2u);
    EXPECT_FALSE(takeFault(config.faults, "SetEnabled", "gpu0.chill"));
    EXPECT_TRUE(takeFault(config.faults, "SetEnabled", "gpu1.chill")->crash);
    EXPECT_TRUE(takeFault(config.faults, "Get", "gpu1.chill")->crash);
}

TEST(AdlxConfig, EveryVariableThatDoesNotParseIsRefused) {
    EXPECT_EQ(adlxProblem("SIM_ADLX_FAULTS", L"SetEnabled=bogus"),
              "SIM_ADLX_FAULTS: fault rule with a bad status: SetEnabled=bogus");
    EXPECT_EQ(adlxProblem("SIM_ADLX_FAULTS", L"GetSetting=3"),
              "SIM_ADLX_FAULTS: fault rule for an unknown call: GetSetting=3");
    for (const wchar_t* rule : {L"SetMode:gpu0=3", L"GetGPUs:0=3", L"At:x=3", L"UniqueId:0=3",
                                L"QueryInterface:2=3", L"Initialize:ADLXInit=3", L"*:nothing=3"}) {
        EXPECT_NE(adlxProblem("SIM_ADLX_FAULTS", rule).find("a target its call never has"),
                  std::string::npos);
    }
    EXPECT_EQ(adlxProblem("SIM_ADLX_GPUS", L"65"), "SIM_ADLX_GPUS: not a number from 0 to 64: 65");
    EXPECT_EQ(adlxProblem("SIM_ADLX_IDS", L"7,x"), "SIM_ADLX_IDS: bad id: x");
    EXPECT_EQ(adlxProblem("SIM_ADLX_UNSUPPORTED", L"rsr,gpu0.chil"),
              "SIM_ADLX_UNSUPPORTED: unknown setting: gpu0.chil");
    EXPECT_EQ(adlxProblem("SIM_ADLX_MISSING_SERVICES", L"2"),
              "SIM_ADLX_MISSING_SERVICES: not 1 or 3: 2");
    EXPECT_EQ(adlxProblem("SIM_ADLX_INITIAL", L"chill"), "SIM_ADLX_INITIAL: bad pair: chill");
    EXPECT_EQ(adlxProblem("SIM_ADLX_MARK_STDOUT", L"yes"), "SIM_ADLX_MARK_STDOUT: not 0 or 1: yes");
    EXPECT_EQ(adlxProblem("SIM_ADLX_INITIAL", L" gpu1.aa-mode = -1 , rsr=0"), "");
    EXPECT_EQ(adlxProblem("SIM_ADLX_FAULT", L"SetEnabled=3"),
              "SIM_ADLX_FAULT: not a variable of this library, which reads SIM_ADLX_GPUS, "
              "SIM_ADLX_IDS, SIM_ADLX_ABSENT, SIM_ADLX_UNSUPPORTED, SIM_ADLX_MISSING_SERVICES, "
              "SIM_ADLX_INITIAL, SIM_ADLX_FAULTS, SIM_ADLX_STATE, SIM_ADLX_LOG, SIM_ADLX_WATCH, "
              "SIM_ADLX_MARK_STDOUT, SIM_ADLX_LOAD_BY_NAME");
}

TEST(SimVariables, ANameNeitherLibraryReadsIsRefused) {
    const std::vector<std::string_view> known = {"SIM_X_A", "SIM_X_B"};
    struct Case {
        std::map<std::string, std::wstring> variables;
        const char* problem;
    } cases[] = {
        {{}, ""},
        {{{"SIM_X_A", L"1"}, {"SIM_X_B", L""}}, ""},
        {{{"SIM_X_A", L"1"}, {"SIM_X_AB", L"1"}},
         "SIM_X_AB: not a variable of this library, which reads SIM_X_A, SIM_X_B"},
        {{{"SIM_X_", L""}}, "SIM_X_: not a variable of this library, which reads SIM_X_A, SIM_X_B"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(unknownVariableProblem(c.variables, known), c.problem);
    }
}
