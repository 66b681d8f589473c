// The NVIDIA driver-settings interface as this project declares it: statuses, interface
// ids, handles and the setting record. The tool and the simulated driver library share
// this one declaration, so their idea of the record's layout cannot drift apart.
#pragma once

#include <cstddef>
#include <cstdint>

using NvAPI_Status = int32_t;
using NvU32 = uint32_t;

/// Opaque pointer-sized handles; zero means none.
using NvDRSSessionHandle = struct NvDRSSession_*;
using NvDRSProfileHandle = struct NvDRSProfile_*;

constexpr NvAPI_Status NVAPI_OK = 0;
constexpr NvAPI_Status NVAPI_ERROR = -1;
constexpr NvAPI_Status NVAPI_LIBRARY_NOT_FOUND = -2;
constexpr NvAPI_Status NVAPI_NO_IMPLEMENTATION = -3;
constexpr NvAPI_Status NVAPI_API_NOT_INITIALIZED = -4;
constexpr NvAPI_Status NVAPI_SETTING_NOT_FOUND = -160;
constexpr NvAPI_Status NVAPI_UNLOAD_CALLS_IN_PROGRESS = -209;

/// The name of a status this project declares; empty for any other.
constexpr const char* nvapiStatusName(NvAPI_Status status) {
    switch (status) {
        case NVAPI_OK:
            return "NVAPI_OK";
        case NVAPI_ERROR:
            return "NVAPI_ERROR";
        case NVAPI_LIBRARY_NOT_FOUND:
            return "NVAPI_LIBRARY_NOT_FOUND";
        case NVAPI_NO_IMPLEMENTATION:
            return "NVAPI_NO_IMPLEMENTATION";
        case NVAPI_API_NOT_INITIALIZED:
            return "NVAPI_API_NOT_INITIALIZED";
        case NVAPI_SETTING_NOT_FOUND:
            return "NVAPI_SETTING_NOT_FOUND";
        case NVAPI_UNLOAD_CALLS_IN_PROGRESS:
            return "NVAPI_UNLOAD_CALLS_IN_PROGRESS";
        default:
            return "";
    }
}

/// Interface ids passed to the library's query entry.
namespace nvapiid {
constexpr NvU32 kInitialize = 0x0150E828;
constexpr NvU32 kCreateSession = 0x0694D52E;
constexpr NvU32 kLoadSettings = 0x375DBD6B;
constexpr NvU32 kGetBaseProfile = 0xDA8466A0;
constexpr NvU32 kGetSetting = 0x73BF8338;
constexpr NvU32 kSetSetting = 0x577DD202;
constexpr NvU32 kDeleteProfileSetting = 0xE4A26362;
constexpr NvU32 kSaveSettings = 0xFCBC7E14;
constexpr NvU32 kDestroySession = 0xDAD9CFF8;
constexpr NvU32 kUnload = 0xD22BDD7E;
/// Called around every driver call when the library offers both.
constexpr NvU32 kBeforeCallHook = 0x33C7358C;
constexpr NvU32 kAfterCallHook = 0x593E8644;
/// Preferred unload entry, called with the single argument 0.
constexpr NvU32 kUnloadWithArgument = 0xD7C61344;
}  // namespace nvapiid

/// The query export's name and its type: id in, function address (or null) out.
constexpr const char kQueryInterfaceExport[] = "nvapi_QueryInterface";
using NvapiQueryInterfaceFn = void* (*)(NvU32 id);

constexpr NvU32 NVDRS_SETTING_VER1 = 0x13020;
constexpr size_t kNvdrsNameUnits = 2048;
constexpr size_t kNvdrsValueUnionBytes = 4100;

/// Version 1 of the driver's setting record, little-endian.
struct NVDRS_SETTING {
    NvU32 version;
    uint16_t settingName[kNvdrsNameUnits];
    NvU32 settingId;
    NvU32 settingType;  // 0: a 32-bit number, the only type handled
    NvU32 settingLocation;
    NvU32 isCurrentPredefined;
    NvU32 isPredefinedValid;
    union {
        NvU32 u32PredefinedValue;
        uint8_t predefinedBytes[kNvdrsValueUnionBytes];
    };
    union {
        NvU32 u32CurrentValue;
        uint8_t currentBytes[kNvdrsValueUnionBytes];
    };
};

