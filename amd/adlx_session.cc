#include "amd/adlx_session.h"

void noteAdlx(FailureLog& log, std::string step, std::string_view call, ADLX_RESULT result,
              std::string_view key) {
    log.noteDriver(std::move(step), call, SystemCode{CodeFamily::adlx, result},
                   adlxResultName(result), key);
}

namespace {

constexpr std::string_view kOpening = "opening the driver";

/// A call that succeeded without handing out its object, or handed out nothing usable.
void noteMissing(FailureLog& log, std::string_view call, std::string_view what) {
    log.noteDriver(std::string(kOpening), call, SystemCode{}, {}, what);
}

}  // namespace

SessionOpening AdlxSession::open() {
    const ADLX_RESULT initialized = runtime_.Initialize();
    if (!adlxSucceeded(initialized)) {
        noteAdlx(log_, std::string(kOpening), "Initialize", initialized);
        return SessionOpening::notInitialised;
    }
    termination_.arm(runtime_);
    IADLXSystem* system = runtime_.GetSystemServices();
    if (system == nullptr) {
        noteMissing(log_, "GetSystemServices", "no system services");
        return SessionOpening::noGpu;
    }
    const ADLX_RESULT listed = system->GetGPUs(gpus_.put());
    if (!adlxSucceeded(listed)) {
        noteAdlx(log_, std::string(kOpening), "GetGPUs", listed);
        return SessionOpening::noGpu;
    }
    if (!gpus_ || gpus_->Empty() != 0) {
        noteMissing(log_, "GetGPUs", "no GPU");
        return SessionOpening::noGpu;
    }
    const ADLX_RESULT served = system->Get3DSettingsServices(services_.put());
    if (!adlxSucceeded(served)) {
        noteAdlx(log_, std::string(kOpening), "Get3DSettingsServices", served);
        return SessionOpening::noGpu;
    }
    if (!services_) {
        noteMissing(log_, "Get3DSettingsServices", "no 3D settings services");
        return SessionOpening::noGpu;
    }
    return SessionOpening::ready;
}
