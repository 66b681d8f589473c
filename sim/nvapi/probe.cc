// nvapi-sim-probe: drives a driver library call by call, to test the simulated library
// apart from the tools. Usage:
//   nvapi-sim-probe <library path> "<command>" ...
// Commands, one argument each: "init", "create", "load S", "base S", "get S P ID [VER]",
// "set S P ID VALUE [TYPE [VER]]", "delete S P ID", "save S", "destroy S", "unload",
// "unloadarg N", "hooks", "query ID". S and P are "s1", "p1" ... (the n-th session or
// profile handle received so far) or a literal number, so bad handles can be passed; a
// last word "null" passes a null pointer for the out handle or the record.
// Prints one line per command: "<command> -> <status> [outputs]", or "present"/"absent"
// for "query". Exit code 0 unless the library or a command could not be used.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "contracts/nvapi_types.h"
#include "windows/function_cast.h"

namespace {

NvapiQueryInterfaceFn gQuery = nullptr;
std::vector<void*> gSessions;
std::vector<void*> gProfiles;

template <typename T>
T entry(NvU32 id) {
    return functionAs<T>(gQuery(id));
}

std::vector<std::string> words(const wchar_t* text) {
    std::vector<std::string> out;
    std::string current;
    for (const wchar_t* c = text; *c != 0; ++c) {
        if (*c == L' ') {
            if (!current.empty()) {
                out.push_back(current);
            }
            current.clear();
        } else {
            current += static_cast<char>(*c);
        }
    }
    if (!current.empty()) {
        out.push_back(current);
    }
    return out;
}

NvU32 number(const std::string& text) {
    return static_cast<NvU32>(std::strtoul(text.c_str(), nullptr, 0));
}

/// "s2" is the second session received; anything else is read as a raw handle value.
void* handle(const std::string& text, const std::vector<void*>& received) {
    if (text.size() > 1 && (text[0] == 's' || text[0] == 'p')) {
        const size_t index = std::strtoul(text.c_str() + 1, nullptr, 10);
        return index >= 1 && index <= received.size() ? received[index - 1] : nullptr;
    }
    return reinterpret_cast<void*>(static_cast<uintptr_t>(std::strtoull(text.c_str(), nullptr, 0)));
}

NVDRS_SETTING* freshRecord(NvU32 version) {
    static NVDRS_SETTING record;
    std::memset(&record, 0, sizeof record);
    record.version = version;
    return &record;
}

bool run(const std::vector<std::string>& w) {
    const std::string& c = w[0];
    const auto arg = [&](size_t i) { return i < w.size() ? w[i] : std::string("0"); };
    const auto session = [&](size_t i) {
        return static_cast<NvDRSSessionHandle>(handle(arg(i), gSessions));
    };
    const auto profile = [&](size_t i) {
        return static_cast<NvDRSProfileHandle>(handle(arg(i), gProfiles));
    };
    const bool null = w.back() == "null";
    NvAPI_Status status = 0;
    char extra[128] = "";
    if (c == "query") {
        std::printf("query %s -> %s\n", arg(1).c_str(),
                    gQuery(number(arg(1))) ? "present" : "absent");
        return true;
    } else if (c == "init") {
        status = entry<NvAPI_Initialize_t>(nvapiid::kInitialize)();
    } else if (c == "create") {
        NvDRSSessionHandle made = nullptr;
        status = entry<NvAPI_DRS_CreateSession_t>(nvapiid::kCreateSession)(null ? nullptr : &made);
        if (status == 0) {
            gSessions.push_back(made);
        }
    } else if (c == "load") {
        status = entry<NvAPI_DRS_LoadSettings_t>(nvapiid::kLoadSettings)(session(1));
    } else if (c == "base") {
        NvDRSProfileHandle made = nullptr;
        status = entry<NvAPI_DRS_GetBaseProfile_t>(nvapiid::kGetBaseProfile)(
            session(1), null ? nullptr : &made);
        if (status == 0) {
            gProfiles.push_back(made);
        }
    } else if (c == "get") {
        NVDRS_SETTING* record = freshRecord(w.size() > 4 ? number(w[4]) : NVDRS_SETTING_VER1);
        status = entry<NvAPI_DRS_GetSetting_t>(nvapiid::kGetSetting)(
            session(1), profile(2), number(arg(3)), null ? nullptr : record);
        if (status == 0) {
            std::snprintf(extra, sizeof extra, " id=0x%08X type=%u value=0x%08X",
                          static_cast<unsigned>(record->settingId),
                          static_cast<unsigned>(record->settingType),
                          static_cast<unsigned>(record->u32CurrentValue));
        }
    } else if (c == "set") {
        NVDRS_SETTING* record = freshRecord(w.size() > 6 ? number(w[6]) : NVDRS_SETTING_VER1);
        record->settingId = number(arg(3));
        record->u32CurrentValue = number(arg(4));
        record->settingType = number(arg(5));
        status = entry<NvAPI_DRS_SetSetting_t>(nvapiid::kSetSetting)(session(1), profile(2),
                                                                     null ? nullptr : record);
    } else if (c == "delete") {
        status = entry<NvAPI_DRS_DeleteProfileSetting_t>(nvapiid::kDeleteProfileSetting)(
            session(1), profile(2), number(arg(3)));
    } else if (c == "save") {
        status = entry<NvAPI_DRS_SaveSettings_t>(nvapiid::kSaveSettings)(session(1));
    } else if (c == "destroy") {
        status = entry<NvAPI_DRS_DestroySession_t>(nvapiid::kDestroySession)(session(1));
    } else if (c == "unload") {
        status = entry<NvAPI_Unload_t>(nvapiid::kUnload)();
    } else if (c == "unloadarg") {
        status = entry<NvapiUnloadWithArgumentFn>(nvapiid::kUnloadWithArgument)(number(arg(1)));
    } else if (c == "hooks") {
        void* cookie = nullptr;
        entry<NvapiBeforeCallHookFn>(nvapiid::kBeforeCallHook)(0x12345678, &cookie);
        entry<NvapiAfterCallHookFn>(nvapiid::kAfterCallHook)(0x12345678, cookie, -1);
    } else {
        std::fprintf(stderr, "unknown command %s\n", c.c_str());
        return false;
    }
    std::printf("%s -> %d%s\n", c.c_str(), static_cast<int>(status), extra);
    std::fflush(stdout);
    return true;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: nvapi-sim-probe <library> <command>...\n");
        return 2;
    }
    HMODULE library = LoadLibraryW(argv[1]);
    if (library == nullptr) {
        std::fprintf(stderr, "cannot load the library (error %lu)\n", GetLastError());
        return 3;
    }
    gQuery = functionAs<NvapiQueryInterfaceFn>(GetProcAddress(library, kQueryInterfaceExport));
    if (gQuery == nullptr) {
        std::fprintf(stderr, "no %s export\n", kQueryInterfaceExport);
        return 4;
    }
    for (int i = 2; i < argc; ++i) {
        const std::vector<std::string> command = words(argv[i]);
        if (command.empty() || !run(command)) {
            return 5;
        }
    }
    FreeLibrary(library);
    return 0;
}
