// Win32 file layer. A walk opens the root by name and every folder below it relative to
// the folder above, and keeps them; every file is then opened relative to its folder and
// used through that handle alone: read, written, renamed, deleted, its attributes
// changed. When the process is elevated, nothing follows a link, each handle is first
// checked to be what its name says (nt_folder.h), and the folders are held without delete
// sharing, so none of them can be renamed away or swapped for a link until the run ends.
#include <windows.h>
#include <winternl.h>

#include <vector>

#include "common/elevation.h"
#include "common/file_system.h"
#include "common/nt_folder.h"
#include "common/win32_handle.h"

namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
/// What a held folder allows others: anything but renaming or deleting it.
constexpr DWORD kShareAllButDelete = FILE_SHARE_READ | FILE_SHARE_WRITE;
constexpr ACCESS_MASK kFolderAccess = FILE_READ_ATTRIBUTES | FILE_LIST_DIRECTORY | FILE_TRAVERSE;
/// Renames, deletions and attribute changes act on a link itself, never on its target;
/// only reading follows a link, and only when the run is not elevated.
constexpr ULONG kNameItself = FILE_OPEN_REPARSE_POINT;

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
    HANDLE handle() const { return handle_.get(); }

  private:
    UniqueHandle handle_;
};

/// An open handle and the place it resolves to, asked of it once.
class PlacedHandle {
  public:
    explicit PlacedHandle(UniqueHandle handle) : handle(std::move(handle)) {}
    const Path* place() {
        if (!resolved_) {
            resolved_ = resolve(handle.get(), name_);
        }
        return resolved_ ? &name_ : nullptr;
    }
    UniqueHandle handle;

  private:
    bool resolved_ = false;
    Path name_;
};

/// A folder held for the run; its place is what the names opened inside it are checked
/// against.
class Win32Folder : public Folder, public PlacedHandle {
  public:
    using PlacedHandle::PlacedHandle;
};

/// Whether what `self` holds, opened as `name` inside `folder`, is something else than
/// that entry.
bool pointsElsewhere(PlacedHandle& self, PlacedHandle& folder, const Path& name) {
    const Path* place = folder.place();
    const Path* own = self.place();
    return place == nullptr || own == nullptr ||
           ::pointsElsewhere(self.handle.get(), *own, folder.handle.get(), *place, name);
}

HANDLE handleOf(Folder& folder) {
    return static_cast<Win32Folder&>(folder).handle.get();
}

/// A file opened by name inside a folder, with what its handle says about it.
struct OpenedFile {
    UniqueHandle handle;
    DWORD error = ERROR_SUCCESS;
    bool directory = false;
    /// How many names (hard links) the file has.
    unsigned names = 1;
    /// Only looked at where it was asked for: a link, or a file with another name that
    /// someone else may have made.
    bool unsafe = false;
};

class Win32FileSystem : public FileSystem {
  public:
    bool elevated() override { return processIsElevated(); }

