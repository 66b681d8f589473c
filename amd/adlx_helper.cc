#include "amd/adlx_helper.h"

namespace {

/// Gives a resolved export its declared type. The pointer was made an ExportedProc by the
/// loader; void (*)() converts to any function pointer type without a warning.
template <typename Fn>
Fn typedExport(ExportedProc proc) {
    return reinterpret_cast<Fn>(proc);
}

}  // namespace

ADLXHelper::~ADLXHelper() {
    Terminate();
}

void ADLXHelper::resolveEntries() {
    auto find = [this](const char* name) { return loader_.resolve(library_, name); };
    queryFullVersion_ = typedExport<ADLXQueryFullVersion_Fn>(find(adlxexport::kQueryFullVersion));
    queryVersion_ = typedExport<ADLXQueryVersion_Fn>(find(adlxexport::kQueryVersion));
    initializeWithCallerAdl_ =
        typedExport<ADLXInitializeWithCallerAdl_Fn>(find(adlxexport::kInitializeWithCallerAdl));
    initializeWithIncompatibleDriver2_ = typedExport<ADLXInitializeWithIncompatibleDriver2_Fn>(
        find(adlxexport::kInitializeWithIncompatibleDriver2));
    initialize2_ = typedExport<ADLXInitialize2_Fn>(find(adlxexport::kInitialize2));
    // The older pair is only the fallback of a library that lacks the newer one.
    if (initializeWithIncompatibleDriver2_ == nullptr) {
        initializeWithIncompatibleDriver_ = typedExport<ADLXInitializeWithIncompatibleDriver_Fn>(
            find(adlxexport::kInitializeWithIncompatibleDriver));
        initialize_ = typedExport<ADLXInitialize_Fn>(find(adlxexport::kInitialize));
    }
    terminate_ = typedExport<ADLXTerminate_Fn>(find(adlxexport::kTerminate));
}

bool ADLXHelper::entriesPresent() const {
    const bool newer = initializeWithIncompatibleDriver2_ != nullptr && initialize2_ != nullptr;
    const bool older = initializeWithIncompatibleDriver_ != nullptr && initialize_ != nullptr;
    return library_ != nullptr && queryFullVersion_ != nullptr && queryVersion_ != nullptr &&
           initializeWithCallerAdl_ != nullptr && (newer || older) && terminate_ != nullptr;
}

ADLX_RESULT ADLXHelper::Initialize() {
    if (library_ == nullptr) {
        library_ = loader_.load(kAdlxLibraryName, kAdlxLoadFlags);
        if (library_ != nullptr) {
            resolveEntries();
        }
    }
    if (!entriesPresent()) {
        return ADLX_FAIL;
    }
    queryFullVersion_(&fullVersion_);
    queryVersion_(&version_);
    if (initialize2_ != nullptr) {
        return initialize2_(kAdlxFullVersion, &systemServices_, &adlMapping_);
    }
    return initialize_(kAdlxFullVersion, &systemServices_);
}

ADLX_RESULT ADLXHelper::Terminate() {
    if (library_ == nullptr) {
        return ADLX_OK;
    }
    fullVersion_ = 0;
    version_ = nullptr;
    systemServices_ = nullptr;
    adlMapping_ = nullptr;
    ADLX_RESULT result = ADLX_OK;
    if (terminate_ != nullptr) {
        result = terminate_();
    }
    queryFullVersion_ = nullptr;
    queryVersion_ = nullptr;
    initializeWithCallerAdl_ = nullptr;
    initializeWithIncompatibleDriver_ = nullptr;
    initialize_ = nullptr;
    initializeWithIncompatibleDriver2_ = nullptr;
    initialize2_ = nullptr;
    terminate_ = nullptr;
    loader_.unload(library_);
    library_ = nullptr;
    return result;
}
