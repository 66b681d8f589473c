// The export "ADLXInitialize".
#include "sim/adlx/entries.h"

extern "C" __declspec(dllexport) ADLX_RESULT
    ADLXInitialize(uint64_t version, IADLXSystem** system) {
    return simInitialize("ADLXInitialize", version, system, nullptr);
}
