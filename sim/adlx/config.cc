#include "sim/adlx/config.h"

#include <string_view>

#include "sim/common/fault_rules.h"
#include "sim/common/sim_text.h"

const std::vector<std::string_view> kAdlxSimVariables = {
    "SIM_ADLX_GPUS",
    "SIM_ADLX_IDS",
    "SIM_ADLX_ABSENT",
    "SIM_ADLX_UNSUPPORTED",
    "SIM_ADLX_MISSING_SERVICES",
    "SIM_ADLX_INITIAL",
    "SIM_ADLX_FAULTS",
    "SIM_ADLX_STATE",
    "SIM_ADLX_LOG",
    "SIM_ADLX_WATCH",
    "SIM_ADLX_MARK_STDOUT",
    "SIM_ADLX_LOAD_BY_NAME",
};

const char* const kGlobalNames[2] = {"rsr", "afmf"};
const char* const kGpuNames[12] = {
    "chill",         "boost",      "frtc",        "sharpening",
    "mlaa",          "aa-mode",    "anisotropic", "tessellation-mode",
    "enhanced-sync", "vsync-mode", "fsr",         "frame-generation"};

namespace {

/// The initialise entries, as they name themselves in the log and in a fault's target.
const char* const kInitializeEntries[] = {
    "ADLXInitialize",
    "ADLXInitialize2",
    "ADLXInitializeWithCallerAdl",
    "ADLXInitializeWithIncompatibleDriver",
    "ADLXInitializeWithIncompatibleDriver2",
};

/// Calls whose subject is always empty: a target would never match them.
const char* const kCallsWithoutSubject[] = {
    "QueryFullVersion", "QueryVersion", "Terminate", "GetGPUs", "Get3DSettingsServices",
};

/// Calls whose subject is a setting ref.
const char* const kSettingCalls[] = {
    "Get", "IsSupported", "IsEnabled", "GetMode", "SetEnabled", "SetMode",
};

template <size_t N>
bool oneOf(const char* const (&names)[N], std::string_view name) {
    for (const char* known : names) {
        if (name == known) {
            return true;
        }
    }
    return false;
}

/// The list's items, blanks trimmed, empty ones left out.
std::vector<std::string> split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    for (std::string_view piece : splitAt(text, separator)) {
        piece = trimBlanks(piece);
        if (!piece.empty()) {
            parts.emplace_back(piece);
        }
    }
    return parts;
}

/// A decimal GPU position, written back in its plain form so it compares with subjects.
std::optional<std::string> decimalIndex(std::string_view text) {
    uint32_t index = 0;
    if (text.empty() || text.find_first_not_of("0123456789") != std::string_view::npos ||
        !parseU32(text, index)) {
        return std::nullopt;
    }
    return std::to_string(index);
}

/// "rsr", "afmf", a per-GPU name, or "gpuN." and a per-GPU name.
bool isSettingRef(std::string_view ref) {
    if (oneOf(kGlobalNames, ref) || oneOf(kGpuNames, ref)) {
        return true;
    }
    const size_t dot = ref.find('.');
    return ref.substr(0, 3) == "gpu" && dot != std::string_view::npos &&
           decimalIndex(ref.substr(3, dot - 3)) && oneOf(kGpuNames, ref.substr(dot + 1));
}

/// The target as the call's subjects are written, or nothing when no subject of that call
/// can ever match it (a typo would otherwise inject nothing, silently).
std::optional<std::string> subjectTarget(const std::string& call, const std::string& target) {
    if (call == "Initialize") {
        return oneOf(kInitializeEntries, target) ? std::optional<std::string>(target)
                                                 : std::nullopt;
    }
    if (call == "At") {
        return decimalIndex(target);
    }
    if (call == "UniqueId") {
        const std::optional<std::string> index =
            target.compare(0, 3, "gpu") == 0 ? decimalIndex(target.substr(3)) : std::nullopt;
        return index ? std::optional<std::string>("gpu" + *index) : std::nullopt;
    }
    if (call == "QueryInterface") {
        return target == "1" || target == "3" ? std::optional<std::string>(target) : std::nullopt;
    }
    if (oneOf(kSettingCalls, call)) {
        return isSettingRef(target) ? std::optional<std::string>(target) : std::nullopt;
    }
    if (call == "*") {
        for (const char* some : {"Initialize", "At", "UniqueId", "QueryInterface", "Get"}) {
            if (std::optional<std::string> subject = subjectTarget(some, target)) {
                return subject;
            }
        }
    }
    return std::nullopt;
}

bool knownCall(const std::string& call) {
    return call == "*" || call == "Initialize" || call == "At" || call == "UniqueId" ||
           call == "QueryInterface" || oneOf(kCallsWithoutSubject, call) ||
           oneOf(kSettingCalls, call);
}

