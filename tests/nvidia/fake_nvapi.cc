#include "tests/nvidia/fake_nvapi.h"

#include <stdexcept>

#include "nvidia/preset_table.h"
#include "sim/nvapi/text.h"

namespace {

FakeNvapi* current = nullptr;

/// Logs the call; returns the status of a fault asked for it, 0 when there is none.
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

/// The status of a fault asked for the call, else of one asked for its setting.
NvAPI_Status refusal(NvAPI_Status status, const std::map<NvU32, NvAPI_Status>& settingFaults,
                     NvU32 id) {
    auto fault = settingFaults.find(id);
    return status != NVAPI_OK || fault == settingFaults.end() ? status : fault->second;
}

/// The simulated driver performs the call only when no fault refused it; a call it refuses
/// as a misuse is noted as the library logs it.
template <typename Perform>
NvAPI_Status unlessRefused(NvAPI_Status refused, Perform perform) {
    if (refused != NVAPI_OK) {
        return refused;
    }
    DriverNote note;  // its detail is the library's log text; this log keeps its own
    const NvAPI_Status status = perform(*current->driver, note);
    if (!note.misuse.empty()) {
        current->misuses.push_back("MISUSE " + current->calls.back() + " " + note.misuse);
    }
    return status;
}

NvAPI_Status initialize() {
    return unlessRefused(enter("Initialize", "Initialize"),
                         [](SimDriver& d, DriverNote& x) { return d.initialize(x); });
}

NvAPI_Status createSession(NvDRSSessionHandle* session) {
    return unlessRefused(enter("CreateSession", "CreateSession"),
                         [&](SimDriver& d, DriverNote& x) { return d.createSession(session, x); });
}

NvAPI_Status loadSettings(NvDRSSessionHandle s) {
    return unlessRefused(enter("LoadSettings", "LoadSettings"),
                         [&](SimDriver& d, DriverNote& x) { return d.loadSettings(s, x); });
}

NvAPI_Status getBaseProfile(NvDRSSessionHandle s, NvDRSProfileHandle* profile) {
    return unlessRefused(
        enter("GetBaseProfile", "GetBaseProfile"),
        [&](SimDriver& d, DriverNote& x) { return d.getBaseProfile(s, profile, x); });
}

NvAPI_Status getSetting(NvDRSSessionHandle s, NvDRSProfileHandle p, NvU32 id,
                        NVDRS_SETTING* record) {
    const NvAPI_Status status = enter("GetSetting", "GetSetting " + hex8(id));
    checkRecord(record, false);
    return unlessRefused(refusal(status, current->getFaults, id), [&](SimDriver& d, DriverNote& x) {
        return d.getSetting(s, p, id, record, x);
    });
}

NvAPI_Status setSetting(NvDRSSessionHandle s, NvDRSProfileHandle p, NVDRS_SETTING* record) {
    const NvAPI_Status status = enter("SetSetting", "SetSetting " + hex8(record->settingId) + " " +
                                                        hex8(record->u32CurrentValue));
    checkRecord(record, true);
    return unlessRefused(
        refusal(status, current->setFaults, record->settingId),
        [&](SimDriver& d, DriverNote& x) { return d.setSetting(s, p, record, x); });
}

NvAPI_Status deleteProfileSetting(NvDRSSessionHandle s, NvDRSProfileHandle p, NvU32 id) {
    const NvAPI_Status status = enter("DeleteProfileSetting", "DeleteProfileSetting " + hex8(id));
    return unlessRefused(
        refusal(status, current->deleteFaults, id),
        [&](SimDriver& d, DriverNote& x) { return d.deleteProfileSetting(s, p, id, x); });
}

NvAPI_Status saveSettings(NvDRSSessionHandle s) {
    return unlessRefused(enter("SaveSettings", "SaveSettings"),
                         [&](SimDriver& d, DriverNote& x) { return d.saveSettings(s, x); });
}

NvAPI_Status destroySession(NvDRSSessionHandle s) {
    return unlessRefused(enter("DestroySession", "DestroySession"),
                         [&](SimDriver& d, DriverNote& x) { return d.destroySession(s, x); });
}

NvAPI_Status unload() {
    return unlessRefused(enter("Unload", "Unload"),
                         [](SimDriver& d, DriverNote& x) { return d.unload(x); });
}

}  // namespace

bool FakeNvapi::CommittedStore::load(Profile& profile, std::string&) {
    profile = committed_;
    return true;
}

bool FakeNvapi::CommittedStore::save(const Profile& profile, std::string&) {
    committed_ = profile;
    return true;
}

FakeNvapi::FakeNvapi() {
    if (current != nullptr) {
        throw std::logic_error("one fake driver at a time");
    }
    current = this;
    driver = std::make_unique<SimDriver>(store, std::map<NvU32, NvU32>{}, NVAPI_OK);
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
    driver = std::make_unique<SimDriver>(store, std::map<NvU32, NvU32>{}, NVAPI_OK);
    calls.clear();
    faults.clear();
    getFaults.clear();
    setFaults.clear();
    deleteFaults.clear();
    recordErrors.clear();
    misuses.clear();
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
