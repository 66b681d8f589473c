// Run-time library loading (load with flags, resolve an export, free), the one seam both
// driver bindings reach the system through. An interface, so that tests can record every
// request and fail any of them; the programs use the Win32 implementation.
#pragma once

#include <cstdint>
#include <string>

/// Opaque handle to a loaded library; null means none.
using ModuleHandle = struct RuntimeModule_*;

/// The generic shape of a function found at run time; callers give it its real type with
/// `functionAs` (windows/function_cast.h).
using RawFunction = void (*)();

/// Outcome of one library load: the handle, or null with the system's error code.
struct LoadResult {
    ModuleHandle handle = nullptr;
    uint32_t error = 0;
};

class RuntimeLibraries {
  public:
    virtual ~RuntimeLibraries() = default;

    /// Loads `file` (a bare name or a full path) with the system's load flags.
    virtual LoadResult loadLibrary(const std::wstring& file, uint32_t flags) = 0;
    /// Returns the export `name` of `module`, or null when it has none.
    virtual RawFunction resolve(ModuleHandle module, const char* name) = 0;
    virtual void freeLibrary(ModuleHandle module) = 0;
};

/// The run-time libraries of the system the program runs on.
RuntimeLibraries& platformRuntimeLibraries();
