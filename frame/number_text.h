// The pieces both readers of numbers in backup text are built from. Each reader keeps its
// own grammar (which bases, which range); what they share is how a number starts and how
// its digits are taken.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

/// Skips leading white space (space, tab, line feed, vertical tab, form feed, carriage
/// return) and one optional sign; returns where the digits would start. `negative` is true
/// after "-".
size_t skipBlanksAndSign(std::string_view text, bool& negative);

/// The value of `c` as a digit (letters of either case from 10 on); 99 when it is none.
int digitValue(char c);

/// Reads the digits of `base` from `at` on, up to the first character that is none.
/// Nothing when there is no digit or the value grows past `limit`.
std::optional<uint64_t> readDigits(std::string_view text, size_t at, int base, uint64_t limit);
