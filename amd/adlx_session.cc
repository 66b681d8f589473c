#include "amd/adlx_session.h"

void noteAdlx(FailureLog& log, std::string step, std::string_view call, ADLX_RESULT result,
              std::string_view key) {
    log.noteDriver(std::move(step), call, SystemCode{CodeFamily::adlx, result},
                   adlxResultName(result), key);
}

namespace {

constexpr std::string_view kOpening = "opening the driver";

/// Whether an opening call succeeded; keeps it in `log` when it did not.
bool succeeded(FailureLog& log, std::string_view call, ADLX_RESULT result) {
    if (adlxSucceeded(result)) {
        return true;
    }
    noteAdlx(log, std::string(kOpening), call, result);
    return false;
}

/// Whether an opening call that succeeded handed out something usable; when it did not,
/// keeps the call in `log`, `what` saying what is missing.
bool handedOut(FailureLog& log, std::string_view call, bool usable, std::string_view what) {
    if (usable) {
        return true;
    }
    log.noteDriver(std::string(kOpening), call, SystemCode{}, {}, what);
    return false;
}

}  // namespace

SessionOpening AdlxSession::open() {
    if (!succeeded(log_, "Initialize", runtime_.Initialize())) {
        return SessionOpening::notInitialised;
    }
    termination_.arm(runtime_);
    IADLXSystem* system = runtime_.GetSystemServices();
    if (!handedOut(log_, "GetSystemServices", system != nullptr, "no system services")) {
        return SessionOpening::noGpu;
    }
    // Each object is looked at only once the call that hands it out has succeeded.
    if (!succeeded(log_, "GetGPUs", system->GetGPUs(gpus_.put())) ||
        !handedOut(log_, "GetGPUs", gpus_ && gpus_->Empty() == 0, "no GPU")) {
        return SessionOpening::noGpu;
    }
    if (!succeeded(log_, "Get3DSettingsServices", system->Get3DSettingsServices(services_.put())) ||
        !handedOut(log_, "Get3DSettingsServices", static_cast<bool>(services_),
                   "no 3D settings services")) {
        return SessionOpening::noGpu;
    }
    return SessionOpening::ready;
}
