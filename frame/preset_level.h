// Preset names of the command line and the word comparison the command line uses.
#pragma once

#include <string_view>

/// 1 "gamer", 2 "competitivo", 3 "extremo"; 0 only while parsing (no such preset).
using PresetLevel = int;

constexpr PresetLevel kNoPreset = 0;

/// True when `word` equals `fixed` with ASCII A-Z folded to lower case; every other
/// character must match exactly and the whole text must match. `fixed` is lower case.
bool equalsIgnoringAsciiCase(std::wstring_view word, std::string_view fixed);

/// Maps a preset name to its level, or kNoPreset when it names none of the three.
PresetLevel parsePresetLevel(std::wstring_view name);
