#include "amd/adlx_session.h"

SessionOpening AdlxSession::open() {
    if (!adlxSucceeded(runtime_.Initialize())) {
        return SessionOpening::notInitialised;
    }
    termination_.arm(runtime_);
    IADLXSystem* system = runtime_.GetSystemServices();
    if (system == nullptr) {
        return SessionOpening::noGpu;
    }
    if (!adlxSucceeded(system->GetGPUs(gpus_.put())) || !gpus_ || gpus_->Empty() != 0) {
        return SessionOpening::noGpu;
    }
    if (!adlxSucceeded(system->Get3DSettingsServices(services_.put())) || !services_) {
        return SessionOpening::noGpu;
    }
    return SessionOpening::ready;
}
