// A test tool of the end-to-end tests, never shipped: what the programs set up at start, on
// its own. "seed" prints the stack guard as the start-up left it, in hexadecimal; "fail"
// calls the handler a failed stack check calls; "start <present|refused|missing>" runs the
// process start against recording stand-ins for kernel32, whose SetDefaultDllDirectories
// works, refuses or is missing, and prints the calls it made, one a line.
#include <cstdint>
#include <cstdio>
#include <cwchar>

#include "windows/elevation.h"
#include "windows/process_start_win32.h"

extern "C" uintptr_t __stack_chk_guard;
extern "C" [[noreturn]] void __stack_chk_fail();

namespace {

BOOL WINAPI defaultDirectoriesWork(DWORD flags) {
    std::printf("SetDefaultDllDirectories 0x%lx\n", flags);
    return TRUE;
}

BOOL WINAPI defaultDirectoriesRefused(DWORD flags) {
    std::printf("SetDefaultDllDirectories 0x%lx refused\n", flags);
    return FALSE;
}

BOOL WINAPI dllDirectory(LPCWSTR directory) {
    std::printf("SetDllDirectoryW \"%ls\"\n", directory);
    return TRUE;
}

BOOL WINAPI mitigationPolicy(PROCESS_MITIGATION_POLICY policy, PVOID, SIZE_T) {
    std::printf("SetProcessMitigationPolicy %d\n", static_cast<int>(policy));
    return TRUE;
}

int start(const wchar_t* defaultDirectories) {
    StartFunctions kernel;
    kernel.setDllDirectory = &dllDirectory;
    kernel.setProcessMitigationPolicy = &mitigationPolicy;
    if (std::wcscmp(defaultDirectories, L"present") == 0) {
        kernel.setDefaultDllDirectories = &defaultDirectoriesWork;
    } else if (std::wcscmp(defaultDirectories, L"refused") == 0) {
        kernel.setDefaultDllDirectories = &defaultDirectoriesRefused;
    }
    hardenProcessStartWith(kernel, processIsElevated());
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc == 2 && std::wcscmp(argv[1], L"seed") == 0) {
        std::printf("%016llx\n", static_cast<unsigned long long>(__stack_chk_guard));
        return 0;
    }
    if (argc == 2 && std::wcscmp(argv[1], L"fail") == 0) {
        __stack_chk_fail();
    }
    if (argc == 3 && std::wcscmp(argv[1], L"start") == 0) {
        return start(argv[2]);
    }
    return 2;
}
