#include "tests/nt/model/nt_model_names.h"

#include <windows.h>

namespace ntmodel {

namespace {

bool allowedIn83(wchar_t c) {
    if ((c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z') || (c >= L'0' && c <= L'9')) {
        return true;
    }
    return Path(L"!#$%&'()-@^_`{}~").find(c) != Path::npos;
}

}  // namespace

bool sameName(const Path& a, const Path& b, bool ignoreCase) {
    return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(),
                                static_cast<int>(b.size()),
                                ignoreCase ? TRUE : FALSE) == CSTR_EQUAL;
}

Path upper(const Path& name) {
    Path folded(name.size(), L'\0');
    if (!name.empty()) {
        LCMapStringW(LOCALE_INVARIANT, LCMAP_UPPERCASE, name.c_str(), static_cast<int>(name.size()),
                     folded.data(), static_cast<int>(folded.size()));
    }
    return folded;
}

std::vector<Path> splitNames(const Path& path) {
    std::vector<Path> names;
    size_t at = 0;
    for (;;) {
        const size_t end = path.find(L'\\', at);
        names.push_back(path.substr(at, end == Path::npos ? Path::npos : end - at));
        if (end == Path::npos) {
            return names;
        }
        at = end + 1;
    }
}

bool validName(const Path& name) {
    if (name.empty() || name.size() > 255 || name == L"." || name == L"..") {
        return false;
    }
    for (wchar_t c : name) {
        if (c < 0x20 || Path(L"\"*/:<>?\\|").find(c) != Path::npos) {
            return false;
        }
    }
    return true;
}

bool fits83(const Path& name) {
    const size_t dot = name.find(L'.');
    const Path base = name.substr(0, dot);
    const Path extension = dot == Path::npos ? Path() : name.substr(dot + 1);
    if (base.empty() || base.size() > 8 || extension.size() > 3 ||
        extension.find(L'.') != Path::npos || (dot != Path::npos && extension.empty())) {
        return false;
    }
    for (wchar_t c : base + extension) {
        if (!allowedIn83(c)) {
            return false;
        }
    }
    return true;
}

Path shortNameFor(const Path& name, int n) {
    const size_t dot = name.rfind(L'.');
    Path base;
    for (wchar_t c : name.substr(0, dot)) {
        if (allowedIn83(c) && base.size() < 6) {
            base += c;
        }
    }
    Path extension;
    if (dot != Path::npos) {
        for (wchar_t c : name.substr(dot + 1)) {
            if (allowedIn83(c) && extension.size() < 3) {
                extension += c;
            }
        }
    }
    Path result = upper(base.empty() ? Path(L"X") : base) + L"~" + std::to_wstring(n);
    return extension.empty() ? result : result + L"." + upper(extension);
}

bool matches(const Path& name, const Path& pattern) {
    if (pattern.empty()) {
        return name.empty();
    }
    if (pattern[0] == L'*') {
        for (size_t skip = 0; skip <= name.size(); ++skip) {
            if (matches(name.substr(skip), pattern.substr(1))) {
                return true;
            }
        }
        return false;
    }
    if (name.empty()) {
        return false;
    }
    const bool one = pattern[0] == L'?' || sameName(name.substr(0, 1), pattern.substr(0, 1));
    return one && matches(name.substr(1), pattern.substr(1));
}

}  // namespace ntmodel
