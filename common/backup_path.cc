#include "common/backup_path.h"

namespace {

constexpr wchar_t kExtendedPrefix[] = L"\\\\?\\";
constexpr wchar_t kExtendedUncPrefix[] = L"\\\\?\\UNC\\";
constexpr wchar_t kDevicePrefix[] = L"\\\\.\\";
constexpr size_t kPrefixLength = 4;  // "\\?\" and "\\.\"
constexpr size_t kUncPrefixLength = 8;
constexpr size_t kDriveRootLength = 3;  // "C:\"

bool isSeparator(wchar_t c) {
    return c == L'\\' || c == L'/';
}

bool startsWith(const Path& text, const wchar_t* prefix) {
    return text.compare(0, Path(prefix).size(), prefix) == 0;
}

bool isDriveRoot(const Path& path, size_t at) {
    return path.size() >= at + kDriveRootLength && path[at + 1] == L':' &&
           isSeparator(path[at + 2]);
}

/// Length of the root at the start of `path`: "X:" plus one separator, or one leading
/// separator, or nothing.
size_t rootLength(const Path& path) {
    if (isDriveRoot(path, 0)) {
        return kDriveRootLength;
    }
    if (!path.empty() && isSeparator(path[0])) {
        return 1;
    }
    return 0;
}

/// Where the root "server\share\" that starts at `at` ends: after the separator behind
/// the share, or at the end of the text; 0 when server or share is missing.
size_t serverShareEnd(const Path& path, size_t at) {
    size_t server = path.find_first_of(L"\\/", at);
    if (server == at || server == Path::npos || server + 1 >= path.size()) {
        return 0;
    }
    size_t share = path.find_first_of(L"\\/", server + 1);
    if (share == server + 1) {
        return 0;
    }
    return share == Path::npos ? path.size() : share + 1;
}

}  // namespace

Path parentDirectory(const Path& path) {
    size_t end = path.size();
    while (end > 0 && !isSeparator(path[end - 1])) {
        --end;  // drop the last component
    }
    while (end > 0 && isSeparator(path[end - 1])) {
        --end;  // and the separators in front of it
    }
    size_t root = rootLength(path);
    if (end < root && path.size() > root) {
        end = root;
    }
    return path.substr(0, end);
}

Path leafName(const Path& path) {
    size_t start = path.size();
    while (start > 0 && !isSeparator(path[start - 1])) {
        --start;
    }
    return path.substr(start);
}

Path temporaryPathFor(const Path& path) {
    return path + L".tmp";
}

size_t absoluteRootLength(const Path& full) {
    if (startsWith(full, kExtendedUncPrefix)) {
        return serverShareEnd(full, kUncPrefixLength);
    }
    if (startsWith(full, kExtendedPrefix) || startsWith(full, kDevicePrefix)) {
        return isDriveRoot(full, kPrefixLength) ? kPrefixLength + kDriveRootLength : 0;
    }
    if (isDriveRoot(full, 0)) {
        return kDriveRootLength;
    }
    if (full.size() > 2 && isSeparator(full[0]) && isSeparator(full[1])) {
        return serverShareEnd(full, 2);
    }
    return 0;
}

std::vector<Path> directoryChain(const Path& fullDir) {
    std::vector<Path> chain;
    const size_t root = absoluteRootLength(fullDir);
    if (root == 0) {
        return chain;
    }
    for (size_t i = root + 1; i <= fullDir.size(); ++i) {
        if (i == fullDir.size() || isSeparator(fullDir[i])) {
            if (!isSeparator(fullDir[i - 1])) {
                chain.push_back(fullDir.substr(0, i));
            }
        }
    }
    return chain;
}

Path win32CallPath(const Path& given, const Path& full) {
    if (full.empty() || full.size() <= kLongestPlainPath || startsWith(given, kExtendedPrefix) ||
        startsWith(given, kDevicePrefix)) {
        return given;
    }
    // The system takes an extended-length path literally, so a "/" would be part of a
    // name; the absolute form from GetFullPathNameW has none, and this keeps it so.
    Path backslashed = full;
    for (wchar_t& c : backslashed) {
        if (c == L'/') {
            c = L'\\';
        }
    }
    if (isDriveRoot(backslashed, 0)) {
        return kExtendedPrefix + backslashed;
    }
    if (backslashed.size() > 2 && backslashed[0] == L'\\' && backslashed[1] == L'\\' &&
        backslashed[2] != L'?' && backslashed[2] != L'.') {
        return kExtendedUncPrefix + backslashed.substr(2);
    }
    return given;
}
