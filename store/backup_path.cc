#include "store/backup_path.h"

#include <cwctype>

namespace {

constexpr wchar_t kSystemPrefix[] = L"\\??\\";     // the system's own namespace
constexpr wchar_t kExtendedPrefix[] = L"\\\\?\\";  // taken literally
constexpr wchar_t kDevicePrefix[] = L"\\\\.\\";    // made absolute like a plain path
constexpr size_t kPrefixLength = 4;
constexpr size_t kGuidLength = 38;  // "{xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}"

bool startsWith(const Path& text, size_t at, const wchar_t* prefix) {
    const Path p(prefix);
    return text.size() >= at + p.size() && text.compare(at, p.size(), p) == 0;
}

bool startsWithIgnoringCase(const Path& text, size_t at, const wchar_t* prefix) {
    const Path p(prefix);
    if (text.size() < at + p.size()) {
        return false;
    }
    for (size_t i = 0; i < p.size(); ++i) {
        if (std::towupper(text[at + i]) != std::towupper(p[i])) {
            return false;
        }
    }
    return true;
}

/// Where the component that starts at `at` ends: at the next "\" or the end.
size_t componentEnd(const Path& text, size_t at) {
    const size_t end = text.find(L'\\', at);
    return end == Path::npos ? text.size() : end;
}

bool isAsciiLetter(wchar_t c) {
    return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z');
}

/// "X:" followed by "\" or the end, at `at`.
bool isDrive(const Path& text, size_t at) {
    return text.size() >= at + 2 && isAsciiLetter(text[at]) && text[at + 1] == L':' &&
           (text.size() == at + 2 || text[at + 2] == L'\\');
}

bool isGuid(const Path& text, size_t at) {
    if (text.size() < at + kGuidLength || text[at] != L'{' || text[at + kGuidLength - 1] != L'}') {
        return false;
    }
    for (size_t i = 1; i + 1 < kGuidLength; ++i) {
        const wchar_t c = text[at + i];
        const bool dash = i == 9 || i == 14 || i == 19 || i == 24;
        if (dash ? c != L'-' : !std::iswxdigit(c)) {
            return false;
        }
    }
    return componentEnd(text, at) == at + kGuidLength;
}

/// Where "server\share" starting at `at` ends (after the share), or 0 when either is
/// missing.
size_t afterServerAndShare(const Path& text, size_t at) {
    const size_t server = componentEnd(text, at);
    if (server == at || server >= text.size()) {
        return 0;
    }
    const size_t share = componentEnd(text, server + 1);
    return share == server + 1 ? 0 : share;
}

/// The length of the known root at the start of `body` (the text after a "\\?\", "\??\"
/// or "\\.\" prefix when `prefixed`, else an absolute plain path), and its system form.
size_t knownRoot(const Path& body, bool prefixed, Path& root) {
    if (isDrive(body, 0)) {
        root = Path(kSystemPrefix) + body.substr(0, 2) + L"\\";
        return 2;
    }
    size_t share = 0;
    if (prefixed && startsWithIgnoringCase(body, 0, L"UNC\\")) {
        share = afterServerAndShare(body, 4);
        if (share != 0) {
            root = Path(kSystemPrefix) + L"UNC\\" + body.substr(4, share - 4) + L"\\";
        }
        return share;
    }
    if (!prefixed && startsWith(body, 0, L"\\\\")) {
        share = afterServerAndShare(body, 2);
        if (share != 0) {
            root = Path(kSystemPrefix) + L"UNC\\" + body.substr(2, share - 2) + L"\\";
        }
        return share;
    }
    if (prefixed && startsWithIgnoringCase(body, 0, L"Volume") && isGuid(body, 6)) {
        root = Path(kSystemPrefix) + body.substr(0, 6 + kGuidLength) + L"\\";
        return 6 + kGuidLength;
    }
    return 0;
}

/// The components of `text` from `at` on, split at "\"; empty ones (doubled separators)
/// are dropped.
std::vector<Path> splitNames(const Path& text, size_t at) {
    std::vector<Path> names;
    while (at < text.size()) {
        const size_t end = componentEnd(text, at);
        if (end > at) {
            names.push_back(text.substr(at, end - at));
        }
        at = end + 1;
    }
    return names;
}

/// A file's own stream, which a name may spell out: "b.txt::$DATA" is "b.txt" itself.
constexpr wchar_t kOwnStream[] = L"::$DATA";
constexpr size_t kOwnStreamLength = sizeof kOwnStream / sizeof kOwnStream[0] - 1;

/// Drops the spelling of the file's own stream from the end of `leaf`.
void dropOwnStream(Path& leaf) {
    if (leaf.size() > kOwnStreamLength &&
        startsWithIgnoringCase(leaf, leaf.size() - kOwnStreamLength, kOwnStream)) {
        leaf.resize(leaf.size() - kOwnStreamLength);
    }
}

/// What `name` is worth as a name on the way, taken literally or as the system made it.
RouteKind kindOfName(const Path& name, bool literal) {
    if (literal && (name == L"." || name == L"..")) {
        return RouteKind::noFile;  // the system would take them as names
    }
    for (wchar_t c : name) {
        // Characters no Windows file name may hold, and the stream separator: a name that
        // holds one is a pattern, or a stream of another file, never a file of its own.
        if (c < 0x20 || c == L'*' || c == L'?' || c == L'<' || c == L'>' || c == L'"' ||
            c == L'|' || c == L':') {
            return RouteKind::noFile;
        }
    }
    if (name.back() == L'.' || name.back() == L' ') {
        return RouteKind::invalid;
    }
    return RouteKind::known;
}

/// The worst kind among `names`: a name no file can have outweighs one we do not use.
RouteKind kindOfNames(const std::vector<Path>& names, bool literal) {
    RouteKind kind = RouteKind::known;
    for (const Path& name : names) {
        const RouteKind own = kindOfName(name, literal);
        if (own == RouteKind::noFile) {
            return own;
        }
        if (own == RouteKind::invalid) {
            kind = own;
        }
    }
    return kind;
}

}  // namespace

