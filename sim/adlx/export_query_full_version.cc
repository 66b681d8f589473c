// The export "ADLXQueryFullVersion".
#include "sim/adlx/entries.h"

extern "C" __declspec(dllexport) ADLX_RESULT ADLXQueryFullVersion(uint64_t* fullVersion) {
    return simQueryFullVersion(fullVersion);
}
