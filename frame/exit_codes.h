// Process exit codes of both programs; the front-end branches on these numbers.
#pragma once

namespace exitcode {
constexpr int kSuccess = 0;
constexpr int kUnexpectedFailure = 1;
constexpr int kCommandLine = 2;
constexpr int kUnknownPreset = 3;
constexpr int kUnavailable = 10;
constexpr int kBackupFailed = 20;
constexpr int kApplyPartial = 21;
constexpr int kRestoreIncomplete = 22;
}  // namespace exitcode
