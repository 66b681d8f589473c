#include "sim/nvapi/driver.h"

#include "sim/nvapi/text.h"

namespace {

constexpr uintptr_t kSessionBase = 0x5E550000;
constexpr uintptr_t kProfileBase = 0xBA5E0000;

/// Notes how the caller misused the library and gives the status that refuses the call.
NvAPI_Status misuse(DriverNote& note, const std::string& subject, const char* what,
                    NvAPI_Status status) {
    note.misuse = subject + " " + what;
    return status;
}

}  // namespace

NvDRSSessionHandle sessionHandle(uint32_t number) {
    return reinterpret_cast<NvDRSSessionHandle>(kSessionBase + number);
}

NvDRSProfileHandle profileHandle(uint32_t number) {
    return reinterpret_cast<NvDRSProfileHandle>(kProfileBase + number);
}

NvAPI_Status SimDriver::initialize(DriverNote&) {
    if (initialiseStatus_ != NVAPI_OK) {
        return initialiseStatus_;
    }
    ++initCount_;
    return NVAPI_OK;
}

SimDriver::Session* SimDriver::findSession(NvDRSSessionHandle handle, NvAPI_Status& status,
                                           DriverNote& note) {
    if (initCount_ == 0) {
        status = misuse(note, "library", "not-initialised", NVAPI_API_NOT_INITIALIZED);
        return nullptr;
    }
    const uintptr_t value = reinterpret_cast<uintptr_t>(handle);
    const auto found = sessions_.find(value);
    if (found == sessions_.end()) {
        // A number this library handed out before is a session destroyed since.
        const bool released = value > kSessionBase && value <= kSessionBase + sessionsMade_;
        status = misuse(note, "session=" + hexHandle(handle), released ? "released" : "unknown",
                        simstatus::kBadHandle);
        return nullptr;
    }
    return &found->second;
}

SimDriver::Session* SimDriver::findLoadedProfile(NvDRSSessionHandle handle,
                                                 NvDRSProfileHandle profile, NvAPI_Status& status,
                                                 DriverNote& note) {
    Session* session = findSession(handle, status, note);
    if (session == nullptr) {
        return nullptr;
    }
    if (!session->profileGiven || profile != profileHandle(session->number)) {
        status = misuse(note, "profile=" + hexHandle(profile), "unknown", simstatus::kBadHandle);
        return nullptr;
    }
    if (!session->loaded) {
        status = misuse(note, "session=" + hexHandle(handle), "not-loaded", simstatus::kNotLoaded);
        return nullptr;
    }
    return session;
}

SimDriver::Session* SimDriver::findForRecord(NvDRSSessionHandle handle, NvDRSProfileHandle profile,
                                             const NVDRS_SETTING* record, NvAPI_Status& status,
                                             DriverNote& note) {
    Session* session = findLoadedProfile(handle, profile, status, note);
    if (session == nullptr) {
        return nullptr;
    }
    if (record == nullptr) {
        status = misuse(note, "record", "null-record", simstatus::kBadArgument);
        return nullptr;
    }
    if (record->version != NVDRS_SETTING_VER1) {
        note.detail = "version=" + hex8(record->version);
        status = misuse(note, "record", "bad-version", simstatus::kBadVersion);
        return nullptr;
    }
    return session;
}

NvAPI_Status SimDriver::createSession(NvDRSSessionHandle* session, DriverNote& note) {
    if (initCount_ == 0) {
        return misuse(note, "library", "not-initialised", NVAPI_API_NOT_INITIALIZED);
    }
    if (session == nullptr) {
        return misuse(note, "library", "null-out", simstatus::kBadArgument);
    }
    Session made;
    made.number = ++sessionsMade_;
    *session = sessionHandle(made.number);
    sessions_[reinterpret_cast<uintptr_t>(*session)] = made;
    note.detail = "session=" + hexHandle(*session);
    return NVAPI_OK;
}

