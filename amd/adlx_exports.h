// The ADLX runtime's exports: one table of typed pointers, the order they are resolved in
// and the check that the binding has every entry it counts on.
#pragma once

#include "contracts/adlx_interface.h"
#include "windows/runtime_library.h"

struct AdlxExports {
    ADLXQueryFullVersion_Fn queryFullVersion{nullptr};
    ADLXQueryVersion_Fn queryVersion{nullptr};
    ADLXInitializeWithCallerAdl_Fn initializeWithCallerAdl{nullptr};
    ADLXInitializeWithIncompatibleDriver_Fn initializeWithIncompatibleDriver{nullptr};
    ADLXInitialize_Fn initialize{nullptr};
    ADLXInitializeWithIncompatibleDriver2_Fn initializeWithIncompatibleDriver2{nullptr};
    ADLXInitialize2_Fn initialize2{nullptr};
    ADLXTerminate_Fn terminate{nullptr};

    /// True when both queries, the caller-ADL entry, the newer initialise pair or the older
    /// one, and terminate are all present.
    bool complete() const;
};

/// Resolves the exports of `module` in the order of the table, terminate last. The older
/// initialise pair is looked up only in a library that lacks the newer incompatible-driver
/// entry.
AdlxExports resolveAdlxExports(RuntimeLibraries& libraries, ModuleHandle module);
