// The one shape of an owner of a system handle: move-only, closes what it holds exactly
// once, with get, release and reset meaning what they say. Each handle kind names its
// traits: the type, the value that means "none", what counts as held and how to close.
#pragma once

#include <utility>

template <typename Traits>
class UniqueResource {
  public:
    using Value = typename Traits::Value;

    UniqueResource() = default;
    explicit UniqueResource(Value value) : value_(value) {}
    ~UniqueResource() { reset(); }
    UniqueResource(UniqueResource&& other) noexcept : value_(other.release()) {}
    UniqueResource& operator=(UniqueResource&& other) noexcept {
        if (this != &other) {
            reset(other.release());
        }
        return *this;
    }
    UniqueResource(const UniqueResource&) = delete;
    UniqueResource& operator=(const UniqueResource&) = delete;

    Value get() const { return value_; }
    bool valid() const { return Traits::held(value_); }
    /// Gives up ownership without closing; returns the value.
    Value release() { return std::exchange(value_, Traits::kNone); }
    /// Closes the value held (if any) and takes `value`; false when the close failed.
    bool reset(Value value = Traits::kNone) {
        bool ok = true;
        if (valid()) {
            ok = Traits::close(value_);
        }
        value_ = value;
        return ok;
    }

  private:
    Value value_ = Traits::kNone;
};
