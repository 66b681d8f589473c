#include "common/win32_names.h"

#include <map>
#include <vector>

#include "common/backup_path.h"

namespace {

/// Where an open file or folder really is: its path below the volume's root, and the
/// volume. Both come from the handle, so a link anywhere on the way shows in them.
struct ResolvedName {
    Path path;
    DWORD volume = 0;
};

bool resolve(HANDLE handle, ResolvedName& out) {
    // FileNameInfo, unlike GetFinalPathNameByHandleW, also answers for paths longer than
    // MAX_PATH under Wine.
    constexpr size_t kLongestName = 32768;
    std::vector<char> buffer(sizeof(FILE_NAME_INFO) + kLongestName * sizeof(wchar_t));
    auto* name = reinterpret_cast<FILE_NAME_INFO*>(buffer.data());
    BY_HANDLE_FILE_INFORMATION info{};
    if (!GetFileInformationByHandleEx(handle, FileNameInfo, name,
                                      static_cast<DWORD>(buffer.size())) ||
        !GetFileInformationByHandle(handle, &info)) {
        return false;
    }
    out.path.assign(name->FileName, name->FileNameLength / sizeof(wchar_t));
    out.volume = info.dwVolumeSerialNumber;
    return true;
}

/// The folders looked through, held open for the rest of the run. Without delete sharing
/// none of them can be renamed or deleted, and so none can be swapped for a link between
/// the check of a name inside it and the use of that name. Each run is one short command,
/// so the process ending lets go of them.
class HeldFolders {
  public:
    const ResolvedName* find(const Path& fullDir) {
        auto it = folders_.find(fullDir);
        if (it != folders_.end()) {
            return &it->second.name;
        }
        const Path target = callPathOf(fullDir);
        constexpr DWORD kAccess =
            FILE_READ_ATTRIBUTES | FILE_LIST_DIRECTORY | FILE_TRAVERSE | SYNCHRONIZE;
        UniqueHandle handle(CreateFileW(target.c_str(), kAccess, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                        nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS,
                                        nullptr));
        if (!handle.valid() && GetLastError() == ERROR_SHARING_VIOLATION) {
            // Someone holds it with delete access; it can still be checked, not held.
            handle.reset(CreateFileW(target.c_str(), kAccess,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                     nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
        }
        Folder folder;
        if (!handle.valid() || !resolve(handle.get(), folder.name)) {
            return nullptr;
        }
        folder.handle = std::move(handle);
        return &folders_.emplace(fullDir, std::move(folder)).first->second.name;
    }

  private:
    struct Folder {
        UniqueHandle handle;
        ResolvedName name;
    };
    std::map<Path, Folder> folders_;
};

HeldFolders& heldFolders() {
    static HeldFolders folders;
    return folders;
}

/// The name of the directory entry at `full` as the folder lists it: the long name when
/// `full` ends in an 8.3 short name, the link's own name for a link.
Path listedLeaf(const Path& full) {
    WIN32_FIND_DATAW found{};
    HANDLE search = FindFirstFileW(callPathOf(full).c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) {
        return leafName(full);
    }
    FindClose(search);
    return found.cFileName;
}

/// True when the file open at `handle` is not what `full` names: a link by its reparse
/// tag (Windows shows it on a handle opened with FILE_FLAG_OPEN_REPARSE_POINT), or found
/// elsewhere than its folder and leaf (Wine follows links even then, and shows a file's
/// real place only in its resolved name).
bool pointsElsewhere(HANDLE handle, const Path& full) {
    FILE_ATTRIBUTE_TAG_INFO tag{};
    if (!GetFileInformationByHandleEx(handle, FileAttributeTagInfo, &tag, sizeof tag)) {
        return true;
    }
    // Wine reports tag 0 for a linked folder; an unknown tag is no proof of harmlessness.
    if ((tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 &&
        (tag.ReparseTag == 0 || IsReparseTagNameSurrogate(tag.ReparseTag))) {
        return true;
    }
    const Path folder = parentDirectory(full);
    if (folder.size() >= full.size()) {
        return false;  // a volume's root: where the path starts, not a name on the way
    }
    const ResolvedName* parent = heldFolders().find(folder);
    ResolvedName self;
    if (parent == nullptr || !resolve(handle, self) || self.volume != parent->volume) {
        return true;
    }
    Path expected = parent->path;
    if (expected.empty() || expected.back() != L'\\') {
        expected += L'\\';
    }
    return !sameWin32Name(self.path, expected + leafName(full)) &&
           !sameWin32Name(self.path, expected + listedLeaf(full));
}

}  // namespace

bool processIsElevated() {
    static const bool elevated = [] {
        HANDLE raw = nullptr;
        if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &raw)) {
            return true;  // cannot tell: take the careful side
        }
        const UniqueHandle token(raw);
        TOKEN_ELEVATION elevation{};
        DWORD size = 0;
        if (!GetTokenInformation(token.get(), TokenElevation, &elevation, sizeof elevation,
                                 &size)) {
            return true;
        }
        return elevation.TokenIsElevated != 0;
    }();
    return elevated;
}

Path fullPathName(const Path& path) {
    if (path.empty()) {
        return Path();
    }
    const DWORD needed = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (needed == 0) {
        return Path();
    }
    Path full(needed, L'\0');
    const DWORD written = GetFullPathNameW(path.c_str(), needed, full.data(), nullptr);
    if (written == 0 || written >= needed) {
        return Path();
    }
    full.resize(written);
    return full;
}

bool sameWin32Name(const Path& a, const Path& b) {
    return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(),
                                static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

Path callPathOf(const Path& full) {
    return win32CallPath(full, full);
}

OpenedName openName(const Path& full, DWORD access, DWORD share, DWORD disposition, DWORD flags,
                    bool checkLinks) {
    OpenedName opened;
    opened.handle.reset(CreateFileW(
        callPathOf(full).c_str(), access, share, nullptr, disposition,
        flags | FILE_FLAG_BACKUP_SEMANTICS | (checkLinks ? FILE_FLAG_OPEN_REPARSE_POINT : 0),
        nullptr));
    if (!opened.handle.valid()) {
        opened.error = GetLastError();
        return opened;
    }
    BY_HANDLE_FILE_INFORMATION info{};
    if (!GetFileInformationByHandle(opened.handle.get(), &info)) {
        opened.error = GetLastError();
        opened.handle.reset();
        return opened;
    }
    opened.directory = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    if (checkLinks) {
        opened.names = opened.directory ? 1 : info.nNumberOfLinks;
        opened.link = pointsElsewhere(opened.handle.get(), full);
    }
    return opened;
}

DWORD deleteByHandle(HANDLE file) {
    FILE_DISPOSITION_INFO disposition{TRUE};
    if (SetFileInformationByHandle(file, FileDispositionInfo, &disposition, sizeof disposition)) {
        return ERROR_SUCCESS;
    }
    const DWORD error = GetLastError();
    FILE_BASIC_INFO basic{};
    if (error != ERROR_ACCESS_DENIED ||
        !GetFileInformationByHandleEx(file, FileBasicInfo, &basic, sizeof basic) ||
        (basic.FileAttributes & FILE_ATTRIBUTE_READONLY) == 0) {
        return error;
    }
    // A read-only file is deleted as well: it is the backup the user asked us to retire.
    basic.FileAttributes &= ~DWORD{FILE_ATTRIBUTE_READONLY};
    if (basic.FileAttributes == 0) {
        basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;  // 0 would mean "leave as it is"
    }
    if (!SetFileInformationByHandle(file, FileBasicInfo, &basic, sizeof basic) ||
        !SetFileInformationByHandle(file, FileDispositionInfo, &disposition, sizeof disposition)) {
        return GetLastError();
    }
    return ERROR_SUCCESS;
}
