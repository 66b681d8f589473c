#include "common/backup_path.h"

namespace {

bool isSeparator(wchar_t c) {
    return c == L'\\' || c == L'/';
}

/// Length of the root at the start of `path`: "X:" plus one separator, or one leading
/// separator, or nothing.
size_t rootLength(const Path& path) {
    if (path.size() >= 3 && path[1] == L':' && isSeparator(path[2])) {
        return 3;
    }
    if (!path.empty() && isSeparator(path[0])) {
        return 1;
    }
    return 0;
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

Path temporaryPathFor(const Path& path) {
    return path + L".tmp";
}