/// This runtime's reading of the shared fault grammar; false with `error` for a rule
/// that names a call or target it does not have.
bool readFaults(const std::string& text, std::vector<AdlxFaultRule>& faults, std::string& error) {
    std::vector<FaultRuleText> rules;
    if (!parseFaultRuleList(text, LegacyAt::kCallNumber, rules, error)) {
        return false;
    }
    for (const FaultRuleText& rule : rules) {
        AdlxFaultRule fault;
        fault.call = rule.call;
        if (!knownCall(rule.call)) {
            error = "fault rule for an unknown call: " + rule.text;
            return false;
        }
        if (rule.target) {
            const std::optional<std::string> subject = subjectTarget(rule.call, *rule.target);
            if (!subject) {
                error = "fault rule with a target its call never has: " + rule.text;
                return false;
            }
            fault.target = *subject;
        }
        fault.nth = rule.nth;
        fault.action.crash = rule.outcome.kind == FaultOutcome::Kind::kCrash;
        fault.action.sleepMs = rule.outcome.sleepMs;
        fault.action.result = rule.outcome.status;
        fault.action.writesOut = rule.outcome.writesOut;
        faults.push_back(fault);
    }
    return true;
}

}  // namespace

bool refCovers(const std::string& ref, const std::string& subject) {
    if (ref == subject) {
        return true;
    }
    return subject.size() > ref.size() + 1 &&
           subject.compare(subject.size() - ref.size(), ref.size(), ref) == 0 &&
           subject[subject.size() - ref.size() - 1] == '.';
}

std::optional<FaultAction> takeFault(std::vector<AdlxFaultRule>& faults, const std::string& call,
                                     const std::string& subject) {
    std::optional<FaultAction> fired;
    for (AdlxFaultRule& rule : faults) {
        if ((rule.call != "*" && rule.call != call) ||
            (!rule.target.empty() && !refCovers(rule.target, subject))) {
            continue;
        }
        ++rule.seen;
        if (!fired && (rule.nth == 0 || rule.nth == rule.seen)) {
            fired = rule.action;
        }
    }
    return fired;
}

AdlxSimConfig parseAdlxSimConfig(const std::map<std::string, std::wstring>& variables) {
    auto text = [&variables](const char* name) { return variableText(variables, name); };
    auto wide = [&variables](const char* name) { return variableValue(variables, name); };
    AdlxSimConfig config;
    // Only the first problem is kept: it is the one the process ends with.
    auto refuse = [&config](const std::string& why) {
        if (config.problem.empty() && !why.empty()) {
            config.problem = why;
        }
    };
    refuse(unknownVariableProblem(variables, kAdlxSimVariables));
    const std::string gpus(trimBlanks(text("SIM_ADLX_GPUS")));
    if (!gpus.empty()) {
        uint32_t n = 0;
        if (parseU32(gpus, n) && n <= 64) {
            config.gpuCount = n;
        } else {
            refuse("SIM_ADLX_GPUS: not a number from 0 to 64: " + gpus);
        }
    }
    for (const std::string& id : split(text("SIM_ADLX_IDS"), ',')) {
        int32_t n = 0;
        if (id == "none") {
            config.ids.push_back(std::nullopt);
        } else if (parseStatus(id, n)) {
            config.ids.push_back(n);
        } else {
            refuse("SIM_ADLX_IDS: bad id: " + id);
        }
    }
    for (const auto& [name, refs] : {std::make_pair("SIM_ADLX_ABSENT", &config.absent),
                                     std::make_pair("SIM_ADLX_UNSUPPORTED", &config.unsupported)}) {
        for (const std::string& ref : split(text(name), ',')) {
            if (isSettingRef(ref)) {
                refs->insert(ref);
            } else {
                refuse(std::string(name) + ": unknown setting: " + ref);
            }
        }
    }
    for (const std::string& which : split(text("SIM_ADLX_MISSING_SERVICES"), ',')) {
        if (which == "1") {
            config.services1 = false;
        } else if (which == "3") {
            config.services3 = false;
        } else {
            refuse("SIM_ADLX_MISSING_SERVICES: not 1 or 3: " + which);
        }
    }
    for (const std::string& entry : split(text("SIM_ADLX_INITIAL"), ',')) {
        const size_t eq = entry.find('=');
        const std::string ref(eq == std::string::npos ? std::string_view()
                                                      : trimBlanks(entry.substr(0, eq)));
        int32_t n = 0;
        if (eq != std::string::npos && isSettingRef(ref) &&
            parseStatus(trimBlanks(std::string_view(entry).substr(eq + 1)), n)) {
            config.initial[ref] = n;
        } else {
            refuse("SIM_ADLX_INITIAL: bad pair: " + entry);
        }
    }
    std::string faultError;
    if (!readFaults(text("SIM_ADLX_FAULTS"), config.faults, faultError)) {
        refuse("SIM_ADLX_FAULTS: " + faultError);
    }
    const std::string mark(trimBlanks(text("SIM_ADLX_MARK_STDOUT")));
    if (mark != "" && mark != "0" && mark != "1") {
        refuse("SIM_ADLX_MARK_STDOUT: not 0 or 1: " + mark);
    }
    config.markStdout = mark == "1";
    config.statePath = wide("SIM_ADLX_STATE");
    config.logPath = wide("SIM_ADLX_LOG");
    config.watchPath = wide("SIM_ADLX_WATCH");
    config.loadByName = wide("SIM_ADLX_LOAD_BY_NAME");
    return config;
}
