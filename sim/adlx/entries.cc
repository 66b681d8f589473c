#include "sim/adlx/entries.h"

#include <string>

#include "sim/adlx/platform.h"
#include "sim/adlx/runtime.h"
#include "sim/load_by_name.h"

namespace {

constexpr const char* kVersionText = "1.5.0.124-sim";
constexpr const char* kStdoutMarker = "[ADLXTerminate]\n";

/// What the newer initialise entries hand out besides the system; never called.
class AdlMapping : public IADLMapping {
} adlMapping;

}  // namespace

ADLX_RESULT simQueryFullVersion(uint64_t* fullVersion) {
    SimRuntime& rt = SimRuntime::get();
    const CallOutcome o = rt.outcome("QueryFullVersion", "");
    if (o.writesOut && fullVersion != nullptr) {
        *fullVersion = kAdlxFullVersion;
    }
    rt.log("ADLXQueryFullVersion -> " + std::to_string(o.result));
    return o.result;
}

ADLX_RESULT simQueryVersion(const char** version) {
    SimRuntime& rt = SimRuntime::get();
    const CallOutcome o = rt.outcome("QueryVersion", "");
    if (o.writesOut && version != nullptr) {
        *version = kVersionText;
    }
    rt.log("ADLXQueryVersion -> " + std::to_string(o.result));
    return o.result;
}

ADLX_RESULT simInitialize(const char* entry, uint64_t version, IADLXSystem** system,
                          IADLMapping** mapping) {
    SimRuntime& rt = SimRuntime::get();
    const std::wstring& helper = rt.config().loadByName;
    if (!helper.empty()) {
        rt.log("LOAD-BY-NAME " + toUtf8(helper) + " -> " + loadByName(helper));
    }
    const CallOutcome o = rt.outcome("Initialize", entry);
    if (o.writesOut) {
        if (system != nullptr) {
            *system = rt.system();
        }
        if (mapping != nullptr) {
            *mapping = &adlMapping;
        }
    }
    rt.log(std::string(entry) + " " + hex64(version) + " -> " + std::to_string(o.result));
    return o.result;
}

ADLX_RESULT simTerminate() {
    SimRuntime& rt = SimRuntime::get();
    const uint32_t live = rt.reportLiveObjects();
    const CallOutcome o = rt.outcome("Terminate", "");
    if (rt.config().markStdout) {
        writeStdout(kStdoutMarker);
    }
    rt.log("ADLXTerminate live=" + std::to_string(live) + " -> " + std::to_string(o.result));
    return o.result;
}
