// The three operations of preset-nvidia, over a driver table.
#pragma once

#include "contracts/nvapi_types.h"
#include "frame/backend.h"

int nvidiaStatus(const NvapiTable& api, LineAndBackup& io);
int nvidiaApply(const NvapiTable& api, LineAndBackup& io, PresetLevel level);
int nvidiaRestore(const NvapiTable& api, LineAndBackup& io);
