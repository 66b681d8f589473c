// Where committed settings live between sessions: the state file named by
// SIM_NVAPI_STATE, or memory when it is not set.
//
// State file: one setting per line, "<id>=<value>" with an optional " type=<t>", numbers
// decimal or "0x" hexadecimal; blank lines and lines starting with "#" are ignored. A
// missing file is an empty profile. The library writes it back sorted by id, as
// "0x1057EB71=0x00000001" (and " type=1" only for a non-zero type), CR LF line ends.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <string_view>

#include "contracts/nvapi_types.h"

struct StoredSetting {
    NvU32 type = 0;
    NvU32 value = 0;
    bool operator==(const StoredSetting& o) const { return type == o.type && value == o.value; }
};

/// The base profile's own settings by id.
using Profile = std::map<NvU32, StoredSetting>;

/// Parses state file text. On false `error` names the line.
bool parseState(std::string_view text, Profile& profile, std::string& error);

/// The state file text for `profile`.
std::string formatState(const Profile& profile);

class StateStore {
  public:
    virtual ~StateStore() = default;
    /// The committed profile; false (with `error`) when it cannot be read.
    virtual bool load(Profile& profile, std::string& error) = 0;
    /// Commits `profile`; false (with `error`) when it cannot be written.
    virtual bool save(const Profile& profile, std::string& error) = 0;
};

/// A file store for a non-empty path, else a store in memory that starts empty.
std::unique_ptr<StateStore> makeStateStore(const std::wstring& path);
