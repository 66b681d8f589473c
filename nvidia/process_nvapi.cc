// The driver table of the running process. Each entry is a free function that reaches the
// one process-wide loader: initialise and unload through its counted wrappers, every
// other function through the call gate with its interface id.
#include "nvidia/process_nvapi.h"

#include "nvidia/nvapi_loader.h"
#include "nvidia/nvapi_loader_os.h"

namespace {

NvapiLoader& processLoader() {
    // Never destroyed: the driver library and the preloaded system libraries stay loaded
    // until the process ends, and nothing is freed while the process is exiting.
    static NvapiLoader* const loader = new NvapiLoader(platformLoaderOs());
    return *loader;
}

/// A table entry for driver function `Id`, with the signature the table declares.
template <NvU32 Id, typename Fn>
struct Gated;

template <NvU32 Id, typename... Args>
struct Gated<Id, NvAPI_Status (*)(Args...)> {
    static NvAPI_Status call(Args... args) {
        return processLoader().call<NvAPI_Status (*)(Args...)>(Id, args...);
    }
};

NvAPI_Status initialize() {
    return processLoader().initialize();
}

NvAPI_Status unload() {
    return processLoader().unload();
}

NvapiTable makeTable() {
    NvapiTable table;
    table.NvAPI_Initialize = &initialize;
    table.NvAPI_DRS_CreateSession =
        &Gated<nvapiid::kCreateSession, NvAPI_DRS_CreateSession_t>::call;
    table.NvAPI_DRS_LoadSettings = &Gated<nvapiid::kLoadSettings, NvAPI_DRS_LoadSettings_t>::call;
    table.NvAPI_DRS_GetBaseProfile =
        &Gated<nvapiid::kGetBaseProfile, NvAPI_DRS_GetBaseProfile_t>::call;
    table.NvAPI_DRS_GetSetting = &Gated<nvapiid::kGetSetting, NvAPI_DRS_GetSetting_t>::call;
    table.NvAPI_DRS_SetSetting = &Gated<nvapiid::kSetSetting, NvAPI_DRS_SetSetting_t>::call;
    table.NvAPI_DRS_DeleteProfileSetting =
        &Gated<nvapiid::kDeleteProfileSetting, NvAPI_DRS_DeleteProfileSetting_t>::call;
    table.NvAPI_DRS_SaveSettings = &Gated<nvapiid::kSaveSettings, NvAPI_DRS_SaveSettings_t>::call;
    table.NvAPI_DRS_DestroySession =
        &Gated<nvapiid::kDestroySession, NvAPI_DRS_DestroySession_t>::call;
    table.NvAPI_Unload = &unload;
    return table;
}

}  // namespace

const NvapiTable& processNvapiTable() {
    static const NvapiTable table = makeTable();
    return table;
}
