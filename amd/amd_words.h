// Every text preset-amd prints or stores besides the setting names of the catalogue.
#pragma once

#include <string_view>

namespace amdword {
constexpr std::string_view kVendorLine = "AMD";  // in the result line
constexpr std::string_view kVendorFile = "amd";  // in the backup file's header

constexpr std::string_view kDetected = "GPU AMD detectada";
constexpr std::string_view kUnavailable = "ADLX indisponivel ou nenhuma GPU AMD compativel";
constexpr std::string_view kNoSetting = "Nenhum ajuste 3D AMD compativel foi encontrado";
constexpr std::string_view kApplied = "Preset AMD aplicado e backup preservado";
constexpr std::string_view kAppliedPartly = "Preset AMD aplicado parcialmente; backup mantido";
constexpr std::string_view kRestored = "Configuracoes AMD originais restauradas";
constexpr std::string_view kRestoreIncomplete = "Restauracao AMD incompleta; backup mantido";
constexpr std::string_view kNothingToRestore = "Nenhum backup AMD para restaurar";
}  // namespace amdword

namespace amdkey {
constexpr std::string_view kGpuPrefix = "gpu.";
constexpr std::string_view kGpuSuffixSeparator = ".";
constexpr std::string_view kSwitchOn = "1";
constexpr std::string_view kSwitchOff = "0";
}  // namespace amdkey
