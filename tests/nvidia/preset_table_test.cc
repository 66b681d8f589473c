#include "nvidia/preset_table.h"

#include <gtest/gtest.h>

TEST(PresetTable, LevelsSelectNestedRows) {
    int counts[4] = {};
    for (const NvidiaPresetRow& row : NvidiaPresetTable) {
        ASSERT_GE(row.minLevel, 1);
        ASSERT_LE(row.minLevel, 3);
        for (PresetLevel level = 1; level <= 3; ++level) {
            counts[level] += rowInPreset(row, level) ? 1 : 0;
        }
    }
    EXPECT_EQ(counts[1], 8);
    EXPECT_EQ(counts[2], 10);
    EXPECT_EQ(counts[3], 13);
    for (size_t i = 0; i < NvidiaPresetTable.size(); ++i) {
        EXPECT_EQ(rowInPreset(NvidiaPresetTable[i], 2), i < 10) << i;
    }
}

TEST(PresetTable, TextForms) {
    EXPECT_EQ(settingKey(0x002ECAF2), "setting.0x002ECAF2");
    EXPECT_EQ(settingKey(0x1057EB71), "setting.0x1057EB71");
    EXPECT_EQ(hex32(0), "0x00000000");
    EXPECT_EQ(hex32(4294967295u), "0xFFFFFFFF");
    EXPECT_EQ(recordedValue(20), "value:0x00000014");
}

TEST(PresetTable, RecordedNumbers) {
    struct Case {
        const char* text;
        std::optional<NvU32> value;
    } cases[] = {
        {"20", 20u},
        {"0x14", 20u},
        {"0X14", 20u},
        {"024", 20u},
        {" \t\n20", 20u},
        {"+20", 20u},
        {"-1", 0xFFFFFFFFu},
        {"-4294967295", 1u},
        {"4294967295", 0xFFFFFFFFu},
        {"0xFFFFFFFF", 0xFFFFFFFFu},
        {"0x00000000", 0u},
        {"0", 0u},
        {"0x", 0u},  // the "0" is the number, "x" trailing text
        {"0xg", 0u},
        {"08", 0u},  // octal: the "8" ends the number
        {"12abc", 12u},
        {"4294967296", std::nullopt},
        {"0x100000000", std::nullopt},
        {"-4294967296", std::nullopt},
        {"99999999999999999999999", std::nullopt},
        {"", std::nullopt},
        {"-", std::nullopt},
        {"+", std::nullopt},
        {"abc", std::nullopt},
        {" ", std::nullopt},
        {"- 1", std::nullopt},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(parseRecordedNumber(c.text), c.value) << '"' << c.text << '"';
    }
}
