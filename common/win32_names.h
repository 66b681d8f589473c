// Telling a plain name from a link on Windows, on the handle that is then used. A run
// with administrator rights must not be steered by a symbolic link, a junction or a hard
// link that someone without those rights planted on the way to its backup; a check by name
// before the use could be raced, so each file is opened without following a link at its
// last component, and the open handle is asked what it is and where it really is.
#pragma once

#include <windows.h>

#include "common/path.h"
#include "common/win32_handle.h"

/// Whether the process token is elevated; asked of the system once.
bool processIsElevated();

/// The absolute form of `path` ("." and ".." resolved, relative to the working folder);
/// empty when the system cannot make one.
Path fullPathName(const Path& path);

/// Whether two names are the same to the file system, which ignores letter case.
bool sameWin32Name(const Path& a, const Path& b);

/// The text the Win32 file calls are given for an absolute path: itself while it fits
/// the plain calls, its extended-length form when it is longer.
Path callPathOf(const Path& full);

/// A name opened without following a link at its last component.
struct OpenedName {
    UniqueHandle handle;
    /// Why the open failed, when `handle` is not valid.
    DWORD error = ERROR_SUCCESS;
    /// The name is a link (symbolic link, junction, other name-surrogate reparse point),
    /// or the open file is not at the folder and leaf its name says.
    bool link = false;
    DWORD names = 1;
    bool directory = false;
};

/// Opens the absolute path `full` with FILE_FLAG_BACKUP_SEMANTICS added to `flags`. With
/// `checkLinks`, FILE_FLAG_OPEN_REPARSE_POINT is added too, so a link at the last
/// component is opened itself, and the handle is looked at: `link` and `names` are
/// filled in (they cost a few calls).
OpenedName openName(const Path& full, DWORD access, DWORD share, DWORD disposition, DWORD flags,
                    bool checkLinks);

/// Deletes the file behind an open handle (opened with DELETE access): the name that was
/// checked, never one looked up again. Clears a read-only mark first if the system
/// refuses because of it. ERROR_SUCCESS or the system's error.
DWORD deleteByHandle(HANDLE file);
