// Pure text operations on backup paths ("\" and "/" both separate components).
#pragma once

#include "common/path.h"

/// The path without its last component and the separators before it, never shortened
/// into its root: "C:\b.txt" gives "C:\", "/b.txt" gives "/", "b.txt" gives "".
Path parentDirectory(const Path& path);

/// Where a save writes before it renames: the whole path with ".tmp" appended.
Path temporaryPathFor(const Path& path);
