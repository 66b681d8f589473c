#include "tests/support/fake_file_system.h"

#include <type_traits>
#include <vector>

#include "store/backup_path.h"
#include "store/system_codes.h"

std::string narrowForTest(const Path& path) {
    std::string out;
    for (wchar_t c : path) {
        out += c < 0x80 ? static_cast<char>(c) : '?';
    }
    return out;
}

namespace {

Path join(const Path& folder, const Path& name) {
    return !folder.empty() && folder.back() == L'\\' ? folder + name : folder + L"\\" + name;
}

/// The fake's spelling of a root: its shown form, the drive letter upper case, since
/// drive letters are one whatever their case.
Path fakeRoot(const Root& root) {
    Path shown = shownRoot(root);
    if (shown.size() >= 2 && shown[1] == L':' && shown[0] >= L'a' && shown[0] <= L'z') {
        shown[0] = static_cast<wchar_t>(shown[0] - 32);
    }
    return shown;
}

/// Whether any key of `names` lies inside the folder `path`.
template <typename Names>
bool holdsBelow(const Names& names, const Path& path) {
    const Path prefix = join(path, L"");
    auto it = names.lower_bound(prefix);
    if (it == names.end()) {
        return false;
    }
    const Path& name = [](const auto& entry) -> const Path& {
        if constexpr (std::is_same_v<std::decay_t<decltype(entry)>, Path>) {
            return entry;
        } else {
            return entry.first;
        }
    }(*it);
    return name.compare(0, prefix.size(), prefix) == 0;
}

FileStatus failed(std::string_view call, int64_t status, const Path& path) {
    return fileFailure(FileOutcome::failed, call, ntCode(status), path);
}

FileStatus busy(std::string_view call, const Path& path) {
    return fileFailure(FileOutcome::busy, call, ntCode(ntstatus::kSharingViolation), path);
}

/// A failure planted by a test: what a failing disk or driver answers.
FileStatus planted(std::string_view call, const Path& path) {
    return failed(call, ntstatus::kIoDeviceError, path);
}

class FakeFolder : public Folder {
  public:
    FakeFolder(FakeFileSystem& fs, Path path, bool made = false)
        : fs_(fs), path_(std::move(path)), made_(made) {}

    Opened<Folder> openFolder(const Name& name) override { return open(name, nullptr); }
    Opened<Folder> makeFolder(const Name& name, bool& made) override { return open(name, &made); }
    FileStatus removeIfEmpty() override;
    Name nameOnDisk(const Name& name) override { return name; }
    Path shown(const Name& name) const override { return join(path_, name.text()); }
    /// The folder's path and the names below it, ASCII letters upper-cased.
    LockKey placeKey(const std::vector<Name>& below) override;
    NameInfo inspect(const Name& name) override;
    FileStatus readAll(const Name& name, std::string& bytes, size_t limit) override;
    Opened<WritableFile> createNew(const Name& name) override;
    FileStatus removeFile(const Name& name) override;

    const Path& path() const { return path_; }
    FakeFileSystem& fs() { return fs_; }

  private:
    Opened<Folder> open(const Name& name, bool* made);

    FakeFileSystem& fs_;
    Path path_;
    bool made_;
};

class FakeWritableFile : public WritableFile {
  public:
    FakeWritableFile(FakeFolder& folder, Path path) : folder_(folder), path_(std::move(path)) {}
    FileStatus write(std::string_view text) override;
    FileStatus flush() override;
    FileStatus verify() override;
    FileStatus replace(const Name& to) override;
    FileStatus discard() override;
    FileStatus close() override;

  private:
    void append(std::string_view text);
    /// One rename attempt onto `to`: false when the fake refuses it.
    bool renameOnto(const Path& to, FileStatus& status);

    FakeFolder& folder_;
    Path path_;
    bool renamed_ = false;
};

Opened<Folder> opened(FakeFileSystem& fs, const Path& path, bool made = false) {
    return Opened<Folder>{std::make_unique<FakeFolder>(fs, path, made), fileOk()};
}

Opened<Folder> notOpened(FileStatus status) {
    return Opened<Folder>{nullptr, std::move(status)};
}

}  // namespace

FakeFileSystem::Step::Step(FakeFileSystem& fs, const std::string& op, const Path& path)
    : Step(fs, op + " " + narrowForTest(path)) {}

FakeFileSystem::Step::Step(FakeFileSystem& fs, const std::string& entry) : fs_(fs) {
    fs_.log.push_back(entry);
}

FakeFileSystem::Step::~Step() {
    if (fs_.observer) {
        fs_.observer(fs_.log.back());
    }
}

