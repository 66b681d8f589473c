// The two casts from a found address to a typed function pointer, each written once.
// The driver's query entry answers with a data pointer; exports arrive as RawFunction.
#pragma once

#include "nvidia/loader/loader_os.h"

/// Types an export found by the operating system; null stays null.
template <typename Fn>
Fn exportAs(RawFunction function) {
    return reinterpret_cast<Fn>(function);
}

/// Types an address handed out by the driver's query entry; null stays null.
template <typename Fn>
Fn entryAs(void* address) {
    return reinterpret_cast<Fn>(address);
}
