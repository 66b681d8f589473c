#include "nvidia/nvapi_session.h"

#include <cstring>

#include "nvidia/preset_table.h"

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

NvAPI_Status NvapiSession::noted(NvAPI_Status status, std::string_view step, std::string_view call,
                                 NvU32 id) const {
    if (status != NVAPI_OK && log_ != nullptr) {
        const std::string key = id != 0 ? settingKey(id) : std::string();
        std::string what(step);
        if (id != 0) {
            what.append(" ").append(hex32(id));
        }
        log_->noteDriver(std::move(what), call, SystemCode{CodeFamily::nvapi, status},
                         nvapiStatusName(status), key);
    }
    return status;
}

NvAPI_Status NvapiSession::open() {
    constexpr std::string_view kOpening = "opening the driver";
    NvAPI_Status status = noted(api_.NvAPI_Initialize(), kOpening, "NvAPI_Initialize");
    if (status != NVAPI_OK) {
        return status;
    }
    initialised_ = true;
    status = noted(api_.NvAPI_DRS_CreateSession(&session_), kOpening, "NvAPI_DRS_CreateSession");
    if (status != NVAPI_OK) {
        return status;
    }
    status = noted(api_.NvAPI_DRS_LoadSettings(session_), kOpening, "NvAPI_DRS_LoadSettings");
    if (status != NVAPI_OK) {
        return status;
    }
    return noted(api_.NvAPI_DRS_GetBaseProfile(session_, &profile_), kOpening,
                 "NvAPI_DRS_GetBaseProfile");
}

NvAPI_Status NvapiSession::getSetting(NvU32 id, NVDRS_SETTING& record) const {
    record = freshSettingRecord();
    const NvAPI_Status status = api_.NvAPI_DRS_GetSetting(session_, profile_, id, &record);
    return status == NVAPI_SETTING_NOT_FOUND
               ? status
               : noted(status, "reading setting", "NvAPI_DRS_GetSetting", id);
}

NvAPI_Status NvapiSession::setSetting(NvU32 id, NvU32 value) const {
    NVDRS_SETTING record = freshSettingRecord();
    record.settingId = id;
    record.settingType = 0;
    record.u32CurrentValue = value;
    return noted(api_.NvAPI_DRS_SetSetting(session_, profile_, &record), "writing setting",
                 "NvAPI_DRS_SetSetting", id);
}

NvAPI_Status NvapiSession::deleteSetting(NvU32 id) const {
    const NvAPI_Status status = api_.NvAPI_DRS_DeleteProfileSetting(session_, profile_, id);
    return status == NVAPI_SETTING_NOT_FOUND
               ? status
               : noted(status, "removing setting", "NvAPI_DRS_DeleteProfileSetting", id);
}

NvAPI_Status NvapiSession::save() const {
    return noted(api_.NvAPI_DRS_SaveSettings(session_), "committing the settings",
                 "NvAPI_DRS_SaveSettings");
}
