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
    exports_.queryFullVersion(&fullVersion_);
    exports_.queryVersion(&version_);
    if (exports_.initialize2 != nullptr) {
        return exports_.initialize2(kAdlxFullVersion, &systemServices_, &adlMapping_);
    }
    return exports_.initialize(kAdlxFullVersion, &systemServices_);
}

ADLX_RESULT ADLXHelper::Terminate() {
    if (!library_) {
        return ADLX_OK;
    }
    fullVersion_ = 0;
    version_ = nullptr;
    systemServices_ = nullptr;
    adlMapping_ = nullptr;
    ADLX_RESULT result = ADLX_OK;
    if (exports_.terminate != nullptr) {
        result = exports_.terminate();
    }
    exports_ = {};
    library_.reset();
    return result;
}
