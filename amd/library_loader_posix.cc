// POSIX library loading for the native build: the same file name is looked up by dlopen's
// own search (LD_LIBRARY_PATH and the system directories); the Windows search flags have
// no meaning here.
#include <dlfcn.h>

#include <string>

#include "amd/library_loader.h"

namespace {

std::string narrowAscii(const wchar_t* text) {
    std::string out;
    for (; *text != L'\0'; ++text) {
        out += *text < 0x80 ? static_cast<char>(*text) : '?';
    }
    return out;
}

class PosixLibraryLoader : public LibraryLoader {
  public:
    ModuleHandle load(const wchar_t* fileName, uint32_t /*flags*/) override {
        return dlopen(narrowAscii(fileName).c_str(), RTLD_NOW | RTLD_LOCAL);
    }
    ExportedProc resolve(ModuleHandle module, const char* name) override {
        return reinterpret_cast<ExportedProc>(dlsym(module, name));
    }
    void unload(ModuleHandle module) override { dlclose(module); }
};

}  // namespace

LibraryLoader& platformLibraryLoader() {
    static PosixLibraryLoader instance;
    return instance;
}
