// The process-wide state behind the NVIDIA driver library: loads and binds "nvapi64.dll"
// from the system directory on first use, gates every driver call, and keeps the counts
// behind the initialise and unload wrappers. Driver calls take no lock; they count
// themselves in `callsInFlight` so that an unload never frees the library under them.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <type_traits>

#include "contracts/nvapi_types.h"
#include "nvidia/nvapi_loader_os.h"
#include "nvidia/nvapi_system_library.h"
#include "windows/function_cast.h"
#include "windows/module_owner.h"

/// The driver library's file name.
constexpr wchar_t kNvapiLibraryName[] = L"nvapi64.dll";

/// Waits of `kUnloadWaitMs` while an unload runs, before a call gives up with -1.
constexpr int kUnloadWaits = 10;
constexpr uint32_t kUnloadWaitMs = 100;

/// The driver functions that have an entry cache slot.
constexpr std::array<NvU32, 10> kCachedEntryIds = {
    nvapiid::kInitialize,           nvapiid::kCreateSession,
    nvapiid::kLoadSettings,         nvapiid::kGetBaseProfile,
    nvapiid::kGetSetting,           nvapiid::kSetSetting,
    nvapiid::kDeleteProfileSetting, nvapiid::kSaveSettings,
    nvapiid::kDestroySession,       nvapiid::kUnload,
};

/// The library's entries the loader keeps once bound: its query entry, the initialise entry
/// it handed out, and the before- and after-call hooks, both or neither.
struct NvapiExports {
    NvapiQueryInterfaceFn queryInterface{nullptr};
    NvAPI_Initialize_t initialize{nullptr};
    NvapiBeforeCallHookFn beforeCall{nullptr};
    NvapiAfterCallHookFn afterCall{nullptr};
};

class NvapiLoader {
  public:
    explicit NvapiLoader(LoaderOs& os) : os_(os), system_(os) {}
    NvapiLoader(const NvapiLoader&) = delete;
    NvapiLoader& operator=(const NvapiLoader&) = delete;

    /// The call gate: runs the driver function `id`, typed `Fn`, with `args`, between the
    /// library's before- and after-call hooks when it offers both. Returns the function's
    /// status, or the loader's: a failure of `ensureLoaded`, or -3 when the library lacks
    /// the function.
    template <typename Fn, typename... Args>
    NvAPI_Status call(NvU32 id, Args... args);

    /// 0 once the library is loaded and bound. -1 when an unload in progress did not end
    /// within ten waits of 100 ms, or the library lacks its query or initialise entry;
    /// -2 when it cannot be loaded from the system directory; otherwise the failing status
    /// of its initialise entry. A failed bind leaves nothing loaded but the preloads.
    NvAPI_Status ensureLoaded();

    /// The counted NvAPI_Initialize: binds on first use, then only raises the counts.
    NvAPI_Status initialize();

    /// The counted NvAPI_Unload: lowers the counts and, on the last one, calls the library's
    /// unload entry and frees it. -4 without a loaded, initialised library (or with no
    /// initialise left to match); -3 without an unload entry; -209 while driver calls are
    /// in progress; -1 when the unload entry fails. Counts are unchanged on -209 and -1.
    NvAPI_Status unload();

    bool loaded() const { return bound_.load(); }
    int initCount() const { return initCount_; }
    int initialised() const { return initialised_; }
    int callsInFlight() const { return callsInFlight_.load(); }

  private:
    /// Counts one driver call (or initialise) in progress for the length of a scope.
    class InFlight {
      public:
        explicit InFlight(std::atomic<int>& count) : count_(count) { ++count_; }
        ~InFlight() { --count_; }
        InFlight(const InFlight&) = delete;
        InFlight& operator=(const InFlight&) = delete;

      private:
        std::atomic<int>& count_;
    };

    LoaderLock& lock();
    bool waitWhileUnloading();
    NvAPI_Status ensureLoadedHoldingLock();
    NvAPI_Status bindIfUnbound();
    void unbind();
    /// The address of driver function `id`, from its cache slot or the query entry.
    void* entryFor(NvU32 id);
    void clearEntryCache();

    LoaderOs& os_;
    /// Declared before the library so that the preloads outlive it.
    SystemLibraryLoader system_;
    std::once_flag lockCreated_;
    std::unique_ptr<LoaderLock> lock_;

    // Written only under the lock. Driver calls read them only after seeing `bound_`, and
    // unload clears them only while no call is in flight.
    ModuleOwner library_;
    NvapiExports exports_;
    /// Initialises not yet matched by an unload; the library is held while it is above 0.
    int initCount_ = 0;
    int initialised_ = 0;

    std::atomic<bool> bound_{false};
    std::atomic<bool> unloading_{false};
    std::atomic<int> callsInFlight_{0};
    std::array<std::atomic<void*>, kCachedEntryIds.size()> entryCache_{};
};

template <typename Fn, typename... Args>
NvAPI_Status NvapiLoader::call(NvU32 id, Args... args) {
    static_assert(std::is_same_v<std::invoke_result_t<Fn, Args...>, NvAPI_Status>,
                  "a driver function returns a status");
    InFlight inFlight(callsInFlight_);
    NvAPI_Status status = ensureLoaded();
    if (status != NVAPI_OK) {
        return status;
    }
    void* entry = entryFor(id);
    if (entry == nullptr) {
        return NVAPI_NO_IMPLEMENTATION;
    }
    void* cookie = nullptr;
    if (exports_.beforeCall != nullptr) {
        exports_.beforeCall(id, &cookie);
    }
    status = functionAs<Fn>(entry)(args...);
    if (exports_.afterCall != nullptr) {
        exports_.afterCall(id, cookie, status);
    }
    return status;
}
