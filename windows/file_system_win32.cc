// Win32 file layer. A walk opens the root by name and every folder below it relative to
// the folder above, and keeps them; every file is then opened relative to its folder and
// used through that handle alone: read, written, renamed, deleted, its attributes
// changed. When the process is elevated, nothing follows a link, each handle is first
// checked to be what its name says (nt_folder.h), and the folders are held without delete
// sharing, so none of them can be renamed away or swapped for a link until the run ends.
#include <ntstatus.h>
#include <windows.h>
#include <winternl.h>

#include <string>

#include "store/backup_path.h"
#include "store/file_system.h"
#include "store/system_codes.h"
#include "windows/nt_folder.h"
#include "windows/win32_handle.h"

namespace {

/// A name that turned out to be a link, or another place than its own: older headers lack it.
constexpr NTSTATUS kReparsePointEncountered =
    static_cast<NTSTATUS>(ntstatus::kReparsePointEncountered);

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
/// What a held folder allows others: anything but renaming or deleting it.
constexpr DWORD kShareAllButDelete = FILE_SHARE_READ | FILE_SHARE_WRITE;
/// What a walk needs of a folder on the way: to pass through it, and, where it is checked,
/// to read the attributes that carry its reparse tag. Listing is asked for separately, only
/// where a name must be looked up in the listing, so a folder its caller may traverse but not
/// list can still be on the way; and a walk that checks nothing asks for no attributes, which
/// a folder inside one that may only be traversed need not grant.
ACCESS_MASK folderAccess(bool careful) {
    return careful ? FILE_READ_ATTRIBUTES | FILE_TRAVERSE : FILE_TRAVERSE;
}
/// Renames, deletions and attribute changes act on a link itself, never on its target;
/// only reading follows a link, and only when the run is not elevated.
constexpr ULONG kNameItself = FILE_OPEN_REPARSE_POINT;

/// Another program holds or locks the file, or denies access for a moment: virus
/// scanners and indexers do, and let go soon. Access denied counts here only where a
/// read-only mark cannot be the reason; the callers see to that.
bool isBusy(NTSTATUS status) {
    switch (status) {
        case STATUS_SHARING_VIOLATION:
        case STATUS_FILE_LOCK_CONFLICT:
        case STATUS_LOCK_NOT_GRANTED:
        case STATUS_ACCESS_DENIED:
        case STATUS_DELETE_PENDING:
        case STATUS_CANNOT_DELETE:
            return true;
        default:
            return false;
    }
}

FileStatus failure(FileOutcome outcome, std::string_view call, NTSTATUS status, Path path) {
    return fileFailure(outcome, call,
                       SystemCode{CodeFamily::ntstatus, static_cast<uint32_t>(status)},
                       std::move(path));
}

/// The outcome a failed file operation reports: absent, busy, or failed.
FileStatus fileFailure(std::string_view call, NTSTATUS status, Path path) {
    const FileOutcome outcome = isNotFound(status) ? FileOutcome::absent
                                : isBusy(status)   ? FileOutcome::busy
                                                   : FileOutcome::failed;
    return failure(outcome, call, status, std::move(path));
}

Path joined(const Path& folder, const Path& name) {
    return !folder.empty() && folder.back() == L'\\' ? folder + name : folder + L'\\' + name;
}

/// A handle held open, and the place it resolves to, asked of it once.
class PlacedHandle {
  public:
    explicit PlacedHandle(UniqueHandle handle) : handle_(std::move(handle)) {}
    HANDLE get() const { return handle_.get(); }
    UniqueHandle take() { return std::move(handle_); }
    const Path* place() {
        if (!resolved_) {
            resolved_ = resolve(handle_.get(), name_) >= 0;
        }
        return resolved_ ? &name_ : nullptr;
    }

  private:
    UniqueHandle handle_;
    bool resolved_ = false;
    Path name_;
};

/// Whether what `self` holds, opened as `name` inside `folder`, is something else than
/// that entry.
bool pointsElsewhere(PlacedHandle& self, PlacedHandle& folder, const Path& name) {
    const Path* place = folder.place();
    const Path* own = self.place();
    return place == nullptr || own == nullptr ||
           ::pointsElsewhere(self.get(), *own, folder.get(), *place, name);
}

class Win32Folder;

/// A new file made inside a held folder, used through its own handle to the end.
class Win32File : public WritableFile {
  public:
    Win32File(UniqueHandle handle, Win32Folder& folder, Path name)
        : handle_(std::move(handle)), folder_(folder), name_(std::move(name)) {}

