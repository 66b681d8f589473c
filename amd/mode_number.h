// Reading a recorded mode back from its backup text.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

/// Leading white space is skipped, then an optional sign, then one or more decimal digits;
/// anything after the digits is ignored ("3x" is 3). Nothing when there are no digits or
/// the number lies outside the signed 32-bit range.
std::optional<int32_t> parseModeNumber(std::string_view text);
