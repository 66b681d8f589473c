// The operating system's run-time library loading, behind an interface so the binding's
// rules can be tested natively with a fake that records every request.
#pragma once

#include <cstdint>

/// A loaded library; null means none.
using ModuleHandle = void*;
/// An exported function before it is given its real type.
using ExportedProc = void (*)();

class LibraryLoader {
  public:
    virtual ~LibraryLoader() = default;
    /// Loads `fileName` with the platform's search `flags`; null when it cannot be loaded.
    virtual ModuleHandle load(const wchar_t* fileName, uint32_t flags) = 0;
    /// The export `name` of `module`; null when the library does not export it.
    virtual ExportedProc resolve(ModuleHandle module, const char* name) = 0;
    virtual void unload(ModuleHandle module) = 0;
};

/// The loader of the platform the program runs on.
LibraryLoader& platformLibraryLoader();
