// Name rules of the model of NT: comparing, folding, splitting and checking names, and the 8.3
// names the file system gives long ones.
#pragma once

#include <string>
#include <vector>

#include "store/path.h"

namespace ntmodel {

/// Case is folded as the system's ordinal comparison folds it (CompareStringOrdinal,
/// LCMapStringW with LCMAP_UPPERCASE): the file system compares names the same way.
bool sameName(const Path& a, const Path& b, bool ignoreCase = true);
Path upper(const Path& name);

/// `path` cut at every "\" (empty pieces kept).
std::vector<Path> splitNames(const Path& path);

/// Whether `name` may name a file ([MS-FSCC] 2.1.5.2 Filename): not empty, not "." or "..",
/// at most 255 characters, none of `"*/:<>?\|` or below 0x20.
bool validName(const Path& name);

/// Whether `name` is an 8.3 name already, letter case aside ("Naming Files, Paths, and
/// Namespaces": Short vs. Long Names).
bool fits83(const Path& name);
/// The 8.3 name the file system makes for `name`, the `n`-th of its kind ("LONGFO~1.TXT").
Path shortNameFor(const Path& name, int n);

/// Whether `name` matches `pattern`, where "*" stands for any run of characters and "?" for
/// any one ([MS-FSA] 2.1.4.4 Algorithm for Determining if a FileName Is in an Expression).
bool matches(const Path& name, const Path& pattern);

}  // namespace ntmodel
