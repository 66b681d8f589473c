// Win32 file layer. Wine's stat-based queries report every failure as absence, so
// existence is asked of GetFileAttributesW and its error code read here. Every file is
// opened once and then used through that handle alone: read, written, renamed, deleted,
// its attributes changed. When the process is elevated, nothing follows a link, and each
// handle is first checked to be what its name says (win32_names.h).
#include <windows.h>

#include <vector>

#include "common/backup_path.h"
#include "common/file_system.h"
#include "common/win32_handle.h"
#include "common/win32_names.h"

namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
/// Renames, deletions and attribute changes act on a link itself, never on its target, as
/// the by-name calls do on Windows; only reading follows a link, and only when the run is
/// not elevated.
constexpr DWORD kNameItself = FILE_FLAG_OPEN_REPARSE_POINT;

/// The error codes that mean "nothing there": file, directory on the way, or a text
/// that is no valid path name. Network errors are not among them: a share that does not
/// answer may well hold the backup.
bool isNotFound(DWORD error) {
    switch (error) {
        case ERROR_FILE_NOT_FOUND:  // 2
        case ERROR_PATH_NOT_FOUND:  // 3
        case ERROR_INVALID_NAME:    // 123
        case ERROR_BAD_PATHNAME:    // 161
        case ERROR_DIRECTORY:       // 267
            return true;
        default:
            return false;
    }
}

/// Another program holds or locks the file, or denies access for a moment: virus
/// scanners and indexers do, and let go soon. Access denied counts here only where a
/// read-only mark cannot be the reason; the callers see to that.
bool isBusy(DWORD error) {
    return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION ||
           error == ERROR_ACCESS_DENIED;
}

/// A drive letter with no volume behind it: an elevated process often does not see the
/// drives the user mapped, and the system then says "not found" for a path on it.
bool onDriveWithoutVolume(const Path& full) {
    size_t at = 0;
    if (full.compare(0, 4, L"\\\\?\\") == 0) {
        at = 4;
    }
    if (full.size() < at + 3 || full[at + 1] != L':') {
        return false;
    }
    const wchar_t root[] = {full[at], L':', L'\\', L'\0'};
    return GetDriveTypeW(root) == DRIVE_NO_ROOT_DIR;
}

PathState stateAfter(DWORD error, const Path& full) {
    return isNotFound(error) && !onDriveWithoutVolume(full) ? PathState::absent
                                                            : PathState::unknown;
}

/// A file the elevated process must not use: a link, or a file with another name that
/// someone else may have made.
bool unsafe(const OpenedName& opened) {
    return opened.link || opened.names > 1;
}

bool writeAll(HANDLE h, const char* data, size_t size) {
    while (size > 0) {
        DWORD chunk = size > 0x10000000 ? 0x10000000 : static_cast<DWORD>(size);
        DWORD done = 0;
        if (!WriteFile(h, data, chunk, &done, nullptr) || done == 0) {
            return false;
        }
        data += done;
        size -= done;
    }
    return true;
}

class Win32File : public WritableFile {
  public:
    explicit Win32File(UniqueHandle handle) : handle_(std::move(handle)) {}
    bool write(std::string_view text) override {
        // Text mode, as the file has always been written: each "\n" is CR LF on disk.
        std::string out;
        out.reserve(text.size() + text.size() / 16 + 2);
        for (char c : text) {
            if (c == '\n') {
                out += '\r';
            }
            out += c;
        }
        return writeAll(handle_.get(), out.data(), out.size());
    }
    bool flush() override { return FlushFileBuffers(handle_.get()) != 0; }
    bool close() override { return handle_.reset(); }

  private:
    UniqueHandle handle_;
};

/// The system's own form of an absolute path, which a rename by handle takes: "\??\"
/// before a drive path, "\??\UNC\" in place of the "\\" of a share. (Windows takes a
/// bare leaf as "in the same folder", but Wine takes it as relative to the working
/// folder, so the rename always names its whole target.)
Path systemPathOf(const Path& full) {
    if (full.compare(0, 4, L"\\\\?\\") == 0 || full.compare(0, 4, L"\\\\.\\") == 0) {
        return L"\\??\\" + full.substr(4);
    }
    if (full.compare(0, 2, L"\\\\") == 0) {
        return L"\\??\\UNC\\" + full.substr(2);
    }
    return L"\\??\\" + full;
}

