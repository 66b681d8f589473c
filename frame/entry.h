// The entry logic both programs share: command words, dispatch and exit codes.
#pragma once

#include "frame/backend.h"
#include "store/backup_lock.h"
#include "store/path.h"

namespace commonmessage {
constexpr std::string_view kMissingCommand = "Comando ausente";
constexpr std::string_view kBadArguments = "Argumentos invalidos";
constexpr std::string_view kBadPreset = "Perfil invalido";
constexpr std::string_view kUnexpected = "Falha inesperada";
}  // namespace commonmessage

/// Parses the wide argument vector (argument 0 is the program) and runs one command.
/// Nothing escapes: an exception out of a backend becomes one "error" line and exit 1.
/// `apply` and `restore` bind the store to their backup path, walking to it once, and run
/// holding `lock` for what the walk found; when another run keeps it past
/// `kBackupLockWait`, or the path cannot be used, the backend runs with a store that
/// refuses every operation, so it changes nothing and reports its backup failure.
/// `status` takes no lock. With "--detail" among the arguments after the command's own, the
/// run also explains every failure it met, one line each, on the printer's detail sink;
/// the result line and the exit code stay as they are.
int runEntry(int argc, const wchar_t* const* argv, const Backend& backend, LineAndBackup& io,
             BackupLock& lock);
