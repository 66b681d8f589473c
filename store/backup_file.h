// The backup file's text: the original values of changed settings, as "key=value" lines
// under a two-line header. Pure text, no file operations: the store reads and writes it.
#pragma once

#include <cstddef>
#include <map>
#include <string>
#include <string_view>

/// Key to value, both bytes; ordered byte-wise, which is also the order written.
using BackupMap = std::map<std::string, std::string>;

namespace backupkey {
constexpr std::string_view kFormat = "format";
constexpr std::string_view kVendor = "vendor";
}  // namespace backupkey

/// The largest backup file that is read, and so also written: a file saved bigger than
/// this could never be read again. Ours hold a line per setting, a few KiB; anything bigger
/// was not written by us and is refused without being read into memory.
constexpr size_t kLargestBackup = 1024 * 1024;

/// Whether `bytes` are a backup file at all: empty, or with "format=1" as their first line
/// (ended by CR LF or LF, or by the end), after a UTF-8 byte-order mark, which Notepad puts
/// there when a person edits the file. Anything else at the backup path is somebody else's
/// file: it is neither replaced nor deleted, and its content is never taken for originals.
bool isBackupText(std::string_view bytes);

/// Parses file bytes: a UTF-8 byte-order mark at the start is dropped, empty lines and lines
/// without "=" are skipped, the key runs to the first "=", a CR before the LF is not part of
/// the line, and the last line of a key wins.
BackupMap parseBackup(std::string_view bytes);

/// The file text for `map` ("\n" line breaks): the header with `vendorWord`, then every
/// entry but "format" and "vendor".
std::string formatBackup(const BackupMap& map, std::string_view vendorWord);

/// The size of `text` on disk, where each "\n" is written as CR LF.
size_t sizeOnDisk(std::string_view text);