bool FakeFileSystem::shouldFail(const std::string& op) {
    const int call = ++calls_[op];
    auto it = failures_.find(op);
    return it != failures_.end() && (it->second == 0 || it->second == call);
}

bool FakeFileSystem::isBusy(const std::string& op) {
    auto it = busy_.find(op);
    if (it == busy_.end() || it->second == 0) {
        return false;
    }
    --it->second;
    return true;
}

bool FakeFileSystem::refuses(const Path& path) const {
    if (!elevated()) {
        return false;
    }
    auto file = files.find(path);
    return links.count(path) != 0 || (file != files.end() && file->second.names > 1);
}

bool FakeFileSystem::folderAt(const Path& path) const {
    return directories.count(path) != 0 || links.count(path) != 0 || holdsBelow(files, path) ||
           holdsBelow(directories, path);
}

Path FakeFileSystem::fullPath(const Path& path) {
    Path text = path;
    for (wchar_t& c : text) {
        c = c == L'/' ? L'\\' : c;
    }
    const bool absolute = (text.size() >= 2 && text[1] == L':') || text.rfind(L"\\\\", 0) == 0;
    if (!absolute) {
        text = join(workingFolder, text);
    }
    // The root ("C:" or "\\server\share") stays; "." and ".." act on the names after it.
    const size_t rootEnd =
        text.rfind(L"\\\\", 0) == 0 ? text.find(L'\\', text.find(L'\\', 2) + 1) : 2;
    std::vector<Path> names;
    for (size_t at = rootEnd; at != Path::npos && at < text.size();) {
        const size_t end = text.find(L'\\', at + 1);
        const Path name = text.substr(at + 1, end == Path::npos ? Path::npos : end - at - 1);
        if (name == L"..") {
            if (!names.empty()) {
                names.pop_back();
            }
        } else if (!name.empty() && name != L".") {
            names.push_back(name);
        }
        at = end;
    }
    // As the system normalizes: a name on the way loses one trailing dot, the last name
    // (unless a separator follows it) every trailing dot and space.
    const bool folderLast = !text.empty() && text.back() == L'\\';
    for (size_t i = 0; i < names.size(); ++i) {
        Path& name = names[i];
        if (i + 1 == names.size() && !folderLast) {
            name.erase(name.find_last_not_of(L". ") + 1);
        } else if (name.back() == L'.') {
            name.pop_back();
        }
    }
    Path full = text.substr(0, rootEnd);
    for (const Path& name : names) {
        full += L"\\" + name;
    }
    return folderLast ? full + L"\\" : full;
}

Opened<Folder> FakeFileSystem::openRoot(const Root& root) {
    const Path path = fakeRoot(root);
    Step step(*this, "root", path);
    if (unknownPaths.count(path) != 0) {
        return notOpened(failed("NtCreateFile", ntstatus::kBadNetworkPath, path));
    }
    if (shouldFail("root")) {
        return notOpened(planted("NtCreateFile", path));
    }
    return opened(*this, path);
}

void FakeFileSystem::pause(std::chrono::milliseconds wait) {
    log.push_back("pause " + std::to_string(wait.count()));
}

Opened<Folder> FakeFolder::open(const Name& name, bool* made) {
    const Path path = shown(name);
    const std::string op = made != nullptr ? "mkdir" : "folder";
    FakeFileSystem::Step step(fs_, op, path);
    if (fs_.unknownPaths.count(path) != 0) {
        return notOpened(failed("NtCreateFile", ntstatus::kAccessDenied, path));
    }
    if (fs_.shouldFail(op)) {
        return notOpened(planted("NtCreateFile", path));
    }
    if (fs_.elevated() && fs_.links.count(path) != 0) {
        return notOpened(failed("NtQueryObject", ntstatus::kReparsePointEncountered, path));
    }
    if (fs_.elevated() && fs_.unholdable.count(path) != 0) {
        return notOpened(busy("NtCreateFile", path));
    }
    if (made != nullptr) {
        *made = false;
    }
    if (fs_.folderAt(path)) {
        return opened(fs_, path);
    }
    if (fs_.files.count(path) != 0) {
        // A file where a folder should be: nothing of that name to go through, and nothing
        // can be made there.
        return notOpened(fileFailure(made != nullptr ? FileOutcome::failed : FileOutcome::absent,
                                     "NtCreateFile", ntCode(ntstatus::kNotADirectory), path));
    }
    if (made == nullptr) {
        return notOpened(fileFailure(FileOutcome::absent, "NtCreateFile",
                                     ntCode(ntstatus::kObjectNameNotFound), path));
    }
    fs_.directories.insert(path);
    *made = true;
    return opened(fs_, path, true);
}

