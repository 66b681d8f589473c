// The export "ADLXQueryVersion".
#include "sim/adlx/entries.h"

extern "C" __declspec(dllexport) ADLX_RESULT ADLXQueryVersion(const char** version) {
    return simQueryVersion(version);
}
