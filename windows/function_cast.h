// The one cast from an address found at run time to a typed function pointer.
#pragma once

#include <type_traits>

/// Gives `address` the function pointer type `Fn`; null stays null. A function address (a
/// FARPROC, a RawFunction) goes through void (*)(), which -Wcast-function-type accepts for
/// every function type; a data address (what a driver's query entry hands out) converts
/// directly.
template <typename Fn, typename Address>
Fn functionAs(Address address) {
    if constexpr (std::is_function_v<std::remove_pointer_t<Address>>) {
        return reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(address));
    } else {
        return reinterpret_cast<Fn>(address);
    }
}
