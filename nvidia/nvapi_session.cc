#include "nvidia/nvapi_session.h"

#include <cstring>

NvapiSession::~NvapiSession() {
    if (session_ != nullptr) {
        api_.NvAPI_DRS_DestroySession(session_);
    }
    if (initialised_) {
        api_.NvAPI_Unload();
    }
}

NvAPI_Status NvapiSession::open() {
    NvAPI_Status status = api_.NvAPI_Initialize();
    if (status != NVAPI_OK) {
        return status;
    }
    initialised_ = true;
    status = api_.NvAPI_DRS_CreateSession(&session_);
    if (status != NVAPI_OK) {
        return status;
    }
    status = api_.NvAPI_DRS_LoadSettings(session_);
    if (status != NVAPI_OK) {
        return status;
    }
    return api_.NvAPI_DRS_GetBaseProfile(session_, &profile_);
}

NVDRS_SETTING freshSettingRecord() {
    NVDRS_SETTING record;
    std::memset(&record, 0, sizeof record);
    record.version = NVDRS_SETTING_VER1;
    return record;
}
