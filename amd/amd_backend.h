// The three operations of preset-amd, over an ADLX binding.
#pragma once

#include "amd/adlx_runtime.h"
#include "frame/backend.h"

/// "ok" 1/0 exit 0 when ADLX initialises and shows a GPU list that is not empty and the
/// 3D settings services; "unsupported" 0/0 exit 10 otherwise.
int amdStatus(AdlxRuntime& adlx, LineAndBackup& io);

/// Records each supported setting's value just before changing it; exit 0, 10 or 21.
int amdApply(AdlxRuntime& adlx, LineAndBackup& io, PresetLevel level);

/// Writes every recorded value back; exit 0 (also "nothing"), 10 or 22.
int amdRestore(AdlxRuntime& adlx, LineAndBackup& io);
