// What one build of the simulated library offers. The core is built once; every DLL
// links its own definition of kSimVariant, made from its compile definitions.
#pragma once

#include "contracts/nvapi_types.h"

struct SimVariant {
    bool beforeCallHook;
    bool afterCallHook;
    bool unloadWithArgument;
    /// What the initialise entry returns when no fault overrides it.
    NvAPI_Status initialiseStatus;
};

/// The status of the failing-initialise variant: what a driver without a usable GPU says.
constexpr NvAPI_Status kSimInitialiseFailure = -6;

extern const SimVariant kSimVariant;
