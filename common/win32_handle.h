// The one owner of a kernel handle (mutex, file, ...): closes it exactly once. Win32 hands
// out either null or INVALID_HANDLE_VALUE for "no handle", depending on the call; both
// count as empty here.
#pragma once

#include <windows.h>

class UniqueHandle {
  public:
    UniqueHandle() = default;
    explicit UniqueHandle(HANDLE h) : h_(h) {}
    ~UniqueHandle() { reset(); }
    UniqueHandle(UniqueHandle&& other) noexcept : h_(other.release()) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept {
        if (this != &other) {
            reset(other.release());
        }
        return *this;
    }
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;

    HANDLE get() const { return h_; }
    bool valid() const { return h_ != nullptr && h_ != INVALID_HANDLE_VALUE; }
    HANDLE release() {
        HANDLE h = h_;
        h_ = nullptr;
        return h;
    }
    /// Closes the handle held (if any) and takes `h`; false when the close failed.
    bool reset(HANDLE h = nullptr) {
        bool ok = true;
        if (valid()) {
            ok = CloseHandle(h_) != 0;
        }
        h_ = h;
        return ok;
    }

  private:
    HANDLE h_ = nullptr;
};
