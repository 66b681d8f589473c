#include "amd/adlx_exports.h"

#include "windows/function_cast.h"

bool AdlxExports::complete() const {
    const bool newer = initializeWithIncompatibleDriver2 != nullptr && initialize2 != nullptr;
    const bool older = initializeWithIncompatibleDriver != nullptr && initialize != nullptr;
    return queryFullVersion != nullptr && queryVersion != nullptr &&
           initializeWithCallerAdl != nullptr && (newer || older) && terminate != nullptr;
}

AdlxExports resolveAdlxExports(RuntimeLibraries& libraries, ModuleHandle module) {
    auto find = [&libraries, module](const char* name) { return libraries.resolve(module, name); };
    AdlxExports found;
    found.queryFullVersion =
        functionAs<ADLXQueryFullVersion_Fn>(find(adlxexport::kQueryFullVersion));
    found.queryVersion = functionAs<ADLXQueryVersion_Fn>(find(adlxexport::kQueryVersion));
    found.initializeWithCallerAdl =
        functionAs<ADLXInitializeWithCallerAdl_Fn>(find(adlxexport::kInitializeWithCallerAdl));
    found.initializeWithIncompatibleDriver2 = functionAs<ADLXInitializeWithIncompatibleDriver2_Fn>(
        find(adlxexport::kInitializeWithIncompatibleDriver2));
    found.initialize2 = functionAs<ADLXInitialize2_Fn>(find(adlxexport::kInitialize2));
    // The older pair is only the fallback of a library that lacks the newer one.
    if (found.initializeWithIncompatibleDriver2 == nullptr) {
        found.initializeWithIncompatibleDriver =
            functionAs<ADLXInitializeWithIncompatibleDriver_Fn>(
                find(adlxexport::kInitializeWithIncompatibleDriver));
        found.initialize = functionAs<ADLXInitialize_Fn>(find(adlxexport::kInitialize));
    }
    found.terminate = functionAs<ADLXTerminate_Fn>(find(adlxexport::kTerminate));
    return found;
}
