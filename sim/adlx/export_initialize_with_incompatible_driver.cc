// The export "ADLXInitializeWithIncompatibleDriver".
#include "sim/adlx/entries.h"

extern "C" __declspec(dllexport) ADLX_RESULT
    ADLXInitializeWithIncompatibleDriver(uint64_t version, IADLXSystem** system) {
    return simInitialize("ADLXInitializeWithIncompatibleDriver", version, system, nullptr);
}
