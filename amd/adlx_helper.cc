#include "amd/adlx_helper.h"

ADLXHelper::~ADLXHelper() {
    Terminate();
}

ADLX_RESULT ADLXHelper::Initialize() {
    if (!library_) {
        library_ = ModuleOwner(libraries_,
                               libraries_.loadLibrary(kAdlxLibraryName, kAdlxLoadFlags).handle);
        if (library_) {
            exports_ = resolveAdlxExports(libraries_, library_.get());
        }
    }
    if (!library_ || !exports_.complete()) {
        return ADLX_FAIL;
    }
    // The versions the runtime reports and the ADL mapping it hands out are asked for as
    // the runtime expects, and not used.
    uint64_t fullVersion = 0;
    exports_.queryFullVersion(&fullVersion);
    const char* version = nullptr;
    exports_.queryVersion(&version);
    if (exports_.initialize2 != nullptr) {
        IADLMapping* adlMapping = nullptr;
        return exports_.initialize2(kAdlxFullVersion, &systemServices_, &adlMapping);
    }
    return exports_.initialize(kAdlxFullVersion, &systemServices_);
}

ADLX_RESULT ADLXHelper::Terminate() {
    if (!library_) {
        return ADLX_OK;
    }
    systemServices_ = nullptr;
    ADLX_RESULT result = ADLX_OK;
    if (exports_.terminate != nullptr) {
        result = exports_.terminate();
    }
    exports_ = {};
    library_.reset();
    return result;
}
