// One command's use of ADLX: initialise, take the GPU list and the 3D settings services,
// and on the way out release them and only then terminate. Members are declared so that
// C++ destroys them in exactly that order, on every path.
#pragma once

#include "amd/adlx_owner.h"
#include "amd/adlx_runtime.h"
#include "store/failure_log.h"

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

/// Keeps a failed ADLX call in `log`: the step, the call, its result, the key it was for.
void noteAdlx(FailureLog& log, std::string step, std::string_view call, ADLX_RESULT result,
              std::string_view key = {});

class AdlxSession {
  public:
    /// A call of the opening that fails is kept in `log`.
    AdlxSession(AdlxRuntime& runtime, FailureLog& log) : runtime_(runtime), log_(log) {}

    SessionOpening open();

    IADLXGPUList* gpus() const { return gpus_.get(); }
    IADLX3DSettingsServices* services() const { return services_.get(); }

  private:
    AdlxRuntime& runtime_;
    FailureLog& log_;
    AdlxTermination termination_;  // first member: runs after both objects are released
    GpuListOwner gpus_;
    SettingsServicesOwner services_;
};
