// Every text preset-nvidia prints or stores besides the backup keys and values.
#pragma once

#include <string_view>

namespace nvidiaword {
constexpr std::string_view kVendorLine = "NVIDIA";  // in the result line
constexpr std::string_view kVendorFile = "nvidia";  // in the backup file's header

constexpr std::string_view kDetected = "GPU NVIDIA detectada";
constexpr std::string_view kUnavailable = "NVAPI indisponivel ou nenhuma GPU NVIDIA compativel";
constexpr std::string_view kApplied = "Preset NVIDIA aplicado e backup preservado";
constexpr std::string_view kAppliedPartly = "Preset NVIDIA aplicado parcialmente";
constexpr std::string_view kBackupFailed = "Nao foi possivel salvar o backup do perfil NVIDIA";
constexpr std::string_view kRestored = "Configuracoes NVIDIA originais restauradas";
constexpr std::string_view kRestoreIncomplete = "Restauracao NVIDIA incompleta; backup mantido";
constexpr std::string_view kNothingToRestore = "Nenhum backup NVIDIA para restaurar";
}  // namespace nvidiaword
