// Whether the process runs with administrator rights: what decides how carefully every
// name on the way to the backup is checked, and which start-up policies apply.
#pragma once

/// Asked of the process token once; true when it cannot be told (the careful side).
bool processIsElevated();
