// Reading and writing a setting object's value as one signed 32-bit number, so apply and
// restore treat both shapes alike: a switch's flag byte widens to 0..255, a mode is itself.
#pragma once

#include "contracts/adlx_interface.h"

inline ADLX_RESULT readValue(IADLX3DSwitchSetting* setting, int32_t& value) {
    adlx_bool enabled = 0;
    const ADLX_RESULT result = setting->IsEnabled(&enabled);
    value = enabled;
    return result;
}

inline ADLX_RESULT readValue(IADLX3DModeSetting* setting, int32_t& value) {
    int32_t mode = 0;
    const ADLX_RESULT result = setting->GetMode(&mode);
    value = mode;
    return result;
}

inline ADLX_RESULT writeValue(IADLX3DSwitchSetting* setting, int32_t value) {
    return setting->SetEnabled(static_cast<adlx_bool>(value != 0 ? 1 : 0));
}

inline ADLX_RESULT writeValue(IADLX3DModeSetting* setting, int32_t value) {
    return setting->SetMode(value);
}

/// The calls `readValue` and `writeValue` make, as a failure names them.
constexpr const char* readCall(IADLX3DSwitchSetting*) {
    return "IsEnabled";
}
constexpr const char* readCall(IADLX3DModeSetting*) {
    return "GetMode";
}
constexpr const char* writeCall(IADLX3DSwitchSetting*) {
    return "SetEnabled";
}
constexpr const char* writeCall(IADLX3DModeSetting*) {
    return "SetMode";
}

enum class Support { yes, no, unknown };

/// What IsSupported says: yes, no (also when it answers "not supported" itself), or
/// unknown when the call failed otherwise, with its result in `failure` when given.
template <typename Setting>
Support supportOf(Setting* setting, ADLX_RESULT* failure = nullptr) {
    adlx_bool supported = 0;
    const ADLX_RESULT result = setting->IsSupported(&supported);
    if (failure != nullptr) {
        *failure = result;
    }
    if (!adlxSucceeded(result)) {
        return adlxAbsent(result) ? Support::no : Support::unknown;
    }
    return supported != 0 ? Support::yes : Support::no;
}

/// IsSupported succeeded and said yes.
template <typename Setting>
bool isSupported(Setting* setting) {
    return supportOf(setting) == Support::yes;
}
