#include "sim/nvapi/config.h"

#include <windows.h>

#include "sim/nvapi/text.h"

namespace {

/// The variable's text, or empty when it is not set.
std::wstring wideVariable(const wchar_t* name) {
    std::wstring value(256, L'\0');
    for (;;) {
        const DWORD length =
            GetEnvironmentVariableW(name, value.data(), static_cast<DWORD>(value.size()));
        if (length == 0) {
            return {};
        }
        if (length < value.size()) {
            value.resize(length);
            return value;
        }
        value.resize(length);  // too small: `length` includes the terminator
    }
}

/// Rules and ids are ASCII; anything else cannot be part of a valid rule anyway.
std::string asciiVariable(const wchar_t* name) {
    std::string text;
    for (wchar_t c : wideVariable(name)) {
        text += c < 0x80 ? static_cast<char>(c) : '?';
    }
    return text;
}

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

bool readConfig(SimConfig& config, std::string& error) {
    config.statePath = wideVariable(L"SIM_NVAPI_STATE");
    config.logPath = wideVariable(L"SIM_NVAPI_LOG");
    config.loadByName = wideVariable(L"SIM_NVAPI_LOAD_BY_NAME");
    if (!parseFaultRules(asciiVariable(L"SIM_NVAPI_FAULTS"), config.faults, error)) {
        error = "SIM_NVAPI_FAULTS: " + error;
        return false;
    }
    return parseTypeOverrides(asciiVariable(L"SIM_NVAPI_SETTING_TYPE"), config.typeOverrides,
                              error);
}