    FileStatus write(std::string_view text) override;
    FileStatus flush() override;
    FileStatus verify() override;
    FileStatus replace(const Name& to) override;
    FileStatus discard() override;
    FileStatus close() override;

  private:
    Path shown() const;
    /// One rename attempt onto `to`.
    NTSTATUS renameOnto(const Path& to);

    PlacedHandle handle_;
    Win32Folder& folder_;
    /// The name it has in its folder now.
    Path name_;
    bool renamed_ = false;
};

/// A folder held for the run; its place is what the names opened inside it are checked
/// against.
class Win32Folder : public Folder {
  public:
    Win32Folder(UniqueHandle handle, Path shown, bool careful)
        : handle_(std::move(handle)), shown_(std::move(shown)), careful_(careful) {}

    Opened<Folder> openFolder(const Name& name) override {
        return open(name.text(), FILE_OPEN, nullptr);
    }
    Opened<Folder> makeFolder(const Name& name, bool& made) override {
        return open(name.text(), FILE_CREATE, &made);
    }
    FileStatus removeIfEmpty() override;
    Name nameOnDisk(const Name& name) override;
    LockKey placeKey(const std::vector<Name>& below) override;
    Path shown(const Name& name) const override { return joined(shown_, name.text()); }
    NameInfo inspect(const Name& given) override;
    FileStatus readAll(const Name& given, std::string& bytes, size_t limit) override;
    Opened<WritableFile> createNew(const Name& given) override;
    FileStatus removeFile(const Name& given) override;

    HANDLE handle() const { return handle_.get(); }
    PlacedHandle& placed() { return handle_; }
    const Path& shown() const { return shown_; }
    bool careful() const { return careful_; }
    /// Forces the folder's entries to disk, so a rename inside it survives a power cut.
    FileStatus flushEntries();
    /// Whether `name` is read-only or a folder, looked at without going through a link.
    bool readOnlyOrFolder(const Path& name);
    /// Sets or clears the read-only mark of `name`; true only when it changed.
    bool markReadOnly(const Path& name, bool readOnly);

  private:
    /// A file opened by name inside this folder, with what its handle says about it.
    struct OpenedFile {
        UniqueHandle handle;
        NTSTATUS status = STATUS_SUCCESS;
        bool directory = false;
        /// How many names (hard links) the file has.
        unsigned names = 1;
        /// Only looked at where it was asked for: a link, or a file with another name that
        /// someone else may have made.
        bool unsafe = false;

        /// Why a backup may not be read or removed through this handle: it is a folder, or
        /// (where that was checked) a link or a file with another name; ok otherwise.
        FileStatus refusal(const Path& path) const;
    };

    Opened<Folder> open(const Path& name, ULONG disposition, bool* made);
    /// Opens `name` inside this folder; with `check`, also asks the handle whether it is a
    /// link or has another name.
    OpenedFile openFile(const Path& name, ACCESS_MASK access, ULONG options, bool check);