FileStatus FakeFolder::removeIfEmpty() {
    FakeFileSystem::Step step(fs_, "rmdir", path_);
    if (!made_ || fs_.shouldFail("rmdir")) {
        return planted("NtSetInformationFile", path_);
    }
    if (holdsBelow(fs_.files, path_) || holdsBelow(fs_.directories, path_)) {
        return failed("NtSetInformationFile", ntstatus::kDirectoryNotEmpty, path_);
    }
    fs_.directories.erase(path_);
    return fileOk();
}

LockKey FakeFolder::placeKey(const std::vector<Name>& below) {
    Path key = path_;
    for (const Name& name : below) {
        key = join(key, name.text());
    }
    for (wchar_t& c : key) {
        c = c >= L'a' && c <= L'z' ? static_cast<wchar_t>(c - L'a' + L'A') : c;
    }
    return LockKey(key);
}

NameInfo FakeFolder::inspect(const Name& name) {
    const Path path = shown(name);
    FakeFileSystem::Step step(fs_, "inspect", path);
    NameInfo info;
    if (fs_.unknownPaths.count(path) != 0 || fs_.shouldFail("inspect")) {
        info.state = PathState::unknown;
        info.why = failed("NtCreateFile", ntstatus::kAccessDenied, path);
        return info;
    }
    if (fs_.links.count(path) != 0) {
        info.state = PathState::present;
        info.link = true;
        return info;
    }
    auto file = fs_.files.find(path);
    if (file != fs_.files.end()) {
        info.state = PathState::present;
        info.names = file->second.names;
        return info;
    }
    info.state = fs_.directories.count(path) != 0 ? PathState::present : PathState::absent;
    return info;
}

FileStatus FakeFolder::readAll(const Name& name, std::string& bytes, size_t limit) {
    const Path path = shown(name);
    FakeFileSystem::Step step(fs_, "read", path);
    if (fs_.isBusy("read")) {
        return busy("NtCreateFile", path);
    }
    if (fs_.unreadablePaths.count(path) != 0) {
        return failed("NtCreateFile", ntstatus::kAccessDenied, path);
    }
    if (fs_.directories.count(path) != 0) {
        return failed("NtQueryInformationFile", ntstatus::kFileIsADirectory, path);
    }
    if (fs_.refuses(path)) {
        return failed("NtQueryObject", ntstatus::kReparsePointEncountered, path);
    }
    if (fs_.shouldFail("read")) {
        return planted("NtReadFile", path);
    }
    auto it = fs_.files.find(path);
    if (it == fs_.files.end()) {
        return fileFailure(FileOutcome::absent, "NtCreateFile",
                           ntCode(ntstatus::kObjectNameNotFound), path);
    }
    if (it->second.bytes.size() > limit) {
        return failed("NtQueryInformationFile", ntstatus::kFileTooLarge, path);
    }
    bytes = it->second.bytes;
    return fileOk();
}

Opened<WritableFile> FakeFolder::createNew(const Name& name) {
    const Path path = shown(name);
    FakeFileSystem::Step step(fs_, "open", path);
    Opened<WritableFile> result;
    if (fs_.shouldFail("open")) {
        result.status = planted("NtCreateFile", path);
        return result;
    }
    if (fs_.directories.count(path) != 0 || fs_.files.count(path) != 0 ||
        fs_.links.count(path) != 0) {
        result.status = failed("NtCreateFile", ntstatus::kObjectNameCollision, path);
        return result;
    }
    fs_.files[path].bytes.clear();
    result.object = std::make_unique<FakeWritableFile>(*this, path);
    return result;
}

FileStatus FakeFolder::removeFile(const Name& name) {
    const Path path = shown(name);
    FakeFileSystem::Step step(fs_, "remove", path);
    if (fs_.isBusy("remove")) {
        return busy("NtSetInformationFile", path);
    }
    if (fs_.shouldFail("remove")) {
        return planted("NtSetInformationFile", path);
    }
    if (fs_.refuses(path)) {
        return failed("NtQueryObject", ntstatus::kReparsePointEncountered, path);
    }
    fs_.files.erase(path);
    fs_.links.erase(path);
    return fileOk();
}

void FakeWritableFile::append(std::string_view text) {
    std::string& bytes = folder_.fs().files[path_].bytes;
    for (char c : text) {
        if (c == '\n' && folder_.fs().crlf) {
            bytes += '\r';
        }
        bytes += c;
    }
}

