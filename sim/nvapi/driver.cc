#include "sim/nvapi/driver.h"

#include "sim/nvapi/text.h"

NvDRSSessionHandle sessionHandle(uint32_t number) {
    return reinterpret_cast<NvDRSSessionHandle>(uintptr_t{0x5E550000} + number);
}

NvDRSProfileHandle profileHandle(uint32_t number) {
    return reinterpret_cast<NvDRSProfileHandle>(uintptr_t{0xBA5E0000} + number);
}

NvAPI_Status SimDriver::initialize(std::string&) {
    if (initialiseStatus_ != NVAPI_OK) {
        return initialiseStatus_;
    }
    ++initCount_;
    return NVAPI_OK;
}

SimDriver::Session* SimDriver::findSession(NvDRSSessionHandle handle, NvAPI_Status& status) {
    if (initCount_ == 0) {
        status = NVAPI_API_NOT_INITIALIZED;
        return nullptr;
    }
    const auto found = sessions_.find(reinterpret_cast<uintptr_t>(handle));
    if (found == sessions_.end()) {
        status = simstatus::kBadHandle;
        return nullptr;
    }
    return &found->second;
}

SimDriver::Session* SimDriver::findLoadedProfile(NvDRSSessionHandle handle,
                                                 NvDRSProfileHandle profile, NvAPI_Status& status) {
    Session* session = findSession(handle, status);
    if (session == nullptr) {
        return nullptr;
    }
    if (!session->profileGiven || profile != profileHandle(session->number)) {
        status = simstatus::kBadHandle;
        return nullptr;
    }
    if (!session->loaded) {
        status = simstatus::kNotLoaded;
        return nullptr;
    }
    return session;
}

SimDriver::Session* SimDriver::findForRecord(NvDRSSessionHandle handle, NvDRSProfileHandle profile,
                                             const NVDRS_SETTING* record, NvAPI_Status& status,
                                             std::string& detail) {
    Session* session = findLoadedProfile(handle, profile, status);
    if (session == nullptr) {
        return nullptr;
    }
    if (record == nullptr) {
        status = simstatus::kBadArgument;
        return nullptr;
    }
    if (record->version != NVDRS_SETTING_VER1) {
        detail = "version=" + hex8(record->version);
        status = simstatus::kBadVersion;
        return nullptr;
    }
    return session;
}

NvAPI_Status SimDriver::createSession(NvDRSSessionHandle* session, std::string& detail) {
    if (initCount_ == 0) {
        return NVAPI_API_NOT_INITIALIZED;
    }
    if (session == nullptr) {
        return simstatus::kBadArgument;
    }
    Session made;
    made.number = ++sessionsMade_;
    *session = sessionHandle(made.number);
    sessions_[reinterpret_cast<uintptr_t>(*session)] = made;
    detail = "session=" + hexHandle(*session);
    return NVAPI_OK;
}

NvAPI_Status SimDriver::loadSettings(NvDRSSessionHandle handle, std::string& detail) {
    NvAPI_Status status = NVAPI_OK;
    Session* session = findSession(handle, status);
    if (session == nullptr) {
        return status;
    }
    Profile loaded;
    std::string error;
    if (!store_.load(loaded, error)) {
        detail = "error=\"" + error + "\"";
        return NVAPI_ERROR;
    }
    for (const auto& [id, type] : typeOverrides_) {
        const auto setting = loaded.find(id);
        if (setting != loaded.end()) {
            setting->second.type = type;
        }
    }
    session->settings = std::move(loaded);
    session->loaded = true;
    detail = "settings=" + std::to_string(session->settings.size());
    return NVAPI_OK;
}

NvAPI_Status SimDriver::getBaseProfile(NvDRSSessionHandle handle, NvDRSProfileHandle* profile,
                                       std::string& detail) {
    NvAPI_Status status = NVAPI_OK;
    Session* session = findSession(handle, status);
    if (session == nullptr) {
        return status;
    }
    if (profile == nullptr) {
        return simstatus::kBadArgument;
    }
    session->profileGiven = true;
    *profile = profileHandle(session->number);
    detail = "profile=" + hexHandle(*profile);
    return NVAPI_OK;
}

NvAPI_Status SimDriver::getSetting(NvDRSSessionHandle handle, NvDRSProfileHandle profile, NvU32 id,
                                   NVDRS_SETTING* record, std::string& detail) {
    NvAPI_Status status = NVAPI_OK;
    Session* session = findForRecord(handle, profile, record, status, detail);
    if (session == nullptr) {
        return status;
    }
    const auto found = session->settings.find(id);
    if (found == session->settings.end()) {
        return NVAPI_SETTING_NOT_FOUND;
    }
    record->settingId = id;
    record->settingType = found->second.type;
    record->settingLocation = 0;
    record->isCurrentPredefined = 0;
    record->isPredefinedValid = 0;
    record->u32CurrentValue = found->second.value;
    detail = "type=" + std::to_string(found->second.type) + " value=" + hex8(found->second.value);
    return NVAPI_OK;
}

NvAPI_Status SimDriver::setSetting(NvDRSSessionHandle handle, NvDRSProfileHandle profile,
                                   const NVDRS_SETTING* record, std::string& detail) {
    NvAPI_Status status = NVAPI_OK;
    Session* session = findForRecord(handle, profile, record, status, detail);
    if (session == nullptr) {
        return status;
    }
    session->settings[record->settingId] =
        StoredSetting{record->settingType, record->u32CurrentValue};
    return NVAPI_OK;
}

NvAPI_Status SimDriver::deleteProfileSetting(NvDRSSessionHandle handle, NvDRSProfileHandle profile,
                                             NvU32 id, std::string&) {
    NvAPI_Status status = NVAPI_OK;
    Session* session = findLoadedProfile(handle, profile, status);
    if (session == nullptr) {
        return status;
    }
    return session->settings.erase(id) == 1 ? NVAPI_OK : NVAPI_SETTING_NOT_FOUND;
}

NvAPI_Status SimDriver::saveSettings(NvDRSSessionHandle handle, std::string& detail) {
    NvAPI_Status status = NVAPI_OK;
    Session* session = findSession(handle, status);
    if (session == nullptr) {
        return status;
    }
    if (!session->loaded) {
        // Committing a copy that was never loaded would wipe every setting.
        return simstatus::kNotLoaded;
    }
    std::string error;
    if (!store_.save(session->settings, error)) {
        detail = "error=\"" + error + "\"";
        return NVAPI_ERROR;
    }
    detail = "settings=" + std::to_string(session->settings.size());
    return NVAPI_OK;
}

NvAPI_Status SimDriver::destroySession(NvDRSSessionHandle handle, std::string&) {
    NvAPI_Status status = NVAPI_OK;
    if (findSession(handle, status) == nullptr) {
        return status;
    }
    sessions_.erase(reinterpret_cast<uintptr_t>(handle));  // uncommitted changes are dropped
    return NVAPI_OK;
}

NvAPI_Status SimDriver::unload(std::string& detail) {
    if (initCount_ == 0) {
        return NVAPI_API_NOT_INITIALIZED;
    }
    if (--initCount_ == 0 && !sessions_.empty()) {
        // A caller that unloads with sessions still open leaks them; say so in the log.
        detail = "open_sessions=" + std::to_string(sessions_.size());
        sessions_.clear();
    }
    return NVAPI_OK;
}
