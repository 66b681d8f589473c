// Hostile backup files: the reader must never crash, and whatever it reads must survive
// a rewrite unchanged, so carrying foreign entries along never corrupts them.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "store/backup_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const BackupMap map = parseBackup(bytes);
    BackupMap expected;
    for (const auto& [key, value] : map) {
        if (key.find('\n') != std::string::npos || key.find('=') != std::string::npos ||
            value.find('\n') != std::string::npos) {
            std::abort();  // the grammar cannot produce these
        }
        // A value that ends in CR loses it on rewrite, since CR LF ends a line; nothing
        // this system writes ends so.
        if (key != backupkey::kFormat && key != backupkey::kVendor &&
            (value.empty() || value.back() != '\r')) {
            expected.emplace(key, value);
        }
    }
    BackupMap reread = parseBackup(formatBackup(expected, "nvidia"));
    if (reread.at("format") != "1" || reread.at("vendor") != "nvidia") {
        std::abort();
    }
    reread.erase("format");
    reread.erase("vendor");
    if (reread != expected) {
        std::abort();
    }
    return 0;
}
