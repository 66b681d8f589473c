// The simulated driver: a committed base profile and sessions that each hold their own
// copy of it. LoadSettings copies the committed profile into a session, Set and Delete
// change only that copy, SaveSettings commits the copy. Handles are checked on every
// call, so a caller that mixes them up or calls before initialising gets a failure, and the
// call's note says how it misused the library.
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

/// What a call leaves for the log besides its status.
struct DriverNote {
    std::string detail;  // outputs, or why the call failed
    /// "<subject> <what>" when the caller misused the library: the handle or argument at
    /// fault ("session=0x5E550009", "record"; "library" for the library as a whole) and
    /// how ("unknown", "released", "not-loaded", "null-out", "null-record", "bad-version",
    /// "bad-argument", "not-initialised"). Empty for a sound call.
    std::string misuse;
};

class SimDriver {
  public:
    SimDriver(StateStore& store, std::map<NvU32, NvU32> typeOverrides,
              NvAPI_Status initialiseStatus)
        : store_(store),
          typeOverrides_(std::move(typeOverrides)),
          initialiseStatus_(initialiseStatus) {}

    // Each call may add to `note` for the call log.
    NvAPI_Status initialize(DriverNote& note);
    NvAPI_Status createSession(NvDRSSessionHandle* session, DriverNote& note);
    NvAPI_Status loadSettings(NvDRSSessionHandle session, DriverNote& note);
    NvAPI_Status getBaseProfile(NvDRSSessionHandle session, NvDRSProfileHandle* profile,
                                DriverNote& note);
    NvAPI_Status getSetting(NvDRSSessionHandle session, NvDRSProfileHandle profile, NvU32 id,
                            NVDRS_SETTING* record, DriverNote& note);
    NvAPI_Status setSetting(NvDRSSessionHandle session, NvDRSProfileHandle profile,
                            const NVDRS_SETTING* record, DriverNote& note);
    NvAPI_Status deleteProfileSetting(NvDRSSessionHandle session, NvDRSProfileHandle profile,
                                      NvU32 id, DriverNote& note);
    NvAPI_Status saveSettings(NvDRSSessionHandle session, DriverNote& note);
    NvAPI_Status destroySession(NvDRSSessionHandle session, DriverNote& note);
    /// `argument`: what the caller passed to the unload entry that takes one; only 0 is
    /// known.
    NvAPI_Status unload(DriverNote& note, NvU32 argument = 0);

  private:
    struct Session {
        uint32_t number = 0;
        bool loaded = false;
        bool profileGiven = false;
        Profile settings;
    };

    /// The session behind `handle`, or null with the status to return in `status`.
    Session* findSession(NvDRSSessionHandle handle, NvAPI_Status& status, DriverNote& note);
    /// As findSession, and also checks the profile handle and that settings are loaded.
    Session* findLoadedProfile(NvDRSSessionHandle handle, NvDRSProfileHandle profile,
                               NvAPI_Status& status, DriverNote& note);
    /// As findLoadedProfile, and also checks the setting record a call passes.
    Session* findForRecord(NvDRSSessionHandle handle, NvDRSProfileHandle profile,
                           const NVDRS_SETTING* record, NvAPI_Status& status, DriverNote& note);

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
