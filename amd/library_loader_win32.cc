// Win32 library loading.
#include <windows.h>

#include "amd/library_loader.h"

namespace {

/// The one place a FARPROC changes type; going through void (*)() keeps
/// -Wcast-function-type quiet, and callers give the pointer its real type.
ExportedProc asExportedProc(FARPROC proc) {
    return reinterpret_cast<ExportedProc>(proc);
}

class Win32LibraryLoader : public LibraryLoader {
  public:
    ModuleHandle load(const wchar_t* fileName, uint32_t flags) override {
        return LoadLibraryExW(fileName, nullptr, flags);
    }
    ExportedProc resolve(ModuleHandle module, const char* name) override {
        return asExportedProc(GetProcAddress(static_cast<HMODULE>(module), name));
    }
    void unload(ModuleHandle module) override { FreeLibrary(static_cast<HMODULE>(module)); }
};

}  // namespace

LibraryLoader& platformLibraryLoader() {
    static Win32LibraryLoader instance;
    return instance;
}
