// The campaign's own reading and writing of backup bytes, written from the file's
// description rather than taken from the product, so the product is checked against what
// a front-end is told and not against itself.
#pragma once

#include <map>
#include <string>
#include <string_view>

using Entries = std::map<std::string, std::string>;

/// What a backup file's bytes hold. `problem` is empty when the bytes are a complete file:
/// "format=1", "vendor=<word>", then "key=value" lines in strictly rising byte order of
/// their keys, every line ended by CR LF.
struct BackupText {
    std::string problem;
    std::string vendor;
    Entries entries;
};

BackupText readBackupText(std::string_view bytes);

/// The complete file for `entries` under the header of `vendor`, CR LF line ends.
std::string writeBackupText(std::string_view vendor, const Entries& entries);
