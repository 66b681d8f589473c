#include "tests/file_faults/backup_text.h"

namespace {

constexpr std::string_view kLineEnd = "\r\n";
constexpr std::string_view kFormatLine = "format=1";
constexpr std::string_view kVendorPrefix = "vendor=";

}  // namespace

BackupText readBackupText(std::string_view bytes) {
    BackupText text;
    if (bytes.size() < kLineEnd.size() ||
        bytes.substr(bytes.size() - kLineEnd.size()) != kLineEnd) {
        text.problem = "does not end with CR LF";
        return text;
    }
    size_t start = 0;
    int number = 0;
    std::string lastKey;
    while (start < bytes.size()) {
        const size_t end = bytes.find(kLineEnd, start);
        const std::string_view line = bytes.substr(start, end - start);
        start = end + kLineEnd.size();
        ++number;
        if (line.find_first_of("\r\n") != std::string_view::npos) {
            text.problem = "line " + std::to_string(number) + " holds a bare CR or LF";
            return text;
        }
        if (number == 1) {
            if (line != kFormatLine) {
                text.problem = "first line is not " + std::string(kFormatLine);
            }
        } else if (number == 2) {
            if (line.substr(0, kVendorPrefix.size()) != kVendorPrefix) {
                text.problem = "second line does not name the vendor";
            }
            text.vendor = std::string(line.substr(kVendorPrefix.size()));
        } else {
            const size_t eq = line.find('=');
            if (eq == std::string_view::npos || eq == 0) {
                text.problem = "line " + std::to_string(number) + " is not key=value";
                return text;
            }
            std::string key(line.substr(0, eq));
            if (number > 3 && key <= lastKey) {
                text.problem = "key " + key + " is out of order";
                return text;
            }
            text.entries.emplace(key, std::string(line.substr(eq + 1)));
            lastKey = std::move(key);
        }
        if (!text.problem.empty()) {
            return text;
        }
    }
    if (number < 2) {
        text.problem = "the header is cut short";
    }
    return text;
}

std::string writeBackupText(std::string_view vendor, const Entries& entries) {
    std::string bytes = std::string(kFormatLine) + std::string(kLineEnd);
    bytes.append(kVendorPrefix).append(vendor).append(kLineEnd);
    for (const auto& [key, value] : entries) {
        bytes.append(key).append("=").append(value).append(kLineEnd);
    }
    return bytes;
}
