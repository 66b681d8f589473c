// The three operations of preset-nvidia, over a driver table.
#pragma once

#include "common/entry.h"
#include "contracts/nvapi_types.h"

int nvidiaStatus(const NvapiTable& api, Host& host);
int nvidiaApply(const NvapiTable& api, Host& host, PresetLevel level);
int nvidiaRestore(const NvapiTable& api, Host& host);