    PlacedHandle handle_;
    Path shown_;
    bool careful_;
    /// Opened on the first flush and kept: a save flushes its folder each time.
    UniqueHandle flushHandle_;
    /// For a folder this run made: a handle that may delete it.
    bool deletable_ = false;
};

Opened<Folder> Win32Folder::open(const Path& name, ULONG disposition, bool* made) {
    // A folder this run makes is opened with the right to delete it, so that a save that
    // fails can take it back through this very handle.
    const bool making = disposition == FILE_CREATE;
    Opened<Folder> result;
    NtOpened opened = openRelative(handle(), name, folderAccess(careful_) | (making ? DELETE : 0),
                                   careful_ ? kShareAllButDelete : kShareAll, disposition,
                                   FILE_DIRECTORY_FILE | (careful_ ? kNameItself : 0));
    if (making) {
        *made = opened.status >= 0;
        if (opened.status == STATUS_OBJECT_NAME_COLLISION) {
            // Made by someone else since the walk: gone through as any folder on the way.
            opened = openRelative(handle(), name, folderAccess(careful_),
                                  careful_ ? kShareAllButDelete : kShareAll, FILE_OPEN,
                                  FILE_DIRECTORY_FILE | (careful_ ? kNameItself : 0));
        }
    }
    const Path path = joined(shown_, name);
    if (!opened.handle.valid()) {
        // A folder someone else holds with delete access could be renamed under us at any
        // moment, and one being deleted goes once its last holder lets go: a run waits for
        // either, then does not go through it.
        if (opened.status == STATUS_SHARING_VIOLATION || opened.status == STATUS_DELETE_PENDING) {
            result.status = failure(FileOutcome::busy, "NtCreateFile", opened.status, path);
        } else {
            result.status = failure(
                !making && isNotFound(opened.status) ? FileOutcome::absent : FileOutcome::failed,
                "NtCreateFile", opened.status, path);
        }
        return result;
    }
    auto folder = std::make_unique<Win32Folder>(std::move(opened.handle), path, careful_);
    folder->deletable_ = making && *made;
    if (careful_ && pointsElsewhere(folder->placed(), handle_, name)) {
        if (folder->deletable_) {
            folder->removeIfEmpty();  // ours, but not where it should be: not kept
        }
        result.status =
            failure(FileOutcome::failed, "NtQueryObject", kReparsePointEncountered, path);
        return result;
    }
    result.object = std::move(folder);
    return result;
}

FileStatus Win32Folder::removeIfEmpty() {
    if (!deletable_) {
        return failure(FileOutcome::failed, "NtSetInformationFile", STATUS_CANNOT_DELETE, shown_);
    }
    // Deleted when its last handle closes, which is this one: only an empty folder can be.
    FILE_DISPOSITION_INFORMATION disposition{TRUE};
    IO_STATUS_BLOCK io{};
    const NTSTATUS status = ntCalls().setInformationFile(
        handle(), &io, &disposition, sizeof disposition, FileDispositionInformation);
    if (status < 0) {
        return failure(FileOutcome::failed, "NtSetInformationFile", status, shown_);
    }
    return fileOk();
}

Name Win32Folder::nameOnDisk(const Name& name) {
    const Listed listed = listedName(handle(), name.text());
    return listed.state == PathState::present ? Name(listed.name) : name;
}

LockKey Win32Folder::placeKey(const std::vector<Name>& below) {
    Path key = finalPlaceOf(handle());
    for (const Name& name : below) {
        key += L'\\';
        key += name.text();
    }
    // Windows file names do not depend on letter case.
    Path upper(key.size(), L'\0');
    const int mapped = ntCalls().mapString(LOCALE_INVARIANT, LCMAP_UPPERCASE, key.c_str(),
                                           static_cast<int>(key.size()), upper.data(),
                                           static_cast<int>(upper.size()));
    return LockKey(mapped == static_cast<int>(key.size()) ? upper : key);
}

Win32Folder::OpenedFile Win32Folder::openFile(const Path& name, ACCESS_MASK access, ULONG options,
                                              bool check) {
    NtOpened opened = openRelative(handle(), name, access, kShareAll, FILE_OPEN, options);
    OpenedFile file;
    file.status = opened.status;
    if (!opened.handle.valid()) {
        return file;
    }
    // The standard information asks nothing of the volume: under Wine, the volume's own
    // information is a round trip to its mount manager for every file.
    FILE_STANDARD_INFORMATION info{};
    file.status = queryFile(opened.handle.get(), FileStandardInformation, info);
    if (file.status < 0) {
        return file;
    }
    file.directory = info.Directory != FALSE;
    file.names = file.directory ? 1 : info.NumberOfLinks;
    if (check) {
        PlacedHandle self(std::move(opened.handle));
        file.unsafe = file.names > 1 || pointsElsewhere(self, handle_, name);
        opened.handle = self.take();
    }
    file.handle = std::move(opened.handle);
    return file;
}

FileStatus Win32Folder::OpenedFile::refusal(const Path& path) const {
    if (directory) {
        return failure(FileOutcome::failed, "NtQueryInformationFile", STATUS_FILE_IS_A_DIRECTORY,
                       path);
    }
    if (unsafe) {
        return failure(FileOutcome::failed, "NtQueryObject", kReparsePointEncountered, path);
    }
    return fileOk();
}

NameInfo Win32Folder::inspect(const Name& given) {
    const Path& name = given.text();
    const Path path = shown(given);
    OpenedFile opened = openFile(name, FILE_READ_ATTRIBUTES, kNameItself, /*check=*/true);
    if (!opened.handle.valid()) {
        NameInfo info;
        info.why = failure(FileOutcome::failed, "NtCreateFile", opened.status, path);
        if (!isNotFound(opened.status)) {
            info.state = PathState::unknown;
            return info;
        }
        // Wine cannot open a symbolic link whose target is missing, and says "not found",
        // yet a new file cannot be made under that name; the folder's listing still shows
        // it. Where the two views differ, nothing is known.
        info.state = listedName(handle(), name).state == PathState::absent ? PathState::absent
                                                                           : PathState::unknown;
        return info;
    }
    return NameInfo{PathState::present, opened.unsafe, opened.names, fileOk()};
}

FileStatus Win32Folder::readAll(const Name& given, std::string& bytes, size_t limit) {
    const Path& name = given.text();
    const Path path = shown(given);
    const OpenedFile opened =
        openFile(name, GENERIC_READ, FILE_SEQUENTIAL_ONLY | (careful_ ? kNameItself : 0), careful_);
    if (!opened.handle.valid()) {
        return fileFailure("NtCreateFile", opened.status, path);
    }
    if (FileStatus refused = opened.refusal(path); !refused.ok()) {
        return refused;
    }
    FILE_STANDARD_INFORMATION info{};
    const NTSTATUS sized = queryFile(opened.handle.get(), FileStandardInformation, info);
    if (sized < 0) {
        return failure(FileOutcome::failed, "NtQueryInformationFile", sized, path);
    }
    if (static_cast<unsigned long long>(info.EndOfFile.QuadPart) > limit) {
        return failure(FileOutcome::failed, "NtQueryInformationFile", STATUS_FILE_TOO_LARGE, path);
    }
    bytes.clear();
    char buffer[65536];
    for (;;) {
        IO_STATUS_BLOCK io{};
        const NTSTATUS status = ntCalls().readFile(opened.handle.get(), nullptr, nullptr, nullptr,
                                                   &io, buffer, sizeof buffer, nullptr, nullptr);
        if (status == STATUS_END_OF_FILE || (status >= 0 && io.Information == 0)) {
            return fileOk();
        }
        if (status < 0) {
            return failure(FileOutcome::failed, "NtReadFile", status, path);
        }
        if (bytes.size() + io.Information > limit) {
            // It grew while we read.
            return failure(FileOutcome::failed, "NtReadFile", STATUS_FILE_TOO_LARGE, path);
        }
        bytes.append(buffer, io.Information);
    }
}

Opened<WritableFile> Win32Folder::createNew(const Name& given) {
    const Path& name = given.text();
    // Made new inside the held folder: a name that stands there already, a link among
    // them, makes this fail rather than be followed. No one else may delete or rename it
    // while it is held. Reading its attributes is what checking it on its handle asks:
    // writing does not include it, and Windows refuses the reparse tag to a handle without.
    NtOpened opened =
        openRelative(handle(), name, GENERIC_WRITE | DELETE | FILE_READ_ATTRIBUTES, FILE_SHARE_READ,
                     FILE_CREATE, FILE_NON_DIRECTORY_FILE | kNameItself);
    Opened<WritableFile> result;
    if (!opened.handle.valid()) {
        result.status = fileFailure("NtCreateFile", opened.status, shown(given));
        return result;
    }
    result.object = std::make_unique<Win32File>(std::move(opened.handle), *this, name);
    return result;
}

FileStatus Win32Folder::removeFile(const Name& given) {
    const Path& name = given.text();
    const Path path = shown(given);
    const OpenedFile opened = openFile(name, DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES,
                                       kNameItself, careful_);
    if (!opened.handle.valid()) {
        if (isNotFound(opened.status)) {
            return fileOk();
        }
        return fileFailure("NtCreateFile", opened.status, path);
    }
    if (FileStatus refused = opened.refusal(path); !refused.ok()) {
        return refused;
    }
    const NTSTATUS status = deleteByHandle(opened.handle.get());
    return status >= 0 ? fileOk() : fileFailure("NtSetInformationFile", status, path);
}

FileStatus Win32Folder::flushEntries() {
    if (!flushHandle_.valid()) {
        // The held handle may only look and pass through; flushing takes a handle that may
        // change the folder, opened on the folder itself (the empty name inside it).
        NtOpened opened = openRelative(handle(), Path(), FILE_ADD_FILE, kShareAll, FILE_OPEN,
                                       FILE_DIRECTORY_FILE);
        if (!opened.handle.valid()) {
            // Someone holding the folder without write sharing (a scanner) lets go soon.
            return failure(
                opened.status == STATUS_SHARING_VIOLATION ? FileOutcome::busy : FileOutcome::failed,
                "NtCreateFile", opened.status, shown_);
        }
        flushHandle_ = std::move(opened.handle);
    }
    IO_STATUS_BLOCK io{};
    const NTSTATUS status = ntCalls().flushBuffersFile(flushHandle_.get(), &io);
    // A file system that cannot flush a folder writes its entries as it goes, or not at
    // all; either way there is nothing more to ask of it.
    if (status >= 0 || status == STATUS_NOT_SUPPORTED || status == STATUS_INVALID_DEVICE_REQUEST) {
        return fileOk();
    }
    return failure(FileOutcome::failed, "NtFlushBuffersFile", status, shown_);
}

bool Win32Folder::readOnlyOrFolder(const Path& name) {
    const OpenedFile opened = openFile(name, FILE_READ_ATTRIBUTES, kNameItself, /*check=*/false);
    FILE_BASIC_INFORMATION basic{};
    return opened.handle.valid() &&
           queryFile(opened.handle.get(), FileBasicInformation, basic) >= 0 &&
           (basic.FileAttributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)) != 0;
}

