// The export "ADLXInitializeWithIncompatibleDriver".
#include "sim/adlx/sim_entries.h"

extern "C" __declspec(dllexport) ADLX_RESULT
    ADLXInitializeWithIncompatibleDriver(uint64_t version, IADLXSystem** system) {
    return simInitialize("ADLXInitializeWithIncompatibleDriver", version, system, nullptr);
}
