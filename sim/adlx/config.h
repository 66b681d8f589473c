// The simulated runtime's configuration, read from SIM_ADLX_* environment variables
// (grammar in docs/simulated-adlx.md; the fault rules' is shared with the NVIDIA library,
// sim/common/fault_rules.h). Parsing is plain text work; reading the environment is the
// platform file's.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

/// What a fault does to the call it hits.
struct FaultAction {
    bool crash = false;  // the process ends at that call
    /// Non-zero: the call waits this long, then behaves as if no fault had hit it.
    uint32_t sleepMs = 0;
    int32_t result = 0;
    /// Whether the call still writes its out value or object; by default only on success.
    std::optional<bool> writesOut;
};

struct AdlxFaultRule {
    std::string call;    // "GetMode", "At", "Initialize", ...; "*" for any call
    std::string target;  // empty: any; else a subject or the tail after a "."
    uint32_t nth = 0;    // 0: every matching call; else only the Nth (1-based)
    FaultAction action;
    uint32_t seen = 0;  // matching calls so far
};

struct AdlxSimConfig {
    uint32_t gpuCount = 1;
    /// One per GPU; nothing means UniqueId writes nothing. GPUs beyond the list use their
    /// index.
    std::vector<std::optional<int32_t>> ids;
    std::set<std::string> absent;       // setting refs whose getter fails
    std::set<std::string> unsupported;  // setting refs whose IsSupported says no
    bool services1 = true;
    bool services3 = true;
    std::map<std::string, int32_t> initial;  // ref -> starting value
    std::vector<AdlxFaultRule> faults;
    std::wstring statePath;
    std::wstring logPath;
    std::wstring watchPath;
    /// Writes a marker line to standard output at ADLXTerminate, so a test sees whether
    /// the tool printed its line before or after terminating.
    bool markStdout = false;
    /// A library every initialise loads by bare name, as a real runtime loads helpers of
    /// its own; the log says where it came from. Empty: no such load.
    std::wstring loadByName;
    /// Why the first variable that could not be parsed was refused; empty when all
    /// parsed. The library then ends the process before the program can use it.
    std::string problem;
};

/// Builds the configuration from every SIM_ADLX_ variable that is set, by its name in upper
/// case; a missing variable is "", and a name this runtime does not read is refused.
AdlxSimConfig parseAdlxSimConfig(const std::map<std::string, std::wstring>& variables);

/// The setting names: the global ones, and the ones every GPU has.
extern const char* const kGlobalNames[2];
extern const char* const kGpuNames[12];

/// The variable names parseAdlxSimConfig reads.
extern const std::vector<std::string_view> kAdlxSimVariables;

/// True when `ref` (for example "chill" or "gpu1.chill") covers the setting `subject`
/// ("gpu1.chill", "rsr"): equal, or `subject` ends with "." + `ref`.
bool refCovers(const std::string& ref, const std::string& subject);

/// Matches `call` on `subject` against the faults, counting the call in every rule it
/// matches; the first rule that fires gives the action.
std::optional<FaultAction> takeFault(std::vector<AdlxFaultRule>& faults, const std::string& call,
                                     const std::string& subject);
