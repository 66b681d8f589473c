// The environment block on Win32; see the header.
#include <windows.h>

#include "sim/environment.h"
#include "windows/unique_resource.h"

namespace {

char upperAscii(wchar_t c) {
    if (c >= L'a' && c <= L'z') {
        return static_cast<char>(c - L'a' + 'A');
    }
    return c < 0x80 ? static_cast<char>(c) : '?';
}

/// The block GetEnvironmentStringsW hands out, given back exactly once.
struct EnvironmentBlockTraits {
    using Value = wchar_t*;
    static constexpr wchar_t* kNone = nullptr;
    static bool held(wchar_t* block) { return block != nullptr; }
    static bool close(wchar_t* block) { return FreeEnvironmentStringsW(block) != 0; }
};

}  // namespace

std::map<std::string, std::wstring> variablesStartingWith(std::string_view prefix) {
    std::map<std::string, std::wstring> variables;
    const UniqueResource<EnvironmentBlockTraits> block(GetEnvironmentStringsW());
    if (!block.valid()) {
        return variables;
    }
    // "name=value" strings one after the other, ended by an empty one. Names that begin
    // with '=' are the system's per-drive folders and never match a prefix.
    for (const wchar_t* entry = block.get(); *entry != L'\0'; entry += wcslen(entry) + 1) {
        const std::wstring_view text(entry);
        const size_t eq = text.find(L'=', 1);
        if (eq == std::wstring_view::npos) {
            continue;
        }
        std::string name;
        for (wchar_t c : text.substr(0, eq)) {
            name += upperAscii(c);
        }
        if (name.compare(0, prefix.size(), prefix) == 0) {
            variables[name] = std::wstring(text.substr(eq + 1));
        }
    }
    return variables;
}
