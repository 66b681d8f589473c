// The fourteen 3D settings preset-amd touches: two global, twelve per GPU. Each row says
// how its setting object is reached, its shape, its backup key and what each preset
// writes. Apply and restore walk the rows in this order.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "contracts/adlx_interface.h"
#include "frame/preset_level.h"

enum class SettingShape { toggle, mode };

/// The objects setting getters are called on; the extended ones may be null.
struct SettingSources {
    IADLX3DSettingsServices* services = nullptr;
    IADLX3DSettingsServices1* services1 = nullptr;
    IADLX3DSettingsServices3* services3 = nullptr;
};

/// Which of the sources a row's getter lives on.
enum class SourceKind { services, services1, services3 };

/// Getter calls; `gpu` is null for the global rows.
using ToggleGetter = ADLX_RESULT (*)(const SettingSources& sources, IADLXGPU* gpu,
                                     IADLX3DSwitchSetting** setting);
using ModeGetter = ADLX_RESULT (*)(const SettingSources& sources, IADLXGPU* gpu,
                                   IADLX3DModeSetting** setting);

struct CatalogueRow {
    /// The whole key of a global row; the part after the GPU prefix of a per-GPU row.
    std::string_view name;
    bool perGpu;
    SettingShape shape;
    SourceKind source;
    ToggleGetter getToggle;  // set for toggles
    ModeGetter getMode;      // set for modes
    /// The row is left alone (not read, recorded, counted or changed) below this level.
    PresetLevel lowestLevel;
    /// What the presets write, by level 1 to 3.
    std::array<int32_t, 3> preset;
};

extern const std::array<CatalogueRow, 14> kAmdCatalogue;

/// The value `level` gives `row`, or nothing when the preset leaves the row alone.
std::optional<int32_t> presetValue(const CatalogueRow& row, PresetLevel level);

/// True when the object the row's getter lives on is present.
bool sourceAvailable(const CatalogueRow& row, const SettingSources& sources);

/// "gpu." + the id in signed decimal + ".".
std::string gpuKeyPrefix(int32_t gpuId);

/// The backup text of a value read from the driver: a switch is "1" for any non-zero flag
/// and "0" otherwise; a mode is signed decimal.
std::string valueText(SettingShape shape, int32_t value);

/// The "gpu.<id>." prefix of `key` when `key` is one this tool writes for a per-GPU row:
/// the id in the exact form `gpuKeyPrefix` gives it, then one of the twelve row names.
/// Nothing for any other key, however much it looks like one.
std::optional<std::string_view> ownGpuKeyPrefix(std::string_view key);

/// True for the keys this tool owns: "global.rsr", "global.afmf" and the per-GPU keys of
/// `ownGpuKeyPrefix`. Every other key belongs to someone else and is carried along.
bool isAmdKey(std::string_view key);
