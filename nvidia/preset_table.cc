#include "nvidia/preset_table.h"

#include "frame/number_text.h"

const std::array<NvidiaPresetRow, 13> NvidiaPresetTable{{
    {0x1057EB71, 0x00000001, 1},
    {0x0064B541, 0x00000001, 1},
    {0x00CE2691, 0x00000014, 1},
    {0x00198FFF, 0x00000001, 1},
    {0x00AC8497, 0xFFFFFFFF, 1},
    {0x10835002, 0x00000000, 1},
    {0x107EFC5B, 0x00000000, 1},
    {0x10D2BB16, 0x00000000, 1},
    {0x00A879CF, 0x08416747, 2},
    {0x20FDD1F9, 0x00000000, 2},
    {0x00E73211, 0x00000001, 3},
    {0x0084CD70, 0x00000001, 3},
    {0x002ECAF2, 0x00000001, 3},
}};

std::string hex32(NvU32 value) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string text = "0x00000000";
    for (int i = 9; i >= 2; --i) {
        text[static_cast<size_t>(i)] = kDigits[value & 0xF];
        value >>= 4;
    }
    return text;
}

std::string settingKey(NvU32 settingId) {
    return "setting." + hex32(settingId);
}

std::string recordedValue(NvU32 value) {
    return std::string(nvidiavalue::kValuePrefix) + hex32(value);
}

std::optional<NvU32> parseRecordedNumber(std::string_view text) {
    bool negative = false;
    size_t at = skipBlanksAndSign(text, negative);
    int base = 10;
    if (at < text.size() && text[at] == '0') {
        base = 8;
        // "0x" counts as a hexadecimal prefix only when a hexadecimal digit follows;
        // otherwise the "0" is the number and the "x" trailing text.
        if (at + 2 < text.size() && (text[at + 1] == 'x' || text[at + 1] == 'X') &&
            digitValue(text[at + 2]) < 16) {
            base = 16;
            at += 2;
        }
    }
    const std::optional<uint64_t> value = readDigits(text, at, base, 0xFFFFFFFFull);
    if (!value) {
        return std::nullopt;
    }
    const auto number = static_cast<NvU32>(*value);
    return negative ? static_cast<NvU32>(0u - number) : number;
}
