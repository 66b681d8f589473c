// Run-time library loading on POSIX, for the native build: the same file name is looked up
// by dlopen's own search (LD_LIBRARY_PATH and the system directories); the Windows search
// flags have no meaning here, and dlopen reports no error code.
#include <dlfcn.h>

#include "common/function_cast.h"
#include "common/runtime_library.h"

namespace {

std::string narrowAscii(const std::wstring& text) {
    std::string out;
    for (wchar_t c : text) {
        out += c < 0x80 ? static_cast<char>(c) : '?';
    }
    return out;
}

class PosixRuntimeLibraries final : public RuntimeLibraries {
  public:
    LoadResult loadLibrary(const std::wstring& file, uint32_t /*flags*/) override {
        return {static_cast<ModuleHandle>(dlopen(narrowAscii(file).c_str(), RTLD_NOW | RTLD_LOCAL)),
                0};
    }
    RawFunction resolve(ModuleHandle module, const char* name) override {
        return functionAs<RawFunction>(dlsym(module, name));
    }
    void freeLibrary(ModuleHandle module) override { dlclose(module); }
};

}  // namespace

RuntimeLibraries& platformRuntimeLibraries() {
    static PosixRuntimeLibraries libraries;
    return libraries;
}
