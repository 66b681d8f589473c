// How the objects refuse a faulty caller, at least as surely as a real driver would crash
// on one: a call on an object after its last Release, a null out pointer, and a GPU
// argument that is null, that the runtime never handed out, or that was released. The
// check comes before anything else the call does (faults included), is logged as
// "MISUSE <call> <subject> <what>" and counted. An argument is looked up among the pointers
// handed out, never followed; an object called is always one of ours, since its storage
// lives until the world ends, so its count can be read even after its last Release.
#include "sim/adlx/objects.h"

bool AdlxWorld::refuseReleased(const AdlxObject& called, const char* call) {
    if (called.references > 0) {
        return false;
    }
    ++misuses_;
    misused(std::string("MISUSE ") + call + " " + label(called) + " released");
    return true;
}

std::optional<ADLX_RESULT> AdlxWorld::refuse(const AdlxObject* called, const char* call,
                                             const void* out, std::optional<const void*> gpu) {
    if (called != nullptr && refuseReleased(*called, call)) {
        return ADLX_FAIL;
    }
    // The system services and the exported entries belong to the runtime itself.
    std::string subject = called != nullptr ? label(*called) : "runtime";
    const AdlxObject* given = gpu ? issued(*gpu) : nullptr;
    std::string what;
    if (out == nullptr) {
        what = "null-out";
    } else if (gpu && *gpu == nullptr) {
        what = "null-gpu";
    } else if (gpu && (given == nullptr || !given->gpuIndex())) {
        what = "unknown-gpu";
    } else if (gpu && given->references == 0) {
        subject = label(*given);
        what = "released";
    } else {
        return std::nullopt;
    }
    ++misuses_;
    misused("MISUSE " + std::string(call) + " " + subject + " " + what);
    return ADLX_INVALID_ARGS;
}

const AdlxObject* AdlxWorld::issued(const void* face) const {
    for (const auto& object : objects_) {
        if (object->face() == face) {
            return object.get();
        }
    }
    return nullptr;
}
