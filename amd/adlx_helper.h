// ADLXHelper: loads the ADLX runtime library at run time, checks that it has every entry
// the binding counts on, initialises one fixed ADLX version and hands out the system
// services. The program holds one instance for its whole run (process_adlx.h).
#pragma once

#include <cstdint>

#include "amd/adlx_exports.h"
#include "amd/adlx_runtime.h"
#include "contracts/adlx_interface.h"
#include "windows/module_owner.h"
#include "windows/runtime_library.h"

class ADLXHelper : public AdlxRuntime {
  public:
    explicit ADLXHelper(RuntimeLibraries& libraries) : libraries_(libraries) {}
    /// Terminates and unloads, as Terminate does; the result is dropped.
    ~ADLXHelper() override;
    ADLXHelper(const ADLXHelper&) = delete;
    ADLXHelper& operator=(const ADLXHelper&) = delete;

    /// Loads and resolves once (while loaded nothing is loaded or resolved again), then
    /// initialises. ADLX_FAIL when the library or a required entry is missing; otherwise
    /// the result of "ADLXInitialize2", or of "ADLXInitialize" where the former is absent.
    ADLX_RESULT Initialize() override;

    IADLXSystem* GetSystemServices() override { return systemServices_; }

    /// The result of "ADLXTerminate"; 0 when nothing is loaded. Unloads the library.
    ADLX_RESULT Terminate() override;

  private:
    RuntimeLibraries& libraries_;
    ModuleOwner library_;
    AdlxExports exports_;
    IADLXSystem* systemServices_ = nullptr;
};

/// The search flags for the runtime library: application directory, user directories,
/// system32 and the default directories.
constexpr uint32_t kAdlxLoadFlags = 0x1E00;
