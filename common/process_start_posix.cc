// The native build's stand-in: the unit tests start no driver library, so there is no
// search to narrow and no junction policy to set.
#include "common/process_start.h"

void hardenProcessStart() {}
