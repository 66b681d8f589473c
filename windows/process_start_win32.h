// The Win32 process start with the kernel32 calls it uses handed in, so that a test can run
// it as on a system that lacks some of them.
#pragma once

#include <windows.h>

using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
using SetDllDirectoryWFn = BOOL(WINAPI*)(LPCWSTR);
using SetProcessMitigationPolicyFn = BOOL(WINAPI*)(PROCESS_MITIGATION_POLICY, PVOID, SIZE_T);

/// The functions the start calls; each stays null where kernel32 lacks it.
struct StartFunctions {
    SetDefaultDllDirectoriesFn setDefaultDllDirectories{nullptr};
    SetDllDirectoryWFn setDllDirectory{nullptr};
    SetProcessMitigationPolicyFn setProcessMitigationPolicy{nullptr};
};

/// What this system's kernel32 offers.
StartFunctions findStartFunctions();

/// `hardenProcessStart` through `kernel`.
void hardenProcessStartWith(const StartFunctions& kernel, bool elevated);
