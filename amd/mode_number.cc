#include "amd/mode_number.h"

#include "frame/number_text.h"

std::optional<int32_t> parseModeNumber(std::string_view text) {
    bool negative = false;
    const size_t at = skipBlanksAndSign(text, negative);
    const std::optional<uint64_t> magnitude =
        readDigits(text, at, 10, negative ? 2147483648ULL : 2147483647ULL);
    if (!magnitude) {
        return std::nullopt;
    }
    const auto value = static_cast<int64_t>(*magnitude);
    return static_cast<int32_t>(negative ? -value : value);
}
