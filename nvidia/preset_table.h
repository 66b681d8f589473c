// The NVIDIA settings the presets manage, and the text forms of their backup entries.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "contracts/nvapi_types.h"
#include "frame/preset_level.h"

struct NvidiaPresetRow {
    NvU32 settingId;
    NvU32 value;       // what every preset that includes the row writes
    int32_t minLevel;  // the lowest preset level that includes the row
};

/// Table order is the order of every walk: read pass, write pass and restore.
extern const std::array<NvidiaPresetRow, 13> NvidiaPresetTable;

inline bool rowInPreset(const NvidiaPresetRow& row, PresetLevel level) {
    return row.minLevel <= level;
}

/// "0x" and eight upper-case hexadecimal digits.
std::string hex32(NvU32 value);

/// "setting." followed by hex32 of the id.
std::string settingKey(NvU32 settingId);

namespace nvidiavalue {
constexpr std::string_view kMissing = "missing";
constexpr std::string_view kValuePrefix = "value:";
}  // namespace nvidiavalue

/// "value:" followed by hex32 of the value.
std::string recordedValue(NvU32 value);

/// Reads a recorded number the way it has always been read back: leading white space,
/// an optional sign (minus negates modulo 2^32), "0x"/"0X" hexadecimal, a leading "0"
/// octal, else decimal; at least one digit; trailing text ignored; nothing above
/// 4294967295. Empty when the text holds no such number.
std::optional<NvU32> parseRecordedNumber(std::string_view text);
