// What each program does to its own process before anything else: where libraries may
// come from, and which junctions the process follows.
#pragma once

/// Limits every later library search of the process to the program's folder, folders
/// added on purpose and the system folder, so the working folder and PATH are never
/// searched, even when a driver library loads another library by bare name; a system
/// without that still has the working folder taken out. Where the system offers it, also
/// makes an elevated process ignore junctions that a non-administrator made. A step the
/// system lacks or refuses is left out; prints nothing, writes no file. `elevated` is the
/// run's one answer to whether it has administrator rights.
void hardenProcessStart(bool elevated);
