// Run-time library loading on Win32.
#include <windows.h>

#include "windows/function_cast.h"
#include "windows/runtime_library.h"

namespace {

HMODULE toHmodule(ModuleHandle module) {
    return reinterpret_cast<HMODULE>(module);
}

class Win32RuntimeLibraries final : public RuntimeLibraries {
  public:
    LoadResult loadLibrary(const std::wstring& file, uint32_t flags) override {
        HMODULE module = LoadLibraryExW(file.c_str(), nullptr, flags);
        if (module == nullptr) {
            return {nullptr, GetLastError()};
        }
        return {reinterpret_cast<ModuleHandle>(module), 0};
    }

    RawFunction resolve(ModuleHandle module, const char* name) override {
        return functionAs<RawFunction>(GetProcAddress(toHmodule(module), name));
    }

    void freeLibrary(ModuleHandle module) override { FreeLibrary(toHmodule(module)); }
};

}  // namespace

RuntimeLibraries& platformRuntimeLibraries() {
    static Win32RuntimeLibraries libraries;
    return libraries;
}