    Path fullPath(const Path& path) override {
        const DWORD needed = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
        if (path.empty() || needed == 0) {
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

    OpenedFolder openRoot(const Path& root) override {
        // The root is where the path starts, not a name on the way: it is neither checked
        // nor held (Wine's drive letters are themselves links, and a volume's root cannot
        // be renamed anyway).
        NtOpened opened =
            openRelative(nullptr, root, kFolderAccess, kShareAll, FILE_OPEN, FILE_DIRECTORY_FILE);
        OpenedFolder result;
        if (!opened.handle.valid()) {
            return result;  // a drive, share or volume that cannot be opened may hold anything
        }
        auto folder = std::make_unique<Win32Folder>(std::move(opened.handle));
        if (elevated() && folder->place() == nullptr) {
            return result;
        }
        result.state = PathState::present;
        result.folder = std::move(folder);
        return result;
    }

    OpenedFolder openFolder(Folder& parent, const Path& name, bool create) override {
        const bool careful = elevated();
        NtOpened opened = openRelative(
            handleOf(parent), name, kFolderAccess, careful ? kShareAllButDelete : kShareAll,
            create ? FILE_OPEN_IF : FILE_OPEN, FILE_DIRECTORY_FILE | (careful ? kNameItself : 0));
        OpenedFolder result;
        if (!opened.handle.valid()) {
            // A folder someone else holds with delete access could be renamed under us at
            // any moment: an elevated run does not go through it.
            if (!create && isNotFound(opened.error)) {
                result.state = PathState::absent;
            }
            return result;
        }
        auto folder = std::make_unique<Win32Folder>(std::move(opened.handle));
        if (careful && pointsElsewhere(*folder, static_cast<Win32Folder&>(parent), name)) {
            return result;
        }
        result.state = PathState::present;
        result.folder = std::move(folder);
        return result;
    }

    Path nameOnDisk(Folder& folder, const Path& name) override {
        const Listed listed = listedName(handleOf(folder), name);
        return listed.state == PathState::present ? listed.name : name;
    }

    Path placeKey(Folder& folder, const std::vector<Path>& below) override {
        Path key = finalPlaceOf(handleOf(folder));
        for (const Path& name : below) {
            key += L'\\';
            key += name;
        }
        // Windows file names do not depend on letter case.
        Path upper(key.size(), L'\0');
        const int mapped = LCMapStringW(LOCALE_INVARIANT, LCMAP_UPPERCASE, key.c_str(),
                                        static_cast<int>(key.size()), upper.data(),
                                        static_cast<int>(upper.size()));
        return mapped == static_cast<int>(key.size()) ? upper : key;
    }

    NameInfo inspect(Folder& folder, const Path& name) override {
        OpenedFile opened = openFile(folder, name, FILE_READ_ATTRIBUTES, kShareAll, FILE_OPEN,
                                     kNameItself, /*check=*/true);
        if (!opened.handle.valid()) {
            if (!isNotFound(opened.error)) {
                return NameInfo{PathState::unknown};
            }
            // Wine cannot open a symbolic link whose target is missing, and says "not
            // found", yet a new file cannot be made under that name; the folder's listing
            // still shows it. Where the two views differ, nothing is known.
            return NameInfo{listedName(handleOf(folder), name).state == PathState::absent
                                ? PathState::absent
                                : PathState::unknown};
        }
        return NameInfo{PathState::present, opened.unsafe, opened.names};
    }

    ReadOutcome readAll(Folder& folder, const Path& name, std::string& bytes,
                        size_t limit) override {
        const bool careful = elevated();
        const OpenedFile opened =
            openFile(folder, name, GENERIC_READ, kShareAll, FILE_OPEN,
                     FILE_SEQUENTIAL_ONLY | (careful ? kNameItself : 0), careful);
        if (!opened.handle.valid()) {
            if (isNotFound(opened.error)) {
                return ReadOutcome::absent;
            }
            return isBusy(opened.error) ? ReadOutcome::busy : ReadOutcome::failed;
        }
        LARGE_INTEGER size{};
        if (opened.directory || opened.unsafe || !GetFileSizeEx(opened.handle.get(), &size) ||
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

    std::unique_ptr<WritableFile> createNew(Folder& folder, const Path& name) override {
        // Made new inside the held folder: a name that stands there already, a link among
        // them, makes this fail rather than be followed.
        NtOpened opened =
            openRelative(handleOf(folder), name, GENERIC_WRITE | DELETE, FILE_SHARE_READ,
                         FILE_CREATE, FILE_NON_DIRECTORY_FILE | kNameItself);
        if (!opened.handle.valid()) {
            return nullptr;
        }
        return std::make_unique<Win32File>(std::move(opened.handle));
    }

    FileStatus replace(Folder& folder, WritableFile& written, const Path& to) override {
        const HANDLE file = static_cast<Win32File&>(written).handle();
        // No one can rename or delete the file while it is held, but a second name could
        // have been given to it meanwhile; the backup would then be reachable from outside.
        FILE_STANDARD_INFO info{};
        if (elevated() &&
            (!GetFileInformationByHandleEx(file, FileStandardInfo, &info, sizeof info) ||
             info.NumberOfLinks > 1)) {
            return FileStatus::failed;
        }
        const DWORD error = renameInside(file, handleOf(folder), to);
        if (error != ERROR_SUCCESS) {
            if (error == ERROR_ACCESS_DENIED && readOnlyOrFolder(folder, to)) {
                return FileStatus::failed;
            }
            return isBusy(error) ? FileStatus::busy : FileStatus::failed;
        }
        // Flushing the renamed file writes its new name to disk along with its metadata.
        FlushFileBuffers(file);
        return FileStatus::ok;
    }

    bool clearReadOnly(Folder& folder, const Path& name) override {
        return markReadOnly(folder, name, false);
    }

    void restoreReadOnly(Folder& folder, const Path& name) override {
        markReadOnly(folder, name, true);
    }

    FileStatus removeFile(Folder& folder, const Path& name) override {
        const OpenedFile opened =
            openFile(folder, name, DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES, kShareAll,
                     FILE_OPEN, kNameItself, elevated());
        if (!opened.handle.valid()) {
            if (isNotFound(opened.error)) {
                return FileStatus::ok;
            }
            return isBusy(opened.error) ? FileStatus::busy : FileStatus::failed;
        }
        if (opened.directory || opened.unsafe) {
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
    /// Opens `name` inside `folder`; with `check`, also asks the handle whether it is a
    /// link or has another name.
    static OpenedFile openFile(Folder& folder, const Path& name, ACCESS_MASK access, DWORD share,
                               ULONG disposition, ULONG options, bool check) {
        auto& held = static_cast<Win32Folder&>(folder);
        NtOpened opened =
            openRelative(held.handle.get(), name, access, share, disposition, options);
        OpenedFile file;
        file.error = opened.error;
        if (!opened.handle.valid()) {
            return file;
        }
        // The standard information, unlike GetFileInformationByHandle, asks nothing of the
        // volume: under Wine that is a round trip to its mount manager for every file.
        FILE_STANDARD_INFO info{};
        if (!GetFileInformationByHandleEx(opened.handle.get(), FileStandardInfo, &info,
                                          sizeof info)) {
            file.error = GetLastError();
            return file;
        }
        file.directory = info.Directory != FALSE;
        file.names = file.directory ? 1 : info.NumberOfLinks;
        if (check) {
            PlacedHandle self(std::move(opened.handle));
            file.unsafe = file.names > 1 || pointsElsewhere(self, held, name);
            opened.handle = std::move(self.handle);
        }
        file.handle = std::move(opened.handle);
        return file;
    }

    bool markReadOnly(Folder& folder, const Path& name, bool readOnly) {
        const OpenedFile opened =
            openFile(folder, name, FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES, kShareAll,
                     FILE_OPEN, kNameItself, elevated());
        return opened.handle.valid() && !opened.unsafe &&
               changeReadOnlyMark(opened.handle.get(), readOnly);
    }

    /// Access denied on a rename onto a read-only file or a folder is no passing state:
    /// the caller clears the mark, or gives up.
    static bool readOnlyOrFolder(Folder& folder, const Path& name) {
        const OpenedFile opened = openFile(folder, name, FILE_READ_ATTRIBUTES, kShareAll, FILE_OPEN,
                                           kNameItself, /*check=*/false);
        FILE_BASIC_INFO basic{};
        return opened.handle.valid() &&
               GetFileInformationByHandleEx(opened.handle.get(), FileBasicInfo, &basic,
                                            sizeof basic) &&
               (basic.FileAttributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)) != 0;
    }
};

}  // namespace

FileSystem& platformFileSystem() {
    static Win32FileSystem instance;
    return instance;
}
