// The export "ADLXTerminate".
#include "sim/adlx/entries.h"

extern "C" __declspec(dllexport) ADLX_RESULT ADLXTerminate() {
    return simTerminate();
}
