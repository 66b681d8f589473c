#include "amd/catalogue.h"

#include <gtest/gtest.h>

#include "amd/mode_number.h"

namespace {

struct ExpectedRow {
    const char* name;
    bool perGpu;
    SettingShape shape;
    SourceKind source;
    int gamer;  // -1: left alone
    int competitivo;
    int extremo;
};

TEST(AmdCatalogue, RowsInProcessingOrder) {
    const SettingShape t = SettingShape::toggle;
    const SettingShape m = SettingShape::mode;
    const SourceKind s = SourceKind::services;
    const ExpectedRow expected[] = {
        {"global.rsr", false, t, s, 0, 0, 0},
        {"global.afmf", false, t, SourceKind::services1, 0, 0, 0},
        {"chill", true, t, s, 0, 0, 0},
        {"boost", true, t, s, 0, 0, 0},
        {"frtc", true, t, s, 0, 0, 0},
        {"sharpening", true, t, s, 0, 0, 0},
        {"mlaa", true, t, s, 0, 0, 0},
        {"aa-mode", true, m, s, 0, 0, 0},
        {"anisotropic", true, t, s, 0, 0, 0},
        {"tessellation-mode", true, m, s, 0, 0, 0},
        {"enhanced-sync", true, t, s, -1, 0, 0},
        {"vsync-mode", true, m, s, 1, 0, 0},
        {"fsr", true, t, SourceKind::services3, 0, 0, 0},
        {"frame-generation", true, t, SourceKind::services3, 0, 0, 0},
    };
    ASSERT_EQ(kAmdCatalogue.size(), std::size(expected));
    for (size_t i = 0; i < kAmdCatalogue.size(); ++i) {
        const CatalogueRow& row = kAmdCatalogue[i];
        const ExpectedRow& want = expected[i];
        SCOPED_TRACE(want.name);
        EXPECT_EQ(row.name, want.name);
        EXPECT_EQ(row.perGpu, want.perGpu);
        EXPECT_EQ(row.shape, want.shape);
        EXPECT_EQ(row.source, want.source);
        EXPECT_EQ(row.getToggle != nullptr, want.shape == t);
        EXPECT_EQ(row.getMode != nullptr, want.shape == m);
        const int levels[] = {want.gamer, want.competitivo, want.extremo};
        for (int level = 1; level <= 3; ++level) {
            const std::optional<int32_t> value = presetValue(row, level);
            if (levels[level - 1] < 0) {
                EXPECT_FALSE(value.has_value()) << "level " << level;
            } else {
                EXPECT_EQ(value, levels[level - 1]) << "level " << level;
            }
        }
    }
}

TEST(AmdCatalogue, KeyAndValueTexts) {
    EXPECT_EQ(gpuKeyPrefix(7), "gpu.7.");
    EXPECT_EQ(gpuKeyPrefix(-2), "gpu.-2.");
    EXPECT_EQ(gpuKeyPrefix(0), "gpu.0.");
    EXPECT_EQ(gpuKeyPrefix(INT32_MIN), "gpu.-2147483648.");
    EXPECT_EQ(valueText(SettingShape::toggle, 0), "0");
    EXPECT_EQ(valueText(SettingShape::toggle, 1), "1");
    EXPECT_EQ(valueText(SettingShape::toggle, 255), "1");
    EXPECT_EQ(valueText(SettingShape::mode, -1), "-1");
    EXPECT_EQ(valueText(SettingShape::mode, 0), "0");
    EXPECT_EQ(valueText(SettingShape::mode, 2147483647), "2147483647");
}

TEST(AmdCatalogue, OwnKeys) {
    for (const char* key :
         {"global.rsr", "global.afmf", "gpu.7.chill", "gpu.-2.frame-generation", "gpu.0.vsync-mode",
          "gpu.-2147483648.aa-mode", "gpu.2147483647.tessellation-mode"}) {
        EXPECT_TRUE(isAmdKey(key)) << key;
    }
    for (const char* key : {"global.rsr2",
                            "global",
                            "GPU.7.chill",
                            "setting.0x1",
                            "format",
                            "vendor",
                            "",
                            "gpu",
                            "gpu.",
                            "gpu.x",
                            "gpu.1.other-tool",
                            "gpu.1.",
                            "gpu..chill",
                            "gpu.07.chill",
                            "gpu.+7.chill",
                            "gpu.-0.chill",
                            "gpu. 7.chill",
                            "gpu.2147483648.chill",
                            "gpu.-2147483649.chill",
                            "gpu.7.chill.x",
                            "gpu.7.chill ",
                            "gpu.7.rsr",
                            "gpu.7.Chill"}) {
        EXPECT_FALSE(isAmdKey(key)) << key;
    }
    EXPECT_EQ(ownGpuKeyPrefix("gpu.-2.fsr"), std::optional<std::string_view>("gpu.-2."));
    EXPECT_EQ(ownGpuKeyPrefix("gpu.1.other-tool"), std::nullopt);
}

TEST(AmdModeNumber, Reads) {
    struct Case {
        const char* text;
        std::optional<int32_t> mode;
    };
    const Case cases[] = {
        {"3", 3},
        {"0", 0},
        {"-1", -1},
        {"+4", 4},
        {"  \t7", 7},
        {"\r\n\v\f 8", 8},
        {"5abc", 5},
        {"3x", 3},
        {"007", 7},
        {"2147483647", 2147483647},
        {"-2147483648", INT32_MIN},
        {"2147483648", std::nullopt},
        {"-2147483649", std::nullopt},
        {"99999999999999999999999", std::nullopt},
        {"abc", std::nullopt},
        {"", std::nullopt},
        {"-", std::nullopt},
        {"+", std::nullopt},
        {" ", std::nullopt},
        {"- 1", std::nullopt},
        {"x3", std::nullopt},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(parseModeNumber(c.text), c.mode) << "'" << c.text << "'";
    }
}

}  // namespace