static_assert(sizeof(NVDRS_SETTING) == 12320, "record size");
static_assert(offsetof(NVDRS_SETTING, version) == 0, "version offset");
static_assert(offsetof(NVDRS_SETTING, settingName) == 4, "name offset");
static_assert(offsetof(NVDRS_SETTING, settingId) == 4100, "id offset");
static_assert(offsetof(NVDRS_SETTING, settingType) == 4104, "type offset");
static_assert(offsetof(NVDRS_SETTING, settingLocation) == 4108, "location offset");
static_assert(offsetof(NVDRS_SETTING, isCurrentPredefined) == 4112, "predefined flag offset");
static_assert(offsetof(NVDRS_SETTING, isPredefinedValid) == 4116, "predefined valid offset");
static_assert(offsetof(NVDRS_SETTING, u32PredefinedValue) == 4120, "predefined value offset");
static_assert(offsetof(NVDRS_SETTING, u32CurrentValue) == 8220, "current value offset");

/// Function types of the driver calls, in the platform's C calling convention.
using NvAPI_Initialize_t = NvAPI_Status (*)();
using NvAPI_DRS_CreateSession_t = NvAPI_Status (*)(NvDRSSessionHandle*);
using NvAPI_DRS_LoadSettings_t = NvAPI_Status (*)(NvDRSSessionHandle);
using NvAPI_DRS_GetBaseProfile_t = NvAPI_Status (*)(NvDRSSessionHandle, NvDRSProfileHandle*);
using NvAPI_DRS_GetSetting_t = NvAPI_Status (*)(NvDRSSessionHandle, NvDRSProfileHandle, NvU32,
                                                NVDRS_SETTING*);
using NvAPI_DRS_SetSetting_t = NvAPI_Status (*)(NvDRSSessionHandle, NvDRSProfileHandle,
                                                NVDRS_SETTING*);
using NvAPI_DRS_DeleteProfileSetting_t = NvAPI_Status (*)(NvDRSSessionHandle, NvDRSProfileHandle,
                                                          NvU32);
using NvAPI_DRS_SaveSettings_t = NvAPI_Status (*)(NvDRSSessionHandle);
using NvAPI_DRS_DestroySession_t = NvAPI_Status (*)(NvDRSSessionHandle);
using NvAPI_Unload_t = NvAPI_Status (*)();
using NvapiUnloadWithArgumentFn = NvAPI_Status (*)(NvU32);
using NvapiBeforeCallHookFn = void (*)(NvU32 id, void** cookie);
using NvapiAfterCallHookFn = void (*)(NvU32 id, void* cookie, NvAPI_Status status);

/// The driver calls the logic uses, as one table: the real one goes through the loader,
/// tests pass one that records every call.
struct NvapiTable {
    NvAPI_Initialize_t NvAPI_Initialize = nullptr;
    NvAPI_DRS_CreateSession_t NvAPI_DRS_CreateSession = nullptr;
    NvAPI_DRS_LoadSettings_t NvAPI_DRS_LoadSettings = nullptr;
    NvAPI_DRS_GetBaseProfile_t NvAPI_DRS_GetBaseProfile = nullptr;
    NvAPI_DRS_GetSetting_t NvAPI_DRS_GetSetting = nullptr;
    NvAPI_DRS_SetSetting_t NvAPI_DRS_SetSetting = nullptr;
    NvAPI_DRS_DeleteProfileSetting_t NvAPI_DRS_DeleteProfileSetting = nullptr;
    NvAPI_DRS_SaveSettings_t NvAPI_DRS_SaveSettings = nullptr;
    NvAPI_DRS_DestroySession_t NvAPI_DRS_DestroySession = nullptr;
    NvAPI_Unload_t NvAPI_Unload = nullptr;
};
