// Compiled once per DLL with that DLL's definitions; see CMakeLists.txt.
#include "sim/nvapi/variant.h"

const SimVariant kSimVariant = {
#if defined(SIM_NVAPI_NO_HOOKS)
    false,
    false,
#elif defined(SIM_NVAPI_ONE_HOOK)
    true,
    false,  // a before-call hook without its partner must not be used by callers
#else
    true,
    true,
#endif
#if defined(SIM_NVAPI_NO_UNLOAD_ARGUMENT)
    false,
#else
    true,
#endif
#if defined(SIM_NVAPI_INIT_FAILS)
    kSimInitialiseFailure,
#else
    NVAPI_OK,
#endif
};
