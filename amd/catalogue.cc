#include "amd/catalogue.h"

#include <charconv>
#include <system_error>

#include "amd/amd_words.h"

namespace {

constexpr std::array<int32_t, 3> kOff{0, 0, 0};
// Vertical refresh: wait ("1") for the gamer preset, never wait ("0") above it.
constexpr std::array<int32_t, 3> kVsyncByLevel{1, 0, 0};

constexpr std::string_view kGlobalRsr = "global.rsr";
constexpr std::string_view kGlobalAfmf = "global.afmf";

}  // namespace

const std::array<CatalogueRow, 14> kAmdCatalogue{{
    {kGlobalRsr, false, SettingShape::toggle, SourceKind::services,
     [](const SettingSources& s, IADLXGPU*, IADLX3DSwitchSetting** out) {
         return s.services->GetRadeonSuperResolution(out);
     },
     nullptr, 1, kOff},
    {kGlobalAfmf, false, SettingShape::toggle, SourceKind::services1,
     [](const SettingSources& s, IADLXGPU*, IADLX3DSwitchSetting** out) {
         return s.services1->GetAMDFluidMotionFrames(out);
     },
     nullptr, 1, kOff},
    {"chill", true, SettingShape::toggle, SourceKind::services,
     [](const SettingSources& s, IADLXGPU* g, IADLX3DSwitchSetting** out) {
         return s.services->GetChill(g, out);
     },
     nullptr, 1, kOff},
    {"boost", true, SettingShape::toggle, SourceKind::services,
     [](const SettingSources& s, IADLXGPU* g, IADLX3DSwitchSetting** out) {
         return s.services->GetBoost(g, out);
     },
     nullptr, 1, kOff},
    {"frtc", true, SettingShape::toggle, SourceKind::services,
     [](const SettingSources& s, IADLXGPU* g, IADLX3DSwitchSetting** out) {
         return s.services->GetFrameRateTargetControl(g, out);
     },
     nullptr, 1, kOff},
    {"sharpening", true, SettingShape::toggle, SourceKind::services,
     [](const SettingSources& s, IADLXGPU* g, IADLX3DSwitchSetting** out) {
         return s.services->GetImageSharpening(g, out);
     },
     nullptr, 1, kOff},
    {"mlaa", true, SettingShape::toggle, SourceKind::services,
     [](const SettingSources& s, IADLXGPU* g, IADLX3DSwitchSetting** out) {
         return s.services->GetMorphologicalAntiAliasing(g, out);
     },
     nullptr, 1, kOff},
    {"aa-mode", true, SettingShape::mode, SourceKind::services, nullptr,
     [](const SettingSources& s, IADLXGPU* g, IADLX3DModeSetting** out) {
         return s.services->GetAntiAliasing(g, out);
     },
     1, kOff},
    {"anisotropic", true, SettingShape::toggle, SourceKind::services,
     [](const SettingSources& s, IADLXGPU* g, IADLX3DSwitchSetting** out) {
         return s.services->GetAnisotropicFiltering(g, out);
     },
     nullptr, 1, kOff},
    {"tessellation-mode", true, SettingShape::mode, SourceKind::services, nullptr,
     [](const SettingSources& s, IADLXGPU* g, IADLX3DModeSetting** out) {
         return s.services->GetTessellation(g, out);
     },
     1, kOff},
    // Left alone by "gamer": that preset keeps whatever sync the user chose.
    {"enhanced-sync", true, SettingShape::toggle, SourceKind::services,
     [](const SettingSources& s, IADLXGPU* g, IADLX3DSwitchSetting** out) {
         return s.services->GetEnhancedSync(g, out);
     },
     nullptr, 2, kOff},
    {"vsync-mode", true, SettingShape::mode, SourceKind::services, nullptr,
     [](const SettingSources& s, IADLXGPU* g, IADLX3DModeSetting** out) {
         return s.services->GetWaitForVerticalRefresh(g, out);
     },
     1, kVsyncByLevel},
    {"fsr", true, SettingShape::toggle, SourceKind::services3,
     [](const SettingSources& s, IADLXGPU* g, IADLX3DSwitchSetting** out) {
         return s.services3->GetFidelityFXSuperResolution(g, out);
     },
     nullptr, 1, kOff},
    {"frame-generation", true, SettingShape::toggle, SourceKind::services3,
     [](const SettingSources& s, IADLXGPU* g, IADLX3DSwitchSetting** out) {
         return s.services3->GetFrameGeneration(g, out);
     },
     nullptr, 1, kOff},
}};

std::optional<int32_t> presetValue(const CatalogueRow& row, PresetLevel level) {
    if (level < row.lowestLevel || level < 1 || level > 3) {
        return std::nullopt;
    }
    return row.preset[static_cast<size_t>(level - 1)];
}

bool sourceAvailable(const CatalogueRow& row, const SettingSources& sources) {
    switch (row.source) {
        case SourceKind::services:
            return sources.services != nullptr;
        case SourceKind::services1:
            return sources.services1 != nullptr;
        case SourceKind::services3:
            return sources.services3 != nullptr;
    }
    return false;
}

std::string gpuKeyPrefix(int32_t gpuId) {
    std::string prefix(amdkey::kGpuPrefix);
    prefix.append(std::to_string(gpuId)).append(amdkey::kGpuSuffixSeparator);
    return prefix;
}

std::string valueText(SettingShape shape, int32_t value) {
    if (shape == SettingShape::toggle) {
        return std::string(value != 0 ? amdkey::kSwitchOn : amdkey::kSwitchOff);
    }
    return std::to_string(value);
}

namespace {

bool isPerGpuRowName(std::string_view name) {
    for (const CatalogueRow& row : kAmdCatalogue) {
        if (row.perGpu && row.name == name) {
            return true;
        }
    }
    return false;
}

/// The text `gpuKeyPrefix` writes for some 32-bit id: no sign but "-", no leading zeros.
bool isIdText(std::string_view text) {
    int32_t id = 0;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, id);
    return error == std::errc() && stop == end && std::to_string(id) == text;
}

}  // namespace

std::optional<std::string_view> ownGpuKeyPrefix(std::string_view key) {
    if (key.substr(0, amdkey::kGpuPrefix.size()) != amdkey::kGpuPrefix) {
        return std::nullopt;
    }
    // Neither an id nor a row name holds a ".", so the first one after the prefix ends the id.
    const size_t idEnd = key.find(amdkey::kGpuSuffixSeparator, amdkey::kGpuPrefix.size());
    if (idEnd == std::string_view::npos) {
        return std::nullopt;
    }
    const size_t nameStart = idEnd + amdkey::kGpuSuffixSeparator.size();
    const std::string_view id =
        key.substr(amdkey::kGpuPrefix.size(), idEnd - amdkey::kGpuPrefix.size());
    if (!isIdText(id) || !isPerGpuRowName(key.substr(nameStart))) {
        return std::nullopt;
    }
    return key.substr(0, nameStart);
}

bool isAmdKey(std::string_view key) {
    return key == kGlobalRsr || key == kGlobalAfmf || ownGpuKeyPrefix(key).has_value();
}
