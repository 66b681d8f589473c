// The mode reader of restore against the C library's own reading of the same text, and
// every number it accepts read back from the text a save writes for it.
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>

#include "amd/mode_number.h"

namespace {

bool isBlank(char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

std::optional<int32_t> reference(const std::string& text) {
    const char* p = text.c_str();
    while (isBlank(*p)) {
        ++p;
    }
    const char* digits = *p == '+' || *p == '-' ? p + 1 : p;
    if (*digits < '0' || *digits > '9') {
        return std::nullopt;  // strtoll would take more blanks or a second sign
    }
    errno = 0;
    char* end = nullptr;
    const long long value = std::strtoll(p, &end, 10);
    if (end == p || errno == ERANGE || value < INT32_MIN || value > INT32_MAX) {
        return std::nullopt;
    }
    return static_cast<int32_t>(value);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const std::optional<int32_t> ours = parseModeNumber(text);
    // The C reader stops at a NUL; so must the comparison.
    if (ours != reference(text.substr(0, text.find('\0')))) {
        std::abort();
    }
    if (ours && parseModeNumber(std::to_string(*ours)) != ours) {
        std::abort();
    }
    return 0;
}