/// FILE_RENAME_INFO with its name, built in one buffer as the system expects it.
std::vector<char> renameInfo(const Path& target) {
    std::vector<char> buffer(sizeof(FILE_RENAME_INFO) + (target.size() + 1) * sizeof(wchar_t));
    auto* info = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
    info->ReplaceIfExists = TRUE;
    info->RootDirectory = nullptr;
    info->FileNameLength = static_cast<DWORD>(target.size() * sizeof(wchar_t));
    target.copy(info->FileName, target.size());
    return buffer;
}

class Win32FileSystem : public FileSystem {
  public:
    bool elevated() override { return processIsElevated(); }

    Path fullPath(const Path& path) override { return fullPathName(path); }

    NameInfo inspect(const Path& path) override {
        const Path full = fullPathName(path);
        if (full.empty()) {
            return NameInfo{PathState::unknown};
        }
        const OpenedName opened =
            openName(full, FILE_READ_ATTRIBUTES, kShareAll, OPEN_EXISTING, 0, /*checkLinks=*/true);
        if (!opened.handle.valid()) {
            const PathState state = stateAfter(opened.error, full);
            return NameInfo{state == PathState::absent ? confirmedAbsence(full) : state};
        }
        return NameInfo{PathState::present, opened.link, opened.names};
    }

    PathState query(const Path& path) override {
        const Path full = fullPathName(path);
        if (GetFileAttributesW(win32CallPath(path, full).c_str()) != INVALID_FILE_ATTRIBUTES) {
            return PathState::present;
        }
        return stateAfter(GetLastError(), full);
    }

