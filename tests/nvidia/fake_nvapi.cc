#include "tests/nvidia/fake_nvapi.h"

#include <cstdio>
#include <optional>
#include <stdexcept>

#include "nvidia/preset_table.h"

namespace {

FakeNvapi* current = nullptr;
const auto kSession = reinterpret_cast<NvDRSSessionHandle>(uintptr_t{0x5E55});
const auto kProfile = reinterpret_cast<NvDRSProfileHandle>(uintptr_t{0xBA5E});

std::string hex(NvU32 v) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", v);
    return text;
}

NvAPI_Status enter(const std::string& name, const std::string& call) {
    if (current->observer) {
        current->observer(name);
    }
    current->calls.push_back(call);
    auto fault = current->faults.find(name);
    return fault == current->faults.end() ? NVAPI_OK : fault->second;
}

void checkRecord(const NVDRS_SETTING* record, bool forWrite) {
    if (record->version != NVDRS_SETTING_VER1) {
        current->recordErrors.push_back("stamp");
    }
    const auto* bytes = reinterpret_cast<const unsigned char*>(record);
    for (size_t i = 4; i < sizeof(NVDRS_SETTING); ++i) {
        const bool written = forWrite && ((i >= 4100 && i < 4104) || (i >= 8220 && i < 8224));
        if (!written && bytes[i] != 0) {
            current->recordErrors.push_back("byte " + std::to_string(i) + " not zero");
            return;
        }
    }
}

bool badHandles(NvDRSSessionHandle s, NvDRSProfileHandle p) {
    return s != kSession || p != kProfile;
}

NvAPI_Status initialize() {
    return enter("Initialize", "Initialize");
}

NvAPI_Status createSession(NvDRSSessionHandle* session) {
    NvAPI_Status status = enter("CreateSession", "CreateSession");
    if (status == NVAPI_OK) {
        *session = kSession;
    }
    return status;
}

/// A call on the session: logged, refused with a handle that is not the session's, and
/// taking effect only when no fault was asked for.
template <typename Effect>
NvAPI_Status sessionCall(const char* name, NvDRSSessionHandle session, Effect effect) {
    NvAPI_Status status = enter(name, name);
    if (session != kSession) {
        return NVAPI_ERROR;
    }
    if (status == NVAPI_OK) {
        effect();
    }
    return status;
}

/// Why a call on one setting fails before it takes effect, if it does: a handle that is
/// not ours, a fault asked for the call, or one asked for that setting.
std::optional<NvAPI_Status> refusal(NvAPI_Status status, NvDRSSessionHandle s, NvDRSProfileHandle p,
                                    const std::map<NvU32, NvAPI_Status>& settingFaults, NvU32 id) {
    if (badHandles(s, p)) {
        return NVAPI_ERROR;
    }
    if (status != NVAPI_OK) {
        return status;
    }
    auto fault = settingFaults.find(id);
    return fault == settingFaults.end() ? std::nullopt : std::optional(fault->second);
}

NvAPI_Status loadSettings(NvDRSSessionHandle session) {
    return sessionCall("LoadSettings", session, [] { current->session = current->committed; });
}

NvAPI_Status getBaseProfile(NvDRSSessionHandle session, NvDRSProfileHandle* profile) {
    return sessionCall("GetBaseProfile", session, [profile] { *profile = kProfile; });
}

NvAPI_Status getSetting(NvDRSSessionHandle s, NvDRSProfileHandle p, NvU32 id,
                        NVDRS_SETTING* record) {
    NvAPI_Status status = enter("GetSetting", "GetSetting " + hex(id));
    checkRecord(record, false);
    if (auto refused = refusal(status, s, p, current->getFaults, id)) {
        return *refused;
    }
    auto it = current->session.find(id);
    if (it == current->session.end()) {
        return NVAPI_SETTING_NOT_FOUND;
    }
    record->settingId = id;
    record->settingType = it->second.type;
    record->u32CurrentValue = it->second.value;
    return NVAPI_OK;
}

NvAPI_Status setSetting(NvDRSSessionHandle s, NvDRSProfileHandle p, NVDRS_SETTING* record) {
    NvAPI_Status status = enter(
        "SetSetting", "SetSetting " + hex(record->settingId) + " " + hex(record->u32CurrentValue));
    checkRecord(record, true);
    if (auto refused = refusal(status, s, p, current->setFaults, record->settingId)) {
        return *refused;
    }
    current->session[record->settingId] = {record->settingType, record->u32CurrentValue};
    return NVAPI_OK;
}

NvAPI_Status deleteProfileSetting(NvDRSSessionHandle s, NvDRSProfileHandle p, NvU32 id) {
    NvAPI_Status status = enter("DeleteProfileSetting", "DeleteProfileSetting " + hex(id));
    if (auto refused = refusal(status, s, p, current->deleteFaults, id)) {
        return *refused;
    }
    return current->session.erase(id) == 1 ? NVAPI_OK : NVAPI_SETTING_NOT_FOUND;
}

NvAPI_Status saveSettings(NvDRSSessionHandle session) {
    return sessionCall("SaveSettings", session, [] { current->committed = current->session; });
}

NvAPI_Status destroySession(NvDRSSessionHandle session) {
    return sessionCall("DestroySession", session, [] {});
}

NvAPI_Status unload() {
    return enter("Unload", "Unload");
}

}  // namespace

FakeNvapi::FakeNvapi() {
    if (current != nullptr) {
        throw std::logic_error("one fake driver at a time");
    }
    current = this;
}

FakeNvapi::~FakeNvapi() {
    current = nullptr;
}

NvapiTable FakeNvapi::table() const {
    NvapiTable t;
    t.NvAPI_Initialize = &initialize;
    t.NvAPI_DRS_CreateSession = &createSession;
    t.NvAPI_DRS_LoadSettings = &loadSettings;
    t.NvAPI_DRS_GetBaseProfile = &getBaseProfile;
    t.NvAPI_DRS_GetSetting = &getSetting;
    t.NvAPI_DRS_SetSetting = &setSetting;
    t.NvAPI_DRS_DeleteProfileSetting = &deleteProfileSetting;
    t.NvAPI_DRS_SaveSettings = &saveSettings;
    t.NvAPI_DRS_DestroySession = &destroySession;
    t.NvAPI_Unload = &unload;
    return t;
}

void FakeNvapi::reset() {
    committed = fullProfile();
    session.clear();
    calls.clear();
    faults.clear();
    getFaults.clear();
    setFaults.clear();
    deleteFaults.clear();
    recordErrors.clear();
    observer = nullptr;
}

FakeNvapi::Profile FakeNvapi::fullProfile() {
    Profile profile;
    NvU32 value = 0x100;
    for (const NvidiaPresetRow& row : NvidiaPresetTable) {
        profile[row.settingId] = {0, value++};
    }
    return profile;
}