bool Win32Folder::markReadOnly(const Path& name, bool readOnly) {
    const OpenedFile opened =
        openFile(name, FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES, kNameItself, careful_);
    return opened.handle.valid() && !opened.unsafe &&
           changeReadOnlyMark(opened.handle.get(), readOnly);
}

Path Win32File::shown() const {
    return joined(folder_.shown(), name_);
}

FileStatus Win32File::write(std::string_view text) {
    // Text mode, as the file has always been written: each "\n" is CR LF on disk.
    std::string out;
    out.reserve(text.size() + text.size() / 16 + 2);
    for (char c : text) {
        if (c == '\n') {
            out += '\r';
        }
        out += c;
    }
    size_t done = 0;
    while (done < out.size()) {
        const size_t left = out.size() - done;
        const ULONG chunk = left > 0x10000000 ? 0x10000000 : static_cast<ULONG>(left);
        IO_STATUS_BLOCK io{};
        const NTSTATUS status = ntCalls().writeFile(handle_.get(), nullptr, nullptr, nullptr, &io,
                                                    out.data() + done, chunk, nullptr, nullptr);
        if (status < 0 || io.Information == 0) {
            return failure(FileOutcome::failed, "NtWriteFile",
                           status < 0 ? status : STATUS_DISK_FULL, shown());
        }
        done += io.Information;
    }
    return fileOk();
}

