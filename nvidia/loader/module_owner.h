// The one owner of a loaded module: frees it through the loader's operating system when
// it goes out of scope, so no path can leave a library loaded by accident.
#pragma once

#include <utility>

#include "nvidia/loader/loader_os.h"

class ModuleOwner {
  public:
    ModuleOwner() = default;
    ModuleOwner(LoaderOs& os, ModuleHandle module) : os_(&os), module_(module) {}
    ~ModuleOwner() { reset(); }
    ModuleOwner(ModuleOwner&& other) noexcept
        : os_(other.os_), module_(std::exchange(other.module_, nullptr)) {}
    ModuleOwner& operator=(ModuleOwner&& other) noexcept {
        if (this != &other) {
            reset();
            os_ = other.os_;
            module_ = std::exchange(other.module_, nullptr);
        }
        return *this;
    }
    ModuleOwner(const ModuleOwner&) = delete;
    ModuleOwner& operator=(const ModuleOwner&) = delete;

    ModuleHandle get() const { return module_; }
    explicit operator bool() const { return module_ != nullptr; }

    /// Frees the module, if any; the owner is empty afterwards.
    void reset() {
        if (module_ != nullptr) {
            os_->freeLibrary(std::exchange(module_, nullptr));
        }
    }
    /// Gives up ownership without freeing; returns the handle.
    ModuleHandle release() { return std::exchange(module_, nullptr); }

  private:
    LoaderOs* os_ = nullptr;
    ModuleHandle module_ = nullptr;
};
