// The simulated ADLX objects. Only the system services and the ADL mapping are reached
// from outside this module; everything else is handed out by their calls.
#pragma once

#include "contracts/adlx_interface.h"

/// The runtime's root object (never released by callers, never counted as live).
IADLXSystem* simSystem();
IADLMapping* simMapping();
