// The name a backup path's lock goes by: a fixed-length digest of the path's canonical
// text, so any path, however long and whatever characters it holds, makes a valid name
// for a system object. Two paths that share a digest merely wait for each other.
#pragma once

#include <string>
#include <string_view>

/// 16 upper-case hex digits: 64-bit FNV-1a over the code units of `canonicalPath`, each
/// taken as four bytes, low byte first.
std::string backupLockKey(std::wstring_view canonicalPath);
