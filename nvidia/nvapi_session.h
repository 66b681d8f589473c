// Owns one opening of the driver-settings interface: initialise, session, loaded
// settings, base profile. Closing (destroy the session, then unload) happens in the
// destructor, so it runs after the result line on every path, an exception included.
// Every call on the base profile goes through here, so no caller handles the session or
// the profile itself.
#pragma once

#include <string_view>

#include "contracts/nvapi_types.h"
#include "store/failure_log.h"

class NvapiSession {
  public:
    /// Every call that fails is kept in `log` with the setting it was for, where one is
    /// given; "no such setting" is an answer, not a failure.
    explicit NvapiSession(const NvapiTable& api, FailureLog* log = nullptr)
        : api_(api), log_(log) {}
    ~NvapiSession();
    NvapiSession(const NvapiSession&) = delete;
    NvapiSession& operator=(const NvapiSession&) = delete;

    /// Opens in the fixed order and stops at the first non-zero status, which it returns.
    NvAPI_Status open();

    /// Reads setting `id` of the base profile into `record`, which starts zeroed and stamped.
    NvAPI_Status getSetting(NvU32 id, NVDRS_SETTING& record) const;
    /// Writes `value` to setting `id` of the base profile as a 32-bit number (type 0).
    NvAPI_Status setSetting(NvU32 id, NvU32 value) const;
    /// Takes setting `id` out of the base profile; -160 when it holds none.
    NvAPI_Status deleteSetting(NvU32 id) const;
    /// Commits every change made in this session.
    NvAPI_Status save() const;

  private:
    /// Keeps a failed call of `step` ("reading setting"), for setting `id` when not 0.
    NvAPI_Status noted(NvAPI_Status status, std::string_view step, std::string_view call,
                       NvU32 id = 0) const;

    const NvapiTable& api_;
    FailureLog* log_;
    bool initialised_ = false;
    NvDRSSessionHandle session_ = nullptr;
    NvDRSProfileHandle profile_ = nullptr;
};
