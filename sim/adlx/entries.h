// What the exported entries do; each export file forwards one entry here, so a build
// variant leaves an export out by leaving its file out.
#pragma once

#include "contracts/adlx_interface.h"

ADLX_RESULT simQueryFullVersion(uint64_t* fullVersion);
ADLX_RESULT simQueryVersion(const char** version);
/// Every initialise entry: logs its name and version, consults the "Initialize" faults
/// (target: the entry's name) and hands out the system services and the ADL mapping.
ADLX_RESULT simInitialize(const char* entry, uint64_t version, IADLXSystem** system,
                          IADLMapping** mapping);
/// Logs every object still alive, then the call with the live count.
ADLX_RESULT simTerminate();
