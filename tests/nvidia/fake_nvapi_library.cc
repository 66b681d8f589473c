#include "tests/nvidia/fake_nvapi_library.h"

#include <cstdio>
#include <string>

#include "windows/function_cast.h"

namespace {

FakeNvapiLibrary* current = nullptr;

std::string hex(uint64_t value) {
    char text[24];
    std::snprintf(text, sizeof(text), "0x%llX", static_cast<unsigned long long>(value));
    return text;
}

void note(const std::string& line) {
    current->os.log.push_back(line);
}

void* query(NvU32 id) {
    note("query " + hex(id));
    const auto it = current->entries.find(id);
    return it == current->entries.end() ? nullptr : it->second;
}

NvAPI_Status initialize() {
    note("initialize");
    return current->initStatus;
}

NvAPI_Status unloadWithArgument(NvU32 argument) {
    note("unload(" + std::to_string(argument) + ")");
    if (current->duringUnload) {
        current->duringUnload();
    }
    return current->unloadStatus;
}

NvAPI_Status unloadPlain() {
    note("unload()");
    if (current->duringUnload) {
        current->duringUnload();
    }
    return current->unloadStatus;
}

void beforeCall(NvU32 id, void** cookie) {
    note("before " + hex(id) + " cookie " + hex(reinterpret_cast<uintptr_t>(*cookie)));
    *cookie = reinterpret_cast<void*>(0xC00C);
}

void afterCall(NvU32 id, void* cookie, NvAPI_Status status) {
    note("after " + hex(id) + " cookie " + hex(reinterpret_cast<uintptr_t>(cookie)) + " status " +
         std::to_string(status));
}

NvAPI_Status createSession(NvDRSSessionHandle* session) {
    note("create session");
    *session = kFakeSession;
    if (current->duringCall) {
        current->duringCall();
    }
    return current->callStatus;
}

NvAPI_Status getSetting(NvDRSSessionHandle session, NvDRSProfileHandle profile, NvU32 id,
                        NVDRS_SETTING* record) {
    note("get setting " + hex(reinterpret_cast<uintptr_t>(session)) + " " +
         hex(reinterpret_cast<uintptr_t>(profile)) + " " + hex(id));
    record->u32CurrentValue = 42;
    return current->callStatus;
}

}  // namespace

FakeNvapiLibrary::FakeNvapiLibrary(FakeLoaderOs& os) : os(os) {
    current = this;
    os.exports[kQueryInterfaceExport] = functionAs<RawFunction>(&query);
}

FakeNvapiLibrary::~FakeNvapiLibrary() {
    current = nullptr;
}

void FakeNvapiLibrary::offerAll(const std::vector<NvU32>& lacking) {
    entries = {
        {nvapiid::kInitialize, functionAs<void*>(&initialize)},
        {nvapiid::kUnloadWithArgument, functionAs<void*>(&unloadWithArgument)},
        {nvapiid::kUnload, functionAs<void*>(&unloadPlain)},
        {nvapiid::kBeforeCallHook, functionAs<void*>(&beforeCall)},
        {nvapiid::kAfterCallHook, functionAs<void*>(&afterCall)},
        {nvapiid::kCreateSession, functionAs<void*>(&createSession)},
        {nvapiid::kGetSetting, functionAs<void*>(&getSetting)},
    };
    for (NvU32 id : lacking) {
        entries.erase(id);
    }
}