NvAPI_Status SimDriver::loadSettings(NvDRSSessionHandle handle, DriverNote& note) {
    NvAPI_Status status = NVAPI_OK;
    Session* session = findSession(handle, status, note);
    if (session == nullptr) {
        return status;
    }
    Profile loaded;
    std::string error;
    if (!store_.load(loaded, error)) {
        note.detail = "error=\"" + error + "\"";
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
    note.detail = "settings=" + std::to_string(session->settings.size());
    return NVAPI_OK;
}

NvAPI_Status SimDriver::getBaseProfile(NvDRSSessionHandle handle, NvDRSProfileHandle* profile,
                                       DriverNote& note) {
    NvAPI_Status status = NVAPI_OK;
    Session* session = findSession(handle, status, note);
    if (session == nullptr) {
        return status;
    }
    if (profile == nullptr) {
        return misuse(note, "session=" + hexHandle(handle), "null-out", simstatus::kBadArgument);
    }
    session->profileGiven = true;
    *profile = profileHandle(session->number);
    note.detail = "profile=" + hexHandle(*profile);
    return NVAPI_OK;
}

NvAPI_Status SimDriver::getSetting(NvDRSSessionHandle handle, NvDRSProfileHandle profile, NvU32 id,
                                   NVDRS_SETTING* record, DriverNote& note) {
    NvAPI_Status status = NVAPI_OK;
    Session* session = findForRecord(handle, profile, record, status, note);
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
    note.detail =
        "type=" + std::to_string(found->second.type) + " value=" + hex8(found->second.value);
    return NVAPI_OK;
}

NvAPI_Status SimDriver::setSetting(NvDRSSessionHandle handle, NvDRSProfileHandle profile,
                                   const NVDRS_SETTING* record, DriverNote& note) {
    NvAPI_Status status = NVAPI_OK;
    Session* session = findForRecord(handle, profile, record, status, note);
    if (session == nullptr) {
        return status;
    }
    session->settings[record->settingId] =
        StoredSetting{record->settingType, record->u32CurrentValue};
    return NVAPI_OK;
}

NvAPI_Status SimDriver::deleteProfileSetting(NvDRSSessionHandle handle, NvDRSProfileHandle profile,
                                             NvU32 id, DriverNote& note) {
    NvAPI_Status status = NVAPI_OK;
    Session* session = findLoadedProfile(handle, profile, status, note);
    if (session == nullptr) {
        return status;
    }
    return session->settings.erase(id) == 1 ? NVAPI_OK : NVAPI_SETTING_NOT_FOUND;
}

NvAPI_Status SimDriver::saveSettings(NvDRSSessionHandle handle, DriverNote& note) {
    NvAPI_Status status = NVAPI_OK;
    Session* session = findSession(handle, status, note);
    if (session == nullptr) {
        return status;
    }
    if (!session->loaded) {
        // Committing a copy that was never loaded would wipe every setting.
        return misuse(note, "session=" + hexHandle(handle), "not-loaded", simstatus::kNotLoaded);
    }
    std::string error;
    if (!store_.save(session->settings, error)) {
        note.detail = "error=\"" + error + "\"";
        return NVAPI_ERROR;
    }
    note.detail = "settings=" + std::to_string(session->settings.size());
    return NVAPI_OK;
}

NvAPI_Status SimDriver::destroySession(NvDRSSessionHandle handle, DriverNote& note) {
    NvAPI_Status status = NVAPI_OK;
    if (findSession(handle, status, note) == nullptr) {
        return status;
    }
    sessions_.erase(reinterpret_cast<uintptr_t>(handle));  // uncommitted changes are dropped
    return NVAPI_OK;
}

NvAPI_Status SimDriver::unload(DriverNote& note, NvU32 argument) {
    if (argument != 0) {
        return misuse(note, "library", "bad-argument", simstatus::kBadArgument);
    }
    if (initCount_ == 0) {
        return misuse(note, "library", "not-initialised", NVAPI_API_NOT_INITIALIZED);
    }
    if (--initCount_ == 0 && !sessions_.empty()) {
        // A caller that unloads with sessions still open leaks them; say so in the log.
        note.detail = "open_sessions=" + std::to_string(sessions_.size());
        sessions_.clear();
    }
    return NVAPI_OK;
}
