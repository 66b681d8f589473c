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

NvAPI_Status NvapiSession::setSetting(NvU32 id, NvU32 value) const {
    NVDRS_SETTING record = freshSettingRecord();
    record.settingId = id;
    record.settingType = 0;
    record.u32CurrentValue = value;
    return api_.NvAPI_DRS_SetSetting(session_, profile_, &record);
}

NVDRS_SETTING freshSettingRecord() {
    NVDRS_SETTING record;
    std::memset(&record, 0, sizeof record);
    record.version = NVDRS_SETTING_VER1;
    return record;
}
