#include "nvidia/nvapi_loader.h"

namespace {

/// Holds the loader lock for the length of a scope.
class LockHolder {
  public:
    explicit LockHolder(LoaderLock& lock) : lock_(lock) { lock_.enter(); }
    ~LockHolder() { lock_.leave(); }
    LockHolder(const LockHolder&) = delete;
    LockHolder& operator=(const LockHolder&) = delete;

  private:
    LoaderLock& lock_;
};

/// Marks an unload in progress; cleared again on every way out of the unload.
class UnloadingMark {
  public:
    explicit UnloadingMark(std::atomic<bool>& flag) : flag_(flag) { flag_ = true; }
    ~UnloadingMark() { flag_ = false; }
    UnloadingMark(const UnloadingMark&) = delete;
    UnloadingMark& operator=(const UnloadingMark&) = delete;

  private:
    std::atomic<bool>& flag_;
};

/// The library's unload entry: the one taking an argument when it has it, else its own
/// NvAPI_Unload.
struct UnloadEntry {
    NvapiUnloadWithArgumentFn withArgument = nullptr;
    NvAPI_Unload_t plain = nullptr;

    bool exists() const { return withArgument != nullptr || plain != nullptr; }
    NvAPI_Status operator()() const { return withArgument != nullptr ? withArgument(0) : plain(); }
};

}  // namespace

LoaderLock& NvapiLoader::lock() {
    // Created on first use; two threads arriving together must still share one lock.
    std::call_once(lockCreated_, [this] { lock_ = os_.createLock(); });
    return *lock_;
}

bool NvapiLoader::waitWhileUnloading() {
    for (int waits = 0; unloading_; ++waits) {
        if (waits == kUnloadWaits) {
            return false;
        }
        os_.sleep(kUnloadWaitMs);
    }
    return true;
}

NvAPI_Status NvapiLoader::ensureLoaded() {
    if (!waitWhileUnloading()) {
        return NVAPI_ERROR;
    }
    if (bound_) {
        return NVAPI_OK;
    }
    // Binding takes the lock, so two first calls on two threads cannot both load and bind.
    LockHolder hold(lock());
    return bindIfUnbound();
}

NvAPI_Status NvapiLoader::ensureLoadedHoldingLock() {
    if (!waitWhileUnloading()) {
        return NVAPI_ERROR;
    }
    return bindIfUnbound();
}

NvAPI_Status NvapiLoader::bindIfUnbound() {
    if (library_) {
        return NVAPI_OK;
    }
    LoadResult loaded = system_.load(kNvapiLibraryName, loadflag::kSearchSystem32);
    if (loaded.handle == nullptr) {
        return NVAPI_LIBRARY_NOT_FOUND;
    }
    // Every early return below frees the library through its owner.
    ModuleOwner library(os_, loaded.handle);
    auto query =
        functionAs<NvapiQueryInterfaceFn>(os_.resolve(library.get(), kQueryInterfaceExport));
    if (query == nullptr) {
        return NVAPI_ERROR;
    }
    auto init = functionAs<NvAPI_Initialize_t>(query(nvapiid::kInitialize));
    if (init == nullptr) {
        return NVAPI_ERROR;
    }
    const NvAPI_Status status = init();
    if (status != NVAPI_OK) {
        return status;
    }
    NvapiExports bound{query, init};
    bound.beforeCall = functionAs<NvapiBeforeCallHookFn>(query(nvapiid::kBeforeCallHook));
    bound.afterCall = functionAs<NvapiAfterCallHookFn>(query(nvapiid::kAfterCallHook));
    if (bound.beforeCall == nullptr || bound.afterCall == nullptr) {
        bound.beforeCall = nullptr;
        bound.afterCall = nullptr;
    }
    clearEntryCache();

    library_ = std::move(library);
    exports_ = bound;
    initialised_ = 1;
    initCount_ = 1;
    bound_ = true;
    return NVAPI_OK;
}

void NvapiLoader::unbind() {
    bound_ = false;
    exports_ = {};
    clearEntryCache();
    library_.reset();
    initCount_ = 0;
    initialised_ = 0;
}

void* NvapiLoader::entryFor(NvU32 id) {
    std::atomic<void*>* slot = nullptr;
    for (size_t i = 0; i < kCachedEntryIds.size(); ++i) {
        if (kCachedEntryIds[i] == id) {
            slot = &entryCache_[i];
        }
    }
    if (slot != nullptr && *slot != nullptr) {
        return *slot;
    }
    if (exports_.queryInterface == nullptr) {
        return nullptr;
    }
    void* entry = exports_.queryInterface(id);
    if (slot != nullptr) {
        *slot = entry;
    }
    return entry;
}

void NvapiLoader::clearEntryCache() {
    for (auto& slot : entryCache_) {
        slot = nullptr;
    }
}

NvAPI_Status NvapiLoader::initialize() {
    LockHolder hold(lock());
    InFlight inFlight(callsInFlight_);
    const int notedInitCount = initCount_;
    NvAPI_Status status = ensureLoadedHoldingLock();
    if (status != NVAPI_OK) {
        return status;
    }
    if (initialised_ == 0) {
        status = exports_.initialize != nullptr ? exports_.initialize() : NVAPI_ERROR;
        if (status != NVAPI_OK) {
            return status;
        }
        initialised_ = 1;
    }
    initCount_ = notedInitCount + 1;
    return NVAPI_OK;
}

NvAPI_Status NvapiLoader::unload() {
    LockHolder hold(lock());
    UnloadingMark mark(unloading_);
    if (!library_ || exports_.queryInterface == nullptr || initialised_ == 0) {
        return NVAPI_API_NOT_INITIALIZED;
    }
    UnloadEntry entry;
    entry.withArgument = functionAs<NvapiUnloadWithArgumentFn>(
        exports_.queryInterface(nvapiid::kUnloadWithArgument));
    if (entry.withArgument == nullptr) {
        entry.plain = functionAs<NvAPI_Unload_t>(exports_.queryInterface(nvapiid::kUnload));
    }
    if (!entry.exists()) {
        return NVAPI_NO_IMPLEMENTATION;
    }
    if (initCount_ == 0) {
        return NVAPI_API_NOT_INITIALIZED;
    }
    if (initCount_ > 1) {
        --initCount_;
        return NVAPI_OK;
    }
    // The last unload: the counts stay as they are unless the library really goes.
    if (callsInFlight_ != 0) {
        return NVAPI_UNLOAD_CALLS_IN_PROGRESS;
    }
    if (entry() != NVAPI_OK) {
        return NVAPI_ERROR;
    }
    unbind();
    return NVAPI_OK;
}