FileStatus FakeWritableFile::write(std::string_view text) {
    FakeFileSystem& fs = folder_.fs();
    FakeFileSystem::Step step(fs, "write", path_);
    if (fs.shouldFail("write")) {
        if (fs.writeFailure == FakeFileSystem::WriteFailure::cutShort) {
            append(text.substr(0, text.size() / 2));
        }
        return failed("NtWriteFile", ntstatus::kDiskFull, path_);
    }
    append(text);
    return fileOk();
}

FileStatus FakeWritableFile::flush() {
    FakeFileSystem::Step step(folder_.fs(), "flush", path_);
    return folder_.fs().shouldFail("flush") ? planted("NtFlushBuffersFile", path_) : fileOk();
}

FileStatus FakeWritableFile::verify() {
    FakeFileSystem& fs = folder_.fs();
    FakeFileSystem::Step step(fs, "check", path_);
    if (fs.shouldFail("check")) {
        return planted("NtQueryInformationFile", path_);
    }
    // What the handle would show once someone swapped the name: no name left, a second
    // one, or a link in its place.
    auto file = fs.files.find(path_);
    if (file == fs.files.end()) {
        return failed("NtQueryInformationFile", ntstatus::kFileDeleted, path_);
    }
    if (file->second.names != 1) {
        return failed("NtQueryInformationFile", ntstatus::kTooManyLinks, path_);
    }
    if (fs.links.count(path_) != 0) {
        return failed("NtQueryObject", ntstatus::kReparsePointEncountered, path_);
    }
    return fileOk();
}

bool FakeWritableFile::renameOnto(const Path& to, FileStatus& status) {
    FakeFileSystem& fs = folder_.fs();
    FakeFileSystem::Step step(fs, "replace " + narrowForTest(path_) + " " + narrowForTest(to));
    if (fs.isBusy("replace")) {
        status = busy("NtSetInformationFile", to);
        return false;
    }
    if (fs.shouldFail("replace") || fs.files.count(path_) == 0) {
        status = planted("NtSetInformationFile", to);
        return false;
    }
    auto target = fs.files.find(to);
    if (fs.directories.count(to) != 0 ||
        (target != fs.files.end() && target->second.readOnly && fs.replaceRefusesReadOnly)) {
        status = failed("NtSetInformationFile", ntstatus::kAccessDenied, to);
        return false;
    }
    fs.links.erase(to);  // a rename replaces the name, link or not
    fs.files[to] = fs.files[path_];
    fs.files[to].readOnly = false;
    fs.files.erase(path_);
    path_ = to;
    renamed_ = true;
    status = fileOk();
    return true;
}

FileStatus FakeWritableFile::replace(const Name& toName) {
    FakeFileSystem& fs = folder_.fs();
    const Path to = join(folder_.path(), toName.text());
    FileStatus status;
    if (renamed_ && path_ == to) {
        // tried again after the folder was busy: only the flush is left
    } else if (!renameOnto(to, status)) {
        auto target = fs.files.find(to);
        const bool readOnly = status.code == ntCode(ntstatus::kAccessDenied) &&
                              target != fs.files.end() && target->second.readOnly;
        if (!readOnly) {
            return status;
        }
        {
            FakeFileSystem::Step step(fs, "clear-readonly", to);
            if (fs.shouldFail("clear-readonly") || fs.refuses(to)) {
                return status;
            }
            target->second.readOnly = false;
        }
        if (!renameOnto(to, status)) {
            FakeFileSystem::Step step(fs, "set-readonly", to);
            if (!fs.shouldFail("set-readonly") && fs.files.count(to) != 0 && !fs.refuses(to)) {
                fs.files[to].readOnly = true;
            }
            return status;
        }
    }
    FakeFileSystem::Step step(fs, "flush-folder", folder_.path());
    if (fs.isBusy("flush-folder")) {
        return busy("NtCreateFile", folder_.path());
    }
    return fs.shouldFail("flush-folder") ? planted("NtFlushBuffersFile", folder_.path()) : fileOk();
}

FileStatus FakeWritableFile::discard() {
    if (renamed_) {
        return fileOk();
    }
    FakeFileSystem& fs = folder_.fs();
    FakeFileSystem::Step step(fs, "discard", path_);
    if (fs.shouldFail("discard")) {
        return planted("NtSetInformationFile", path_);
    }
    fs.files.erase(path_);
    return fileOk();
}

FileStatus FakeWritableFile::close() {
    FakeFileSystem::Step step(folder_.fs(), "close", path_);
    return folder_.fs().shouldFail("close") ? planted("NtClose", path_) : fileOk();
}