FileStatus Win32File::flush() {
    IO_STATUS_BLOCK io{};
    const NTSTATUS status = ntCalls().flushBuffersFile(handle_.get(), &io);
    return status >= 0 ? fileOk()
                       : failure(FileOutcome::failed, "NtFlushBuffersFile", status, shown());
}

FileStatus Win32File::verify() {
    FILE_STANDARD_INFORMATION info{};
    const NTSTATUS status = queryFile(handle_.get(), FileStandardInformation, info);
    if (status < 0) {
        return failure(FileOutcome::failed, "NtQueryInformationFile", status, shown());
    }
    // A file that was unlinked and replaced by another at its name has no name left (0):
    // renaming it by its handle would move whatever stands at the name now.
    if (info.DeletePending != FALSE) {
        return failure(FileOutcome::failed, "NtQueryInformationFile", STATUS_DELETE_PENDING,
                       shown());
    }
    if (info.NumberOfLinks != 1) {
        return failure(FileOutcome::failed, "NtQueryInformationFile",
                       info.NumberOfLinks == 0 ? STATUS_FILE_DELETED : STATUS_TOO_MANY_LINKS,
                       shown());
    }
    if (pointsElsewhere(handle_, folder_.placed(), name_)) {
        return failure(FileOutcome::failed, "NtQueryObject", kReparsePointEncountered, shown());
    }
    return fileOk();
}

