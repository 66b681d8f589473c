#include "sim/adlx/runtime.h"

#include <cstdio>
#include <cstdlib>

#include "sim/environment.h"
#include "sim/platform.h"

namespace {

bool isModeRef(const std::string& ref) {
    return refCovers("aa-mode", ref) || refCovers("tessellation-mode", ref) ||
           refCovers("vsync-mode", ref);
}

bool anyCovers(const std::set<std::string>& refs, const std::string& subject) {
    for (const std::string& ref : refs) {
        if (refCovers(ref, subject)) {
            return true;
        }
    }
    return false;
}

/// The bytes of a file on one log line: backslash, CR and LF escaped.
std::string escaped(const std::string& bytes) {
    std::string out;
    for (char c : bytes) {
        if (c == '\\') {
            out += "\\\\";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\n') {
            out += "\\n";
        } else {
            out += c;
        }
    }
    return out;
}

}  // namespace

std::string hex64(uint64_t value) {
    char text[19];
    std::snprintf(text, sizeof text, "0x%016llX", static_cast<unsigned long long>(value));
    return text;
}

SimRuntime& SimRuntime::get() {
    static SimRuntime instance;
    return instance;
}

void refuseBadConfiguration(const AdlxSimConfig& config) {
    if (config.problem.empty()) {
        return;
    }
    appendToFile(config.logPath, "CONFIG-ERROR " + config.problem + "\n");
    refuseConfiguration("simulated amdadlx64.dll: " + config.problem);
}

SimRuntime::SimRuntime()
    : AdlxWorld("gpu", "gpulist", true),
      config_(parseAdlxSimConfig(variablesStartingWith("SIM_ADLX_"))) {
    refuseBadConfiguration(config_);
    loadState();
}

CallOutcome SimRuntime::outcome(const std::string& call, const std::string& subject) {
    const std::optional<FaultAction> fault = takeFault(config_.faults, call, subject);
    if (!fault) {
        return CallOutcome{ADLX_OK, true};
    }
    if (fault->crash) {
        log("CRASH " + call + " " + subject);
        crashProcess();
    }
    if (fault->sleepMs > 0) {
        // Logged before the wait, so a test knows the process is inside the call.
        log("SLEEP " + call + " " + subject + " " + std::to_string(fault->sleepMs));
        sleepMilliseconds(fault->sleepMs);
        return CallOutcome{ADLX_OK, true};
    }
    return CallOutcome{fault->result, fault->writesOut.value_or(adlxSucceeded(fault->result))};
}

void SimRuntime::note(const AdlxCall& call) {
    std::string line = call.call;
    for (const std::string* part : {&call.object, &call.argument}) {
        if (!part->empty()) {
            line += " " + *part;
        }
    }
    if (!call.result.empty()) {
        line += " -> " + call.result;
    }
    if (!call.output.empty()) {
        line += " " + call.output;
    }
    log(line);
}

void SimRuntime::log(const std::string& line) {
    appendToFile(config_.logPath, line + "\n");
}

bool SimRuntime::exists(const std::string& ref) {
    return !anyCovers(config_.absent, ref);
}

bool SimRuntime::offers(const std::string& which) {
    return (which == "1" && config_.services1) || (which == "3" && config_.services3);
}

adlx_bool SimRuntime::supported(const std::string& ref) {
    return anyCovers(config_.unsupported, ref) ? 0 : 1;
}

int32_t SimRuntime::value(const std::string& ref) {
    const auto stored = values_.find(ref);
    if (stored != values_.end()) {
        return stored->second;
    }
    const auto exact = config_.initial.find(ref);
    if (exact != config_.initial.end()) {
        return exact->second;
    }
    for (const auto& [initialRef, initialValue] : config_.initial) {
        if (refCovers(initialRef, ref)) {
            return initialValue;
        }
    }
    return isModeRef(ref) ? 3 : 1;
}

void SimRuntime::setValue(const std::string& ref, int32_t value) {
    values_[ref] = value;
    saveState();
}

void SimRuntime::beforeSet() {
    if (config_.watchPath.empty()) {
        return;
    }
    const std::optional<std::string> bytes = readWholeFile(config_.watchPath);
    log(bytes ? "watch " + escaped(*bytes) : "watch -");
}

bool SimRuntime::gpuId(uint32_t index, int32_t& id) {
    if (index >= config_.ids.size()) {
        id = static_cast<int32_t>(index);
        return true;
    }
    if (!config_.ids[index]) {
        return false;
    }
    id = *config_.ids[index];
    return true;
}

std::vector<std::string> SimRuntime::allRefs() {
    std::vector<std::string> refs(std::begin(kGlobalNames), std::end(kGlobalNames));
    for (uint32_t gpu = 0; gpu < config_.gpuCount; ++gpu) {
        for (const char* name : kGpuNames) {
            refs.push_back("gpu" + std::to_string(gpu) + "." + name);
        }
    }
    return refs;
}

void SimRuntime::loadState() {
    if (config_.statePath.empty()) {
        return;
    }
    const std::optional<std::string> bytes = readWholeFile(config_.statePath);
    if (!bytes) {
        return;
    }
    size_t start = 0;
    while (start < bytes->size()) {
        size_t end = bytes->find('\n', start);
        if (end == std::string::npos) {
            end = bytes->size();
        }
        const std::string line = bytes->substr(start, end - start);
        const size_t eq = line.find('=');
        if (eq != std::string::npos) {
            values_[line.substr(0, eq)] =
                static_cast<int32_t>(std::strtol(line.c_str() + eq + 1, nullptr, 10));
        }
        start = end + 1;
    }
}

void SimRuntime::saveState() {
    if (config_.statePath.empty()) {
        return;
    }
    std::string bytes;
    for (const std::string& ref : allRefs()) {
        bytes += ref + "=" + std::to_string(value(ref)) + "\n";
    }
    if (replaceFileAtomically(config_.statePath, bytes) != 0) {
        log("STATE-WRITE-FAILED");
    }
}

uint32_t SimRuntime::reportLiveObjects() {
    const std::vector<std::string> live = liveLabels();
    for (const std::string& label : live) {
        log("LEAK " + label);
    }
    return static_cast<uint32_t>(live.size());
}
