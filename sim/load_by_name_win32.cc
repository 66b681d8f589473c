// The load by bare name on Win32; see the header.
#include <windows.h>

#include <vector>

#include "sim/load_by_name.h"
#include "windows/module_owner.h"

namespace {

/// Longest path GetModuleFileNameW can hand back, terminator included.
constexpr DWORD kLongestModulePath = 32768;

}  // namespace

std::string toUtf8(const std::wstring& text) {
    if (text.empty()) {
        return {};
    }
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                         nullptr, 0, nullptr, nullptr);
    std::string bytes(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), bytes.data(), size,
                        nullptr, nullptr);
    return bytes;
}

std::string loadByName(const std::wstring& name) {
    // Flags 0: the search LoadLibraryW makes.
    RuntimeLibraries& libraries = platformRuntimeLibraries();
    const LoadResult loaded = libraries.loadLibrary(name, 0);
    if (loaded.handle == nullptr) {
        return "error " + std::to_string(loaded.error);
    }
    const ModuleOwner module(libraries, loaded.handle);
    std::vector<wchar_t> path(kLongestModulePath, L'\0');
    const DWORD length = GetModuleFileNameW(reinterpret_cast<HMODULE>(module.get()), path.data(),
                                            kLongestModulePath);
    return "loaded " + toUtf8(std::wstring(path.data(), length));
}
