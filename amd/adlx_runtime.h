// What the AMD commands need of the ADLX binding: initialise, the system services,
// terminate. ADLXHelper is the real one; unit tests pass fakes.
#pragma once

#include "contracts/adlx_interface.h"

class AdlxRuntime {
  public:
    virtual ~AdlxRuntime() = default;
    /// Succeeds on 0, 1 or 2. After a failure the caller does not terminate.
    virtual ADLX_RESULT Initialize() = 0;
    /// Null before a successful Initialize and after Terminate. Never released.
    virtual IADLXSystem* GetSystemServices() = 0;
    virtual ADLX_RESULT Terminate() = 0;
};
