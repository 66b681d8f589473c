// The load by bare name on Win32; see the header.
#include <windows.h>

#include <vector>

#include "sim/load_by_name.h"

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
    const HMODULE module = LoadLibraryW(name.c_str());
    if (module == nullptr) {
        return "error " + std::to_string(GetLastError());
    }
    std::vector<wchar_t> path(kLongestModulePath, L'\0');
    const DWORD length = GetModuleFileNameW(module, path.data(), kLongestModulePath);
    FreeLibrary(module);
    return "loaded " + toUtf8(std::wstring(path.data(), length));
}