    bool makeDirectories(const Path& dir) override {
        // Made from the absolute form, so a relative path and ".." on the way make the
        // directories the system will look in, and each step can be long. An elevated
        // run looks at each step before it makes the next one inside it.
        const Path full = fullPathName(dir);
        for (const Path& step : directoryChain(full)) {
            CreateDirectoryW(callPathOf(step).c_str(), nullptr);
            if (elevated() && inspect(step).link) {
                return false;
            }
        }
        if (full.empty()) {
            return false;
        }
        const DWORD attributes = GetFileAttributesW(callPathOf(full).c_str());
        return attributes != INVALID_FILE_ATTRIBUTES &&
               (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    }

    ReadOutcome readAll(const Path& path, std::string& bytes, size_t limit) override {
        const Path full = fullPathName(path);
        const OpenedName opened = openName(full, GENERIC_READ, kShareAll, OPEN_EXISTING,
                                           FILE_FLAG_SEQUENTIAL_SCAN, elevated());
        if (!opened.handle.valid()) {
            if (stateAfter(opened.error, full) == PathState::absent) {
                return ReadOutcome::absent;
            }
            return isBusy(opened.error) ? ReadOutcome::busy : ReadOutcome::failed;
        }
        LARGE_INTEGER size{};
        if (opened.directory || unsafe(opened) || !GetFileSizeEx(opened.handle.get(), &size) ||
            static_cast<unsigned long long>(size.QuadPart) > limit) {
            return ReadOutcome::failed;
        }
        bytes.clear();
        char buffer[65536];
        for (;;) {
            DWORD done = 0;
            if (!ReadFile(opened.handle.get(), buffer, sizeof buffer, &done, nullptr)) {
                return ReadOutcome::failed;
            }
            if (done == 0) {
                return ReadOutcome::ok;
            }
            if (bytes.size() + done > limit) {
                return ReadOutcome::failed;  // it grew while we read
            }
            bytes.append(buffer, done);
        }
    }

    std::unique_ptr<WritableFile> createNew(const Path& path) override {
        const Path full = fullPathName(path);
        OpenedName opened = openName(full, GENERIC_WRITE | DELETE, FILE_SHARE_READ, CREATE_NEW,
                                     FILE_ATTRIBUTE_NORMAL | kNameItself, elevated());
        if (!opened.handle.valid()) {
            return nullptr;
        }
        if (opened.link) {
            // A folder on the way was swapped for a link after it was checked: the new,
            // empty file is ours to take away again.
            deleteByHandle(opened.handle.get());
            return nullptr;
        }
        return std::make_unique<Win32File>(std::move(opened.handle));
    }

    FileStatus replace(const Path& from, const Path& to) override {
        const Path fullFrom = fullPathName(from);
        const Path fullTo = fullPathName(to);
        // The temporary file sits beside its target; a rename anywhere else could only mean
        // that a path was redirected.
        if (fullFrom.empty() || fullTo.empty() ||
            !sameWin32Name(parentDirectory(fullFrom), parentDirectory(fullTo))) {
            return FileStatus::failed;
        }
        const OpenedName opened = openName(fullFrom, GENERIC_WRITE | DELETE, FILE_SHARE_READ,
                                           OPEN_EXISTING, kNameItself, elevated());
        if (!opened.handle.valid()) {
            return isBusy(opened.error) ? FileStatus::busy : FileStatus::failed;
        }
        if (opened.directory || unsafe(opened)) {
            return FileStatus::failed;
        }
        const std::vector<char> info = renameInfo(systemPathOf(fullTo));
        if (!SetFileInformationByHandle(opened.handle.get(), FileRenameInfo,
                                        const_cast<char*>(info.data()),
                                        static_cast<DWORD>(info.size()))) {
            const DWORD error = GetLastError();
            if (error == ERROR_ACCESS_DENIED && readOnlyOrFolder(fullTo)) {
                return FileStatus::failed;
            }
            return isBusy(error) ? FileStatus::busy : FileStatus::failed;
        }
        // Flushing the renamed file writes its new name to disk along with its metadata.
        FlushFileBuffers(opened.handle.get());
        return FileStatus::ok;
    }

    bool clearReadOnly(const Path& path) override {
        const OpenedName opened =
            openName(fullPathName(path), FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES, kShareAll,
                     OPEN_EXISTING, kNameItself, elevated());
        FILE_BASIC_INFO basic{};
        if (!opened.handle.valid() || unsafe(opened) ||
            !GetFileInformationByHandleEx(opened.handle.get(), FileBasicInfo, &basic,
                                          sizeof basic) ||
            (basic.FileAttributes & FILE_ATTRIBUTE_READONLY) == 0) {
            return false;
        }
        basic.FileAttributes &= ~DWORD{FILE_ATTRIBUTE_READONLY};
        if (basic.FileAttributes == 0) {
            basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;  // 0 would mean "leave as it is"
        }
        return SetFileInformationByHandle(opened.handle.get(), FileBasicInfo, &basic,
                                          sizeof basic) != 0;
    }

    FileStatus removeFile(const Path& path) override {
        const Path full = fullPathName(path);
        const OpenedName opened =
            openName(full, DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES, kShareAll,
                     OPEN_EXISTING, kNameItself, elevated());
        if (!opened.handle.valid()) {
            if (stateAfter(opened.error, full) == PathState::absent) {
                return FileStatus::ok;
            }
            return isBusy(opened.error) ? FileStatus::busy : FileStatus::failed;
        }
        if (opened.directory || unsafe(opened)) {
            return FileStatus::failed;
        }
        const DWORD error = deleteByHandle(opened.handle.get());
        if (error == ERROR_SUCCESS) {
            return FileStatus::ok;
        }
        return isBusy(error) ? FileStatus::busy : FileStatus::failed;
    }

    void pause(std::chrono::milliseconds wait) override { Sleep(static_cast<DWORD>(wait.count())); }

  private:
    /// Asks the folder's listing as well, when opening a name found nothing. Wine cannot
    /// open a symbolic link whose target is missing, and says "not found", yet a new file
    /// cannot be made under that name; its listing then answers "no more files" rather
    /// than "not found". Where the two views differ, nothing is known.
    static PathState confirmedAbsence(const Path& full) {
        WIN32_FIND_DATAW found{};
        const HANDLE search = FindFirstFileW(callPathOf(full).c_str(), &found);
        if (search != INVALID_HANDLE_VALUE) {
            FindClose(search);
            return PathState::unknown;
        }
        return stateAfter(GetLastError(), full);
    }

    /// Access denied on a rename onto a read-only file or a folder is no passing state:
    /// the caller clears the mark, or gives up.
    static bool readOnlyOrFolder(const Path& full) {
        const DWORD attributes = GetFileAttributesW(callPathOf(full).c_str());
        return attributes != INVALID_FILE_ATTRIBUTES &&
               (attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)) != 0;
    }
};

}  // namespace

FileSystem& platformFileSystem() {
    static Win32FileSystem instance;
    return instance;
}
