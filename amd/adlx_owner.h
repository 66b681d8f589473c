// One owner per ADLX object kind: holds the caller's reference and gives it back with
// Release exactly once, on every path. Declared in acquisition order, owners release in
// reverse order when their scope ends.
#pragma once

#include <utility>

#include "contracts/adlx_interface.h"

template <typename T>
class AdlxOwner {
  public:
    AdlxOwner() = default;
    /// Takes over a reference another owner gave up with `detach`.
    explicit AdlxOwner(T* adopted) : object_(adopted) {}
    ~AdlxOwner() { reset(); }
    AdlxOwner(const AdlxOwner&) = delete;
    AdlxOwner& operator=(const AdlxOwner&) = delete;
    AdlxOwner(AdlxOwner&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
    AdlxOwner& operator=(AdlxOwner&& other) noexcept {
        if (this != &other) {
            reset();
            object_ = std::exchange(other.object_, nullptr);
        }
        return *this;
    }

    T* get() const { return object_; }
    T* operator->() const { return object_; }
    explicit operator bool() const { return object_ != nullptr; }

    /// Releases what is held, then lends the slot to a call that writes an object. Whatever
    /// the call writes is owned, even when the call reports failure.
    T** put() {
        reset();
        return &object_;
    }
    /// The slot as QueryInterface's untyped out parameter.
    void** putVoid() { return reinterpret_cast<void**>(put()); }

    /// Gives up the reference without releasing it; the caller now owns it.
    T* detach() { return std::exchange(object_, nullptr); }

    void reset() {
        if (object_ != nullptr) {
            std::exchange(object_, nullptr)->Release();
        }
    }

  private:
    T* object_ = nullptr;
};

using InterfaceOwner = AdlxOwner<IADLXInterface>;
using GpuListOwner = AdlxOwner<IADLXGPUList>;
using GpuOwner = AdlxOwner<IADLXGPU>;
using SettingsServicesOwner = AdlxOwner<IADLX3DSettingsServices>;
using SettingsServices1Owner = AdlxOwner<IADLX3DSettingsServices1>;
using SettingsServices3Owner = AdlxOwner<IADLX3DSettingsServices3>;
using SwitchSettingOwner = AdlxOwner<IADLX3DSwitchSetting>;
using ModeSettingOwner = AdlxOwner<IADLX3DModeSetting>;
