// The simulated driver: a committed base profile and sessions that each hold their own
// copy of it. LoadSettings copies the committed profile into a session, Set and Delete
// change only that copy, SaveSettings commits the copy. Handles are checked on every
// call, so a caller that mixes them up or calls before initialising gets a failure.
#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "sim/nvapi/state_file.h"

/// Statuses of our own for misuse; callers only need to know that they are not 0.
namespace simstatus {
constexpr NvAPI_Status kBadArgument = -5;  // a null pointer or a non-zero unload argument
constexpr NvAPI_Status kNotLoaded = -7;    // the session has not loaded its settings
constexpr NvAPI_Status kBadHandle = -8;    // not a session or profile handle of ours
constexpr NvAPI_Status kBadVersion = -9;   // the record's stamp is not version 1
}  // namespace simstatus

class SimDriver {
  public:
    SimDriver(StateStore& store, std::map<NvU32, NvU32> typeOverrides,
              NvAPI_Status initialiseStatus)
        : store_(store),
          typeOverrides_(std::move(typeOverrides)),
          initialiseStatus_(initialiseStatus) {}

    // Each call may add text to `detail` for the call log (outputs, or why it failed).
    NvAPI_Status initialize(std::string& detail);
    NvAPI_Status createSession(NvDRSSessionHandle* session, std::string& detail);
    NvAPI_Status loadSettings(NvDRSSessionHandle session, std::string& detail);
    NvAPI_Status getBaseProfile(NvDRSSessionHandle session, NvDRSProfileHandle* profile,
                                std::string& detail);
    NvAPI_Status getSetting(NvDRSSessionHandle session, NvDRSProfileHandle profile, NvU32 id,
                            NVDRS_SETTING* record, std::string& detail);
    NvAPI_Status setSetting(NvDRSSessionHandle session, NvDRSProfileHandle profile,
                            const NVDRS_SETTING* record, std::string& detail);
    NvAPI_Status deleteProfileSetting(NvDRSSessionHandle session, NvDRSProfileHandle profile,
                                      NvU32 id, std::string& detail);
    NvAPI_Status saveSettings(NvDRSSessionHandle session, std::string& detail);
    NvAPI_Status destroySession(NvDRSSessionHandle session, std::string& detail);
    NvAPI_Status unload(std::string& detail);

  private:
    struct Session {
        uint32_t number = 0;
        bool loaded = false;
        bool profileGiven = false;
        Profile settings;
    };

    /// The session behind `handle`, or null with the status to return in `status`.
    Session* findSession(NvDRSSessionHandle handle, NvAPI_Status& status);
    /// As findSession, and also checks the profile handle and that settings are loaded.
    Session* findLoadedProfile(NvDRSSessionHandle handle, NvDRSProfileHandle profile,
                               NvAPI_Status& status);
    /// As findLoadedProfile, and also checks the setting record a call passes.
    Session* findForRecord(NvDRSSessionHandle handle, NvDRSProfileHandle profile,
                           const NVDRS_SETTING* record, NvAPI_Status& status, std::string& detail);

    StateStore& store_;
    std::map<NvU32, NvU32> typeOverrides_;
    NvAPI_Status initialiseStatus_;
    uint32_t initCount_ = 0;
    uint32_t sessionsMade_ = 0;
    std::map<uintptr_t, Session> sessions_;
};

/// The handle values are fixed per session number, so logs compare across runs.
NvDRSSessionHandle sessionHandle(uint32_t number);
NvDRSProfileHandle profileHandle(uint32_t number);
