// The export "ADLXInitializeWithCallerAdl".
#include "sim/adlx/entries.h"

extern "C" __declspec(dllexport) ADLX_RESULT
    ADLXInitializeWithCallerAdl(uint64_t version, void*, void*, IADLXSystem** system,
                                IADLMapping** adlMapping) {
    return simInitialize("ADLXInitializeWithCallerAdl", version, system, adlMapping);
}
