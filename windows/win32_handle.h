// The one owner of a kernel handle (file, folder, mutex, token): closes it exactly once,
// through the system-call table that handed it out. Win32 hands out either null or
// INVALID_HANDLE_VALUE for "no handle", depending on the call; both count as empty here.
#pragma once

#include <windows.h>

#include "windows/nt_calls.h"
#include "windows/unique_resource.h"

struct KernelHandleTraits {
    using Value = HANDLE;
    static constexpr HANDLE kNone = nullptr;
    static bool held(HANDLE h) { return h != nullptr && h != INVALID_HANDLE_VALUE; }
    static bool close(HANDLE h) { return ntCalls().close(h) >= 0; }
};

using UniqueHandle = UniqueResource<KernelHandleTraits>;
