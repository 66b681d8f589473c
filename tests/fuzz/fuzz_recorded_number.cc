// The number reader of restore against the C library's own reading of the same text.
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>

#include "nvidia/preset_table.h"

namespace {

std::optional<NvU32> reference(const std::string& text) {
    const char* p = text.c_str();
    while (*p == ' ' || (*p >= '\t' && *p <= '\r')) {
        ++p;
    }
    bool negative = false;
    if (*p == '+' || *p == '-') {
        negative = *p == '-';
        ++p;
    }
    if (*p == '+' || *p == '-' || *p == ' ' || (*p >= '\t' && *p <= '\r')) {
        return std::nullopt;  // strtoull would take a second sign or more blanks
    }
    errno = 0;
    char* end = nullptr;
    const unsigned long long magnitude = std::strtoull(p, &end, 0);
    if (end == p || errno == ERANGE || magnitude > 0xFFFFFFFFull) {
        return std::nullopt;
    }
    const auto value = static_cast<NvU32>(magnitude);
    return negative ? static_cast<NvU32>(0u - value) : value;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    const std::optional<NvU32> ours = parseRecordedNumber(text);
    // The C reader stops at a NUL; so must the comparison.
    const std::optional<NvU32> theirs = reference(text.substr(0, text.find('\0')));
    if (ours != theirs) {
        std::abort();
    }
    return 0;
}
