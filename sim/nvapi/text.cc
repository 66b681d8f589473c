#include "sim/nvapi/text.h"

#include <cinttypes>
#include <cstdio>

std::string hex8(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08" PRIX32, value);
    return text;
}

std::string hexHandle(const void* handle) {
    char text[32];
    std::snprintf(text, sizeof text, "0x%" PRIXPTR, reinterpret_cast<uintptr_t>(handle));
    return text;
}
