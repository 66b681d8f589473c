// A test tool of the end-to-end tests, never shipped: a library that no run may load. The
// tests plant it where a library search must not reach (the working folder, a folder on
// PATH); whoever loads it leaves "planted-loaded.txt" beside it, so a test sees a load
// even when no log reports it.
#include <windows.h>

#include <string>

namespace {

constexpr wchar_t kMarker[] = L"planted-loaded.txt";
/// Longest path GetModuleFileNameW can hand back, terminator included.
constexpr DWORD kLongestPath = 32768;

void leaveMarker(HINSTANCE self) {
    std::wstring path(kLongestPath, L'\0');
    const DWORD length = GetModuleFileNameW(self, path.data(), kLongestPath);
    const size_t slash = path.rfind(L'\\', length);
    if (length == 0 || length >= kLongestPath || slash == std::wstring::npos) {
        return;
    }
    path.replace(slash + 1, std::wstring::npos, kMarker);
    const HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        CloseHandle(file);
    }
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        leaveMarker(self);
    }
    return TRUE;
}
