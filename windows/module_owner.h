// The one owner of a loaded run-time library: frees it through the seam that loaded it
// when it goes out of scope, so no path can leave a library loaded by accident.
#pragma once

#include <utility>

#include "windows/runtime_library.h"

class ModuleOwner {
  public:
    ModuleOwner() = default;
    ModuleOwner(RuntimeLibraries& libraries, ModuleHandle module)
        : libraries_(&libraries), module_(module) {}
    ~ModuleOwner() { reset(); }
    ModuleOwner(ModuleOwner&& other) noexcept
        : libraries_(other.libraries_), module_(std::exchange(other.module_, nullptr)) {}
    ModuleOwner& operator=(ModuleOwner&& other) noexcept {
        if (this != &other) {
            reset();
            libraries_ = other.libraries_;
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
            libraries_->freeLibrary(std::exchange(module_, nullptr));
        }
    }
    /// Gives up ownership without freeing; returns the handle.
    ModuleHandle release() { return std::exchange(module_, nullptr); }

  private:
    RuntimeLibraries* libraries_ = nullptr;
    ModuleHandle module_ = nullptr;
};
