#include "store/backup_file.h"

#include <algorithm>

namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
constexpr std::string_view kFormatLine = "format=1";

std::string_view withoutByteOrderMark(std::string_view bytes) {
    if (bytes.substr(0, kByteOrderMark.size()) == kByteOrderMark) {
        bytes.remove_prefix(kByteOrderMark.size());
    }
    return bytes;
}

}  // namespace

size_t sizeOnDisk(std::string_view text) {
    return text.size() + static_cast<size_t>(std::count(text.begin(), text.end(), '\n'));
}

bool isBackupText(std::string_view bytes) {
    if (bytes.empty()) {
        return true;
    }
    const std::string_view text = withoutByteOrderMark(bytes);
    if (text.substr(0, kFormatLine.size()) != kFormatLine) {
        return false;
    }
    const std::string_view rest = text.substr(kFormatLine.size());
    return rest.empty() || rest[0] == '\n' || rest.substr(0, 2) == "\r\n";
}

BackupMap parseBackup(std::string_view bytes) {
    BackupMap map;
    bytes = withoutByteOrderMark(bytes);
    size_t start = 0;
    while (start < bytes.size()) {
        size_t end = bytes.find('\n', start);
        size_t next = end == std::string_view::npos ? bytes.size() : end + 1;
        std::string_view line =
            bytes.substr(start, (end == std::string_view::npos ? bytes.size() : end) - start);
        if (end != std::string_view::npos && !line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        start = next;
        size_t eq = line.find('=');
        if (line.empty() || eq == std::string_view::npos) {
            continue;
        }
        map[std::string(line.substr(0, eq))] = std::string(line.substr(eq + 1));
    }
    return map;
}

std::string formatBackup(const BackupMap& map, std::string_view vendorWord) {
    std::string text = "format=1\nvendor=";
    text.append(vendorWord).append("\n");
    for (const auto& [key, value] : map) {
        if (key == backupkey::kFormat || key == backupkey::kVendor) {
            continue;
        }
        text.append(key).append("=").append(value).append("\n");
    }
    return text;
}
