#include "nvidia/nvapi_session.h"

#include <cstring>

namespace {

/// A zeroed version-1 record, as every read and write starts.
NVDRS_SETTING freshSettingRecord() {
    NVDRS_SETTING record;
    std::memset(&record, 0, sizeof record);
    record.version = NVDRS_SETTING_VER1;
    return record;
}

}  // namespace

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

NvAPI_Status NvapiSession::getSetting(NvU32 id, NVDRS_SETTING& record) const {
    record = freshSettingRecord();
    return api_.NvAPI_DRS_GetSetting(session_, profile_, id, &record);
}

NvAPI_Status NvapiSession::setSetting(NvU32 id, NvU32 value) const {
    NVDRS_SETTING record = freshSettingRecord();
    record.settingId = id;
    record.settingType = 0;
    record.u32CurrentValue = value;
    return api_.NvAPI_DRS_SetSetting(session_, profile_, &record);
}

NvAPI_Status NvapiSession::deleteSetting(NvU32 id) const {
    return api_.NvAPI_DRS_DeleteProfileSetting(session_, profile_, id);
}

NvAPI_Status NvapiSession::save() const {
    return api_.NvAPI_DRS_SaveSettings(session_);
}
