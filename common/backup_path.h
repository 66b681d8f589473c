// Pure text operations on backup paths ("\" and "/" both separate components), and the
// Windows path forms the Win32 file layer hands to the system. No system call here, so
// every rule can be tested on any platform.
#pragma once

#include <cstddef>
#include <vector>

#include "common/path.h"

/// The path without its last component and the separators before it, never shortened
/// into its root: "C:\b.txt" gives "C:\", "/b.txt" gives "/", "b.txt" gives "".
Path parentDirectory(const Path& path);

/// The last component of `path`: what follows its last separator ("C:\a\b.txt" gives
/// "b.txt"), the whole text when it has none.
Path leafName(const Path& path);

/// Where a save writes before it renames: the whole path with ".tmp" appended.
Path temporaryPathFor(const Path& path);

/// The longest absolute path the plain Win32 file calls take: MAX_PATH (260) less the
/// terminating null and the 12 characters CreateDirectoryW keeps free for an 8.3 name.
constexpr size_t kLongestPlainPath = 247;

/// Length of the root of an absolute Windows path, separator included: "C:\" (3),
/// "\\server\share\", "\\?\C:\" (7), "\\?\UNC\server\share\"; 0 for any other text.
size_t absoluteRootLength(const Path& full);

/// Every directory from the first one below the root down to `fullDir` itself, as
/// absolute paths: "C:\a\b" gives "C:\a" and "C:\a\b". Empty for text with no absolute
/// root (nothing can be made there) and for a root alone.
std::vector<Path> directoryChain(const Path& fullDir);

/// The text to hand to the Win32 file calls for `given`, whose absolute form (from
/// GetFullPathNameW, "." and ".." resolved, "/" turned into "\") is `full`. While `full`
/// fits the plain calls, or is unknown (empty), that is `given` itself, so the system
/// sees exactly what the caller wrote. A longer one takes the extended-length form:
/// "\\?\" before a drive path, "\\?\UNC\" in place of the "\\" of a UNC path. Text the
/// caller already gave in a "\\?\" or "\\.\" form stays as it is.
Path win32CallPath(const Path& given, const Path& full);
