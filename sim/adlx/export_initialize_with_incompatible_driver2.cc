// The export "ADLXInitializeWithIncompatibleDriver2".
#include "sim/adlx/entries.h"

extern "C" __declspec(dllexport) ADLX_RESULT
    ADLXInitializeWithIncompatibleDriver2(uint64_t version, IADLXSystem** system,
                                          IADLMapping** adlMapping) {
    return simInitialize("ADLXInitializeWithIncompatibleDriver2", version, system, adlMapping);
}
