#include "sim/nvapi/config.h"

#include "sim/common/sim_text.h"
#include "sim/environment.h"
#include "sim/nvapi/text.h"

namespace {

/// Every variable this library reads; any other SIM_NVAPI_ name is a typo.
const std::vector<std::string_view> kVariables = {
    "SIM_NVAPI_FAULTS",       "SIM_NVAPI_LOAD_BY_NAME", "SIM_NVAPI_LOG",
    "SIM_NVAPI_SETTING_TYPE", "SIM_NVAPI_STATE",
};

}  // namespace

bool parseTypeOverrides(std::string_view text, std::map<NvU32, NvU32>& types, std::string& error) {
    types.clear();
    if (trimBlanks(text).empty()) {
        return true;
    }
    for (std::string_view piece : splitAt(text, ',')) {
        const size_t eq = piece.find('=');
        uint32_t id = 0;
        uint32_t type = 0;
        if (eq == std::string_view::npos || !parseU32(trimBlanks(piece.substr(0, eq)), id) ||
            !parseU32(trimBlanks(piece.substr(eq + 1)), type)) {
            error = "SIM_NVAPI_SETTING_TYPE: bad pair: " + std::string(piece);
            return false;
        }
        types[id] = type;
    }
    return true;
}

bool readConfig(NvapiSimConfig& config, std::string& error) {
    const std::map<std::string, std::wstring> variables = variablesStartingWith("SIM_NVAPI_");
    // The log path first, so that even a refusal is logged.
    config.statePath = variableValue(variables, "SIM_NVAPI_STATE");
    config.logPath = variableValue(variables, "SIM_NVAPI_LOG");
    config.loadByName = variableValue(variables, "SIM_NVAPI_LOAD_BY_NAME");
    error = unknownVariableProblem(variables, kVariables);
    if (!error.empty()) {
        return false;
    }
    if (!parseFaultRules(variableText(variables, "SIM_NVAPI_FAULTS"), config.faults, error)) {
        error = "SIM_NVAPI_FAULTS: " + error;
        return false;
    }
    return parseTypeOverrides(variableText(variables, "SIM_NVAPI_SETTING_TYPE"),
                              config.typeOverrides, error);
}