bool isLiteralPath(const Path& given) {
    return startsWith(given, 0, kExtendedPrefix) || startsWith(given, 0, kSystemPrefix);
}

BackupRoute routeOf(const Path& given, const Path& full) {
    BackupRoute route;
    const bool literal = isLiteralPath(given);
    const Path& text = literal ? given : full;
    if (text.empty()) {
        return route;
    }
    // A plain path arrives made absolute: "X:\…" or "\\server\share\…"; the device form
    // "\\.\" stays in front of it.
    const bool prefixed =
        literal || startsWith(text, 0, kDevicePrefix) || startsWith(text, 0, kExtendedPrefix);
    const Path body = prefixed ? text.substr(kPrefixLength) : text;
    if (!literal && startsWith(text, 0, kDevicePrefix) && body.find(L'\\') == Path::npos) {
        route.kind = RouteKind::noFile;  // a device: the system makes "C:\x\NUL" "\\.\NUL"
        return route;
    }
    Path root;
    const size_t rootEnd = knownRoot(body, prefixed, root);
    std::vector<Path> names = splitNames(body, rootEnd);
    if (names.empty()) {
        route.kind = rootEnd != 0 ? RouteKind::noFile : RouteKind::invalid;  // a root alone
        return route;
    }
    dropOwnStream(names.back());
    if (const RouteKind kind = kindOfNames(names, literal); kind != RouteKind::known) {
        route.kind = kind;
        return route;
    }
    route.endsWithSeparator = body.back() == L'\\';
    route.leaf = Name(std::move(names.back()));
    names.pop_back();
    if (rootEnd != 0) {
        route.kind = RouteKind::known;
        route.root = Root(std::move(root));
        for (Path& name : names) {
            route.folders.emplace_back(std::move(name));
        }
        return route;
    }
    // Not understood: only its folder as a whole, exactly as given.
    const size_t lastSeparator = body.find_last_of(L'\\');
    if (!prefixed || lastSeparator == Path::npos || lastSeparator == 0) {
        return route;
    }
    route.kind = RouteKind::foreign;
    route.root = Root(Path(kSystemPrefix) + body.substr(0, lastSeparator));
    return route;
}

Name temporaryNameFor(const Name& leaf) {
    return Name(leaf.text() + L".tmp");
}

Path shownRoot(const Root& root) {
    const Path& text = root.text();
    if (!startsWith(text, 0, kSystemPrefix)) {
        return text;
    }
    const Path rest = text.substr(kPrefixLength);
    if (startsWith(rest, 0, L"UNC\\")) {
        return L"\\\\" + rest.substr(4);
    }
    if (rest.size() >= 2 && rest[1] == L':') {
        return rest;
    }
    return kExtendedPrefix + rest;
}
