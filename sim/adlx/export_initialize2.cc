// The export "ADLXInitialize2".
#include "sim/adlx/entries.h"

extern "C" __declspec(dllexport) ADLX_RESULT
    ADLXInitialize2(uint64_t version, IADLXSystem** system, IADLMapping** adlMapping) {
    return simInitialize("ADLXInitialize2", version, system, adlMapping);
}
