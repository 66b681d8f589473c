// One command's use of ADLX: initialise, take the GPU list and the 3D settings services,
// and on the way out release them and only then terminate. Members are declared so that
// C++ destroys them in exactly that order, on every path.
#pragma once

#include "amd/adlx_owner.h"
#include "amd/adlx_runtime.h"

/// Terminates the runtime when it goes out of scope, once it has been armed by a
/// successful Initialize. A failed Initialize is never followed by Terminate: the
/// binding cleans up at exit.
class AdlxTermination {
  public:
    AdlxTermination() = default;
    ~AdlxTermination() {
        if (runtime_ != nullptr) {
            runtime_->Terminate();
        }
    }
    AdlxTermination(const AdlxTermination&) = delete;
    AdlxTermination& operator=(const AdlxTermination&) = delete;
    void arm(AdlxRuntime& runtime) { runtime_ = &runtime; }

  private:
    AdlxRuntime* runtime_ = nullptr;
};

enum class SessionOpening {
    notInitialised,  // Initialize failed
    noGpu,           // no system services, no GPU list, an empty one, or no 3D services
    ready,
};

class AdlxSession {
  public:
    explicit AdlxSession(AdlxRuntime& runtime) : runtime_(runtime) {}

    SessionOpening open();

    IADLXGPUList* gpus() const { return gpus_.get(); }
    IADLX3DSettingsServices* services() const { return services_.get(); }

  private:
    AdlxRuntime& runtime_;
    AdlxTermination termination_;  // first member: runs after both objects are released
    GpuListOwner gpus_;
    SettingsServicesOwner services_;
};