NTSTATUS Win32File::renameOnto(const Path& to) {
    const NTSTATUS status = renameInside(handle_.get(), folder_.handle(), to);
    if (status >= 0) {
        name_ = to;
        renamed_ = true;
    }
    return status;
}

FileStatus Win32File::replace(const Name& given) {
    const Path& to = given.text();
    if (renamed_ && name_ == to) {
        return folder_.flushEntries();  // tried again after the folder was busy
    }
    const Path target = folder_.shown(given);
    NTSTATUS status = renameOnto(to);
    if (status == STATUS_ACCESS_DENIED && folder_.readOnlyOrFolder(to)) {
        // A read-only backup refuses to be replaced; the user asked us to keep it, not to
        // freeze it, so the mark is cleared and the rename tried once more. If that fails
        // too, the mark goes back on: the file stays exactly as it was.
        if (!folder_.markReadOnly(to, false)) {
            return failure(FileOutcome::failed, "NtSetInformationFile", status, target);
        }
        status = renameOnto(to);
        if (status < 0) {
            folder_.markReadOnly(to, true);
            return failure(FileOutcome::failed, "NtSetInformationFile", status, target);
        }
    }
    if (status < 0) {
        return fileFailure("NtSetInformationFile", status, target);
    }
    // Flushing the file does not, by any document, write its new entry in the folder:
    // the folder is flushed itself, and the save counts only once it was.
    return folder_.flushEntries();
}

FileStatus Win32File::discard() {
    if (renamed_) {
        return fileOk();  // it holds the backup's name now, and what the name needs
    }
    const NTSTATUS status = deleteByHandle(handle_.get());
    return status >= 0 ? fileOk()
                       : failure(FileOutcome::failed, "NtSetInformationFile", status, shown());
}

FileStatus Win32File::close() {
    UniqueHandle handle = handle_.take();
    return handle.reset() ? fileOk()
                          : failure(FileOutcome::failed, "NtClose", STATUS_UNSUCCESSFUL, shown());
}

class Win32FileSystem : public FileSystem {
  public:
    using FileSystem::FileSystem;

    Path fullPath(const Path& path) override {
        const DWORD needed = ntCalls().getFullPathName(path.c_str(), 0, nullptr, nullptr);
        if (path.empty() || needed == 0) {
            return Path();
        }
        Path full(needed, L'\0');
        const DWORD written = ntCalls().getFullPathName(path.c_str(), needed, full.data(), nullptr);
        if (written == 0 || written >= needed) {
            return Path();
        }
        full.resize(written);
        return full;
    }

    Opened<Folder> openRoot(const Root& given) override {
        const Path& root = given.text();
        // The root is where the path starts, not a name on the way: it is neither checked
        // nor held (Wine's drive letters are themselves links, and a volume's root cannot
        // be renamed anyway).
        NtOpened opened = openRelative(nullptr, root, folderAccess(elevated()), kShareAll,
                                       FILE_OPEN, FILE_DIRECTORY_FILE);
        Opened<Folder> result;
        const Path shown = shownRoot(given);
        if (!opened.handle.valid()) {
            // A drive, share or volume that cannot be opened may hold anything.
            result.status = failure(
                opened.status == STATUS_SHARING_VIOLATION ? FileOutcome::busy : FileOutcome::failed,
                "NtCreateFile", opened.status, shown);
            return result;
        }
        auto folder = std::make_unique<Win32Folder>(std::move(opened.handle), shown, elevated());
        if (elevated() && folder->placed().place() == nullptr) {
            result.status =
                failure(FileOutcome::failed, "NtQueryObject", STATUS_OBJECT_NAME_INVALID, shown);
            return result;
        }
        result.object = std::move(folder);
        return result;
    }

    void pause(std::chrono::milliseconds wait) override {
        ntCalls().sleep(static_cast<DWORD>(wait.count()));
    }
};

}  // namespace

std::unique_ptr<FileSystem> platformFileSystem(bool elevated) {
    return std::make_unique<Win32FileSystem>(elevated);
}
