// Logs the library's loading and unloading, so tests can tell whether the tool loaded
// the runtime at all and whether it let it go. The configuration is checked here too, so
// a bad one stops the process even when the program never calls in (a variant refused by
// its presence check); the rest of the runtime starts at the first call, outside the
// loader lock.
#include <windows.h>

#include <string>

#include "sim/adlx/config.h"
#include "sim/adlx/runtime.h"
#include "sim/environment.h"
#include "sim/platform.h"

namespace {

void logAttachment(const char* what) {
    wchar_t path[1024];
    const DWORD size = GetEnvironmentVariableW(L"SIM_ADLX_LOG", path, 1024);
    if (size > 0 && size < 1024) {
        appendToFile(path, std::string(what) + "\n");
    }
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        logAttachment("DLL attached");
        refuseBadConfiguration(parseAdlxSimConfig(variablesStartingWith("SIM_ADLX_")));
    } else if (reason == DLL_PROCESS_DETACH) {
        logAttachment("DLL detached");
    }
    return TRUE;
}
