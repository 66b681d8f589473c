// The driver table of the running process: every call goes through the process-wide
// loader, which binds "nvapi64.dll" from the system directory on first use.
#pragma once

#include "contracts/nvapi_types.h"

const NvapiTable& processNvapiTable();
