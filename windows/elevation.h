// Whether the process runs with administrator rights: what decides how carefully every
// name on the way to the backup is checked, and which start-up policies apply. Asked once
// per run, at its start; everything after is handed the answer.
#pragma once

/// Asks the process token; true when it cannot be told (the careful side).
bool processIsElevated();
