// Process start on Win32. The calls are looked up in kernel32 at run time: a Windows 7
// without the library-search update lacks the first, Windows 7 lacks the last entirely and
// systems that predate the redirection-trust policy refuse it, and the programs must still
// run there as they did before.
#include "windows/process_start_win32.h"

#include "windows/function_cast.h"
#include "windows/process_start.h"

static_assert(ProcessRedirectionTrustPolicy == 16, "the policy class the system knows");

StartFunctions findStartFunctions() {
    StartFunctions found;
    // kernel32 is in every process already; this takes no reference, so nothing to free.
    const HMODULE kernel32 = GetModuleHandleW(L"kernel32.dll");
    if (kernel32 == nullptr) {
        return found;
    }
    found.setDefaultDllDirectories = functionAs<SetDefaultDllDirectoriesFn>(
        GetProcAddress(kernel32, "SetDefaultDllDirectories"));
    found.setDllDirectory =
        functionAs<SetDllDirectoryWFn>(GetProcAddress(kernel32, "SetDllDirectoryW"));
    found.setProcessMitigationPolicy = functionAs<SetProcessMitigationPolicyFn>(
        GetProcAddress(kernel32, "SetProcessMitigationPolicy"));
    return found;
}

void hardenProcessStartWith(const StartFunctions& kernel, bool elevated) {
    // Results are not checked beyond the fallback: a refusal leaves the process as it was,
    // which is all a system without the call could offer anyway, and the run goes on.
    const bool searchLimited =
        kernel.setDefaultDllDirectories != nullptr &&
        kernel.setDefaultDllDirectories(LOAD_LIBRARY_SEARCH_DEFAULT_DIRS) != FALSE;
    if (!searchLimited && kernel.setDllDirectory != nullptr) {
        // The older call at least takes the working folder out of the search; PATH stays.
        kernel.setDllDirectory(L"");
    }
    // Junctions a non-administrator made can only be turned against a process with more
    // rights than theirs; a run that is not elevated would merely refuse its user's own.
    if (kernel.setProcessMitigationPolicy != nullptr && elevated) {
        PROCESS_MITIGATION_REDIRECTION_TRUST_POLICY policy{};
        policy.EnforceRedirectionTrust = 1;
        kernel.setProcessMitigationPolicy(ProcessRedirectionTrustPolicy, &policy, sizeof policy);
    }
}

void hardenProcessStart(bool elevated) {
    hardenProcessStartWith(findStartFunctions(), elevated);
}
