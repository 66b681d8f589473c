#include "frame/preset_level.h"

#include <array>
#include <utility>

bool equalsIgnoringAsciiCase(std::wstring_view word, std::string_view fixed) {
    if (word.size() != fixed.size()) {
        return false;
    }
    for (size_t i = 0; i < word.size(); ++i) {
        wchar_t c = word[i];
        if (c >= L'A' && c <= L'Z') {
            c = static_cast<wchar_t>(c - L'A' + L'a');
        }
        if (c != static_cast<wchar_t>(static_cast<unsigned char>(fixed[i]))) {
            return false;
        }
    }
    return true;
}

PresetLevel parsePresetLevel(std::wstring_view name) {
    static constexpr std::array<std::pair<std::string_view, PresetLevel>, 3> kNames{{
        {"gamer", 1},
        {"competitivo", 2},
        {"extremo", 3},
    }};
    for (const auto& [word, level] : kNames) {
        if (equalsIgnoringAsciiCase(name, word)) {
            return level;
        }
    }
    return kNoPreset;
}
