#include "frame/number_text.h"

size_t skipBlanksAndSign(std::string_view text, bool& negative) {
    size_t at = 0;
    while (at < text.size() && (text[at] == ' ' || (text[at] >= '\t' && text[at] <= '\r'))) {
        ++at;
    }
    negative = false;
    if (at < text.size() && (text[at] == '+' || text[at] == '-')) {
        negative = text[at] == '-';
        ++at;
    }
    return at;
}

int digitValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'z') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'Z') {
        return c - 'A' + 10;
    }
    return 99;
}

std::optional<uint64_t> readDigits(std::string_view text, size_t at, int base, uint64_t limit) {
    uint64_t value = 0;
    size_t digits = 0;
    for (; at < text.size() && digitValue(text[at]) < base; ++at, ++digits) {
        value = value * static_cast<uint64_t>(base) + static_cast<uint64_t>(digitValue(text[at]));
        if (value > limit) {
            return std::nullopt;
        }
    }
    if (digits == 0) {
        return std::nullopt;
    }
    return value;
}
