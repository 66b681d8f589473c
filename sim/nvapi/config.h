// The simulated library's configuration: environment variables of its own, read once when
// the library is first asked for an entry. The tools read none of them.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "sim/nvapi/faults.h"

struct NvapiSimConfig {
    std::wstring statePath;                // SIM_NVAPI_STATE; empty: settings live in memory only
    std::wstring logPath;                  // SIM_NVAPI_LOG; empty: no call log
    std::vector<FaultRule> faults;         // SIM_NVAPI_FAULTS
    std::map<NvU32, NvU32> typeOverrides;  // SIM_NVAPI_SETTING_TYPE: id -> settingType
    std::wstring loadByName;               // SIM_NVAPI_LOAD_BY_NAME; empty: no such load
};

/// Parses "id=type" pairs separated by commas, for example "0x00A879CF=1".
bool parseTypeOverrides(std::string_view text, std::map<NvU32, NvU32>& types, std::string& error);

/// Reads the environment. On false `error` names the variable and the fault in it.
bool readConfig(NvapiSimConfig& config, std::string& error);
