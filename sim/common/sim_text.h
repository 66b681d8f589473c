// Text helpers both simulated libraries read their configuration with, so a number or a
// list means the same in either.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

/// `text` without spaces and tabs at either end.
std::string_view trimBlanks(std::string_view text);

/// Pieces of `text` between the separators; an empty text gives one empty piece.
std::vector<std::string_view> splitAt(std::string_view text, char separator);

/// Reads a whole unsigned 32-bit number: decimal, or hexadecimal after "0x"/"0X".
/// False for anything else, trailing text and values above 0xFFFFFFFF included.
bool parseU32(std::string_view text, uint32_t& out);

/// Reads a signed status: an optional "-" or "+" and a decimal number, or a hexadecimal
/// 32-bit pattern ("0xFFFFFF60" is -160).
bool parseStatus(std::string_view text, int32_t& out);

/// The value of the variable `name` in `variables`, or "" when it is not set.
std::wstring variableValue(const std::map<std::string, std::wstring>& variables, const char* name);

/// The same in ASCII, as every grammar of the configuration is: any other character becomes
/// '?', which no rule, number or name accepts.
std::string variableText(const std::map<std::string, std::wstring>& variables, const char* name);

/// Why the configuration is refused when `variables` (names in upper case, as
/// variablesStartingWith gives them) holds a name that is none of `known`: a misspelt
/// variable would otherwise configure nothing, silently. Empty when every name is known.
std::string unknownVariableProblem(const std::map<std::string, std::wstring>& variables,
                                   const std::vector<std::string_view>& known);
