// Owns one opening of the driver-settings interface: initialise, session, loaded
// settings, base profile. Closing (destroy the session, then unload) happens in the
// destructor, so it runs after the result line on every path, an exception included.
#pragma once

#include "contracts/nvapi_types.h"

class NvapiSession {
  public:
    explicit NvapiSession(const NvapiTable& api) : api_(api) {}
    ~NvapiSession();
    NvapiSession(const NvapiSession&) = delete;
    NvapiSession& operator=(const NvapiSession&) = delete;

    /// Opens in the fixed order and stops at the first non-zero status, which it returns.
    NvAPI_Status open();

    /// Writes `value` to setting `id` of the base profile as a 32-bit number (type 0).
    NvAPI_Status setSetting(NvU32 id, NvU32 value) const;

    const NvapiTable& api() const { return api_; }
    NvDRSSessionHandle session() const { return session_; }
    NvDRSProfileHandle profile() const { return profile_; }

  private:
    const NvapiTable& api_;
    bool initialised_ = false;
    NvDRSSessionHandle session_ = nullptr;
    NvDRSProfileHandle profile_ = nullptr;
};

/// A zeroed version-1 record, as every read and write starts.
NVDRS_SETTING freshSettingRecord();
