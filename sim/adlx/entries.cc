#include "sim/adlx/entries.h"

#include <string>

#include "sim/adlx/runtime.h"
#include "sim/load_by_name.h"
#include "sim/platform.h"

namespace {

constexpr const char* kVersionText = "1.5.0.124-sim";
constexpr const char* kStdoutMarker = "[ADLXTerminate]\n";

/// What the newer initialise entries hand out besides the system; never called.
class AdlMapping : public IADLMapping {
} adlMapping;

/// One of the two version queries: writes `value` to `out` when the call does its work.
template <typename Value>
ADLX_RESULT queryVersion(const char* entry, const char* call, Value* out, Value value) {
    SimRuntime& rt = SimRuntime::get();
    if (const std::optional<ADLX_RESULT> refused = rt.refuse(nullptr, entry, out)) {
        return *refused;
    }
    const CallOutcome o = rt.outcome(call, "");
    if (o.writesOut) {
        *out = value;
    }
    rt.log(std::string(entry) + " -> " + std::to_string(o.result));
    return o.result;
}

}  // namespace

ADLX_RESULT simQueryFullVersion(uint64_t* fullVersion) {
    return queryVersion("ADLXQueryFullVersion", "QueryFullVersion", fullVersion, kAdlxFullVersion);
}

ADLX_RESULT simQueryVersion(const char** version) {
    return queryVersion("ADLXQueryVersion", "QueryVersion", version, kVersionText);
}

ADLX_RESULT simInitialize(const char* entry, uint64_t version, IADLXSystem** system,
                          IADLMapping** mapping) {
    SimRuntime& rt = SimRuntime::get();
    if (const std::optional<ADLX_RESULT> refused = rt.refuse(nullptr, entry, system)) {
        return *refused;
    }
    const std::wstring& helper = rt.config().loadByName;
    if (!helper.empty()) {
        rt.log("LOAD-BY-NAME " + toUtf8(helper) + " -> " + loadByName(helper));
    }
    const CallOutcome o = rt.outcome("Initialize", entry);
    if (o.writesOut) {
        *system = rt.system();
        if (mapping != nullptr) {  // the older entries have no mapping to hand out
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
    // "misuse" counts the calls refused so far, beside the objects still alive.
    rt.log("ADLXTerminate live=" + std::to_string(live) +
           " misuse=" + std::to_string(rt.misuses()) + " -> " + std::to_string(o.result));
    return o.result;
}
