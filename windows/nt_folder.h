// Names opened relative to a folder handle, through the system's native calls. A folder
// that was opened and checked is kept open; every name below it is then looked up in the
// very folder the handle holds, never by a path that could lead somewhere else by now (as
// openat does on POSIX). Each open asks for identification-level impersonation only, so a
// name that turns out to be a named pipe cannot lend its server this process's rights.
// Every call goes through the system-call table (nt_calls.h).
#pragma once

#include <windows.h>
#include <winternl.h>

#include "store/file_system.h"
#include "store/path.h"
#include "windows/win32_handle.h"

/// Where an open file or folder really is: its whole name in the system's namespace, volume
/// included, asked of the handle, so a link anywhere on the way shows in it.
NTSTATUS resolve(HANDLE handle, Path& out);

/// An open by name: the handle, or why there is none.
struct NtOpened {
    UniqueHandle handle;
    NTSTATUS status = 0;
};

/// Opens `name` inside the folder `folder` holds, or, when `folder` is null, the whole
/// name in the system's form ("\??\C:\"). `options` are the native create options;
/// synchronous access is always added.
NtOpened openRelative(HANDLE folder, const Path& name, ACCESS_MASK access, ULONG share,
                      ULONG disposition, ULONG options);

/// Asks the handle for one class of file information.
NTSTATUS queryFile(HANDLE file, FILE_INFORMATION_CLASS infoClass, void* information, ULONG length);
template <typename Information>
NTSTATUS queryFile(HANDLE file, FILE_INFORMATION_CLASS infoClass, Information& information) {
    return queryFile(file, infoClass, &information, sizeof information);
}

/// What the folder's listing says of the entry `name`.
struct Listed {
    /// `absent` only when the listing says that there is no such entry; `unknown` when it
    /// cannot be listed, or when it answers otherwise (Wine lists a symbolic link whose
    /// target is missing as "no more files", where a free name is "no such file").
    PathState state = PathState::unknown;
    /// The entry's name as the folder lists it: its long form for an 8.3 short name, a
    /// link's own name for a link.
    Path name;
};

Listed listedName(HANDLE folder, const Path& name);

/// Whether two names are one, without regard to letter case, as the file system compares.
bool sameName(const Path& a, const Path& b);

/// True when the object open at `handle`, which resolves to `self`, opened as `name`
/// inside the folder open at `parent` whose place is `parentName`, is not that entry
/// itself: a link by its reparse tag (Windows shows it on a handle opened without following
/// it), or found elsewhere than in that folder under that name (Wine follows links even
/// then, and shows the real place only in the handle's resolved name).
bool pointsElsewhere(HANDLE handle, const Path& self, HANDLE parent, const Path& parentName,
                     const Path& name);

/// The text that names the place of the folder open at `folder`, whatever spelling
/// reached it: the system's normalized final path (short names, drive letters and
/// "\\?\" resolved), or, where the system cannot give one (Wine beyond 260 characters),
/// the handle's name as `resolve` gives it.
Path finalPlaceOf(HANDLE folder);

/// Renames the file open at `file` to `to` inside the folder open at `folder`, replacing
/// what stands there.
NTSTATUS renameInside(HANDLE file, HANDLE folder, const Path& to);

/// Sets or clears the read-only mark of the file open at `file` (opened with attribute
/// access); true only when the mark changed.
bool changeReadOnlyMark(HANDLE file, bool readOnly);

/// Deletes the file or empty folder open at `file` (opened with DELETE and attribute
/// access): the name that was checked, never one looked up again. A read-only file is
/// deleted as well, its mark set again should the deletion still fail.
NTSTATUS deleteByHandle(HANDLE file);

/// "Nothing there": no such file, no such folder on the way, or a text that is no valid
/// name. A share that does not answer is none of these: it may well hold the backup.
bool isNotFound(NTSTATUS status);
