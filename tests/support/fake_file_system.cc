#include "tests/support/fake_file_system.h"

#include <type_traits>
#include <vector>

std::string narrowForTest(const Path& path) {
    std::string out;
    for (wchar_t c : path) {
        out += c < 0x80 ? static_cast<char>(c) : '?';
    }
    return out;
}

namespace {

/// A folder of the fake: its whole path.
class FakeFolder : public Folder {
  public:
    explicit FakeFolder(Path path) : path(std::move(path)) {}
    Path path;
};

const Path& pathOf(Folder& folder) {
    return static_cast<FakeFolder&>(folder).path;
}

Path join(const Path& folder, const Path& name) {
    return !folder.empty() && folder.back() == L'\\' ? folder + name : folder + L"\\" + name;
}

/// The fake's spelling of a root in the system's form: "\??\C:\" is "C:\",
/// "\??\UNC\srv\share\" is "\\srv\share\", any other "\??\x" is "\\?\x".
Path fakeRoot(const Path& root) {
    const Path system = L"\\??\\";
    if (root.compare(0, system.size(), system) != 0) {
        return root;
    }
    const Path rest = root.substr(system.size());
    if (rest.compare(0, 4, L"UNC\\") == 0) {
        return L"\\\\" + rest.substr(4);
    }
    if (rest.size() >= 2 && rest[1] == L':') {
        Path drive = rest;  // drive letters are one whatever their case
        drive[0] =
            drive[0] >= L'a' && drive[0] <= L'z' ? static_cast<wchar_t>(drive[0] - 32) : drive[0];
        return drive;
    }
    return L"\\\\?\\" + rest;
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

OpenedFolder opened(const Path& path) {
    return OpenedFolder{PathState::present, std::make_unique<FakeFolder>(path)};
}

}  // namespace

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
    if (!runsElevated) {
        return false;
    }
    auto file = files.find(path);
    return links.count(path) != 0 || (file != files.end() && file->second.names > 1);
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
    Path full = text.substr(0, rootEnd);
    for (const Path& name : names) {
        full += L"\\" + name;
    }
    return full;
}

OpenedFolder FakeFileSystem::openRoot(const Path& root) {
    const Path path = fakeRoot(root);
    log.push_back("root " + narrowForTest(path));
    Notify notify(*this);
    if (unknownPaths.count(path) != 0 || shouldFail("root")) {
        return OpenedFolder{};
    }
    return opened(path);
}

OpenedFolder FakeFileSystem::openFolder(Folder& parent, const Path& name, bool create) {
    const Path path = join(pathOf(parent), name);
    const std::string op = create ? "mkdir" : "folder";
    log.push_back(op + " " + narrowForTest(path));
    Notify notify(*this);
    if (unknownPaths.count(path) != 0 || shouldFail(op) ||
        (runsElevated && (links.count(path) != 0 || unholdable.count(path) != 0))) {
        return OpenedFolder{};
    }
    // A folder stands where one was made or where anything lies inside it.
    if (directories.count(path) != 0 || links.count(path) != 0 || holdsBelow(files, path) ||
        holdsBelow(directories, path)) {
        return opened(path);
    }
    if (files.count(path) != 0) {
        // A file where a folder should be: nothing of that name to go through, and nothing
        // can be made there.
        return OpenedFolder{create ? PathState::unknown : PathState::absent, nullptr};
    }
    if (!create) {
        return OpenedFolder{PathState::absent, nullptr};
    }
    directories.insert(path);
    return opened(path);
}

Path FakeFileSystem::placeKey(Folder& folder, const std::vector<Path>& below) {
    Path key = pathOf(folder);
    for (const Path& name : below) {
        key = join(key, name);
    }
    for (wchar_t& c : key) {
        c = c >= L'a' && c <= L'z' ? static_cast<wchar_t>(c - L'a' + L'A') : c;
    }
    return key;
}

NameInfo FakeFileSystem::inspect(Folder& folder, const Path& name) {
    const Path path = join(pathOf(folder), name);
    log.push_back("inspect " + narrowForTest(path));
    Notify notify(*this);
    if (unknownPaths.count(path) != 0 || shouldFail("inspect")) {
        return NameInfo{PathState::unknown};
    }
    if (links.count(path) != 0) {
        return NameInfo{PathState::present, true};
    }
    auto file = files.find(path);
    if (file != files.end()) {
        return NameInfo{PathState::present, false, file->second.names};
    }
    return NameInfo{directories.count(path) != 0 ? PathState::present : PathState::absent};
}

void FakeFileSystem::pause(std::chrono::milliseconds wait) {
    log.push_back("pause " + std::to_string(wait.count()));
}

ReadOutcome FakeFileSystem::readAll(Folder& folder, const Path& name, std::string& bytes,
                                    size_t limit) {
    const Path path = join(pathOf(folder), name);
    log.push_back("read " + narrowForTest(path));
    Notify notify(*this);
    if (isBusy("read")) {
        return ReadOutcome::busy;
    }
    if (unreadablePaths.count(path) != 0 || directories.count(path) != 0 || refuses(path) ||
        shouldFail("read")) {
        return ReadOutcome::failed;
    }
    auto it = files.find(path);
    if (it == files.end()) {
        return ReadOutcome::absent;
    }
    if (it->second.bytes.size() > limit) {
        return ReadOutcome::failed;
    }
    bytes = it->second.bytes;
    return ReadOutcome::ok;
}

class FakeWritableFile : public WritableFile {
  public:
    FakeWritableFile(FakeFileSystem& fs, Path path) : fs_(fs), path_(std::move(path)) {}
    bool write(std::string_view text) override {
        fs_.log.push_back("write " + narrowForTest(path_));
        FakeFileSystem::Notify notify(fs_);
        if (fs_.shouldFail("write")) {
            if (fs_.writeFailure == FakeFileSystem::WriteFailure::cutShort) {
                append(text.substr(0, text.size() / 2));
            }
            return false;
        }
        append(text);
        return true;
    }
    bool flush() override {
        fs_.log.push_back("flush " + narrowForTest(path_));
        FakeFileSystem::Notify notify(fs_);
        return !fs_.shouldFail("flush");
    }
    bool close() override {
        fs_.log.push_back("close " + narrowForTest(path_));
        FakeFileSystem::Notify notify(fs_);
        return !fs_.shouldFail("close");
    }
    const Path& path() const { return path_; }

  private:
    void append(std::string_view text) {
        std::string& bytes = fs_.files[path_].bytes;
        for (char c : text) {
            if (c == '\n' && fs_.crlf) {
                bytes += '\r';
            }
            bytes += c;
        }
    }
    FakeFileSystem& fs_;
    Path path_;
};

std::unique_ptr<WritableFile> FakeFileSystem::createNew(Folder& folder, const Path& name) {
    const Path path = join(pathOf(folder), name);
    log.push_back("open " + narrowForTest(path));
    Notify notify(*this);
    if (shouldFail("open") || directories.count(path) != 0 || files.count(path) != 0 ||
        links.count(path) != 0) {
        return nullptr;
    }
    files[path].bytes.clear();
    return std::make_unique<FakeWritableFile>(*this, path);
}

FileStatus FakeFileSystem::replace(Folder& folder, WritableFile& written, const Path& toName) {
    const Path from = static_cast<FakeWritableFile&>(written).path();
    const Path to = join(pathOf(folder), toName);
    log.push_back("replace " + narrowForTest(from) + " " + narrowForTest(to));
    Notify notify(*this);
    if (isBusy("replace")) {
        return FileStatus::busy;
    }
    if (shouldFail("replace") || files.count(from) == 0 || directories.count(to) != 0 ||
        refuses(from)) {
        return FileStatus::failed;
    }
    auto target = files.find(to);
    if (target != files.end() && target->second.readOnly && replaceRefusesReadOnly) {
        return FileStatus::failed;
    }
    links.erase(to);  // a rename replaces the name, link or not
    files[to] = files[from];
    files[to].readOnly = false;
    files.erase(from);
    return FileStatus::ok;
}

bool FakeFileSystem::clearReadOnly(Folder& folder, const Path& name) {
    const Path path = join(pathOf(folder), name);
    log.push_back("clear-readonly " + narrowForTest(path));
    Notify notify(*this);
    auto it = files.find(path);
    if (shouldFail("clear-readonly") || it == files.end() || !it->second.readOnly ||
        refuses(path)) {
        return false;
    }
    it->second.readOnly = false;
    return true;
}

void FakeFileSystem::restoreReadOnly(Folder& folder, const Path& name) {
    const Path path = join(pathOf(folder), name);
    log.push_back("set-readonly " + narrowForTest(path));
    Notify notify(*this);
    auto it = files.find(path);
    if (!shouldFail("set-readonly") && it != files.end() && !refuses(path)) {
        it->second.readOnly = true;
    }
}

FileStatus FakeFileSystem::removeFile(Folder& folder, const Path& name) {
    const Path path = join(pathOf(folder), name);
    log.push_back("remove " + narrowForTest(path));
    Notify notify(*this);
    if (isBusy("remove")) {
        return FileStatus::busy;
    }
    if (shouldFail("remove") || refuses(path)) {
        return FileStatus::failed;
    }
    files.erase(path);
    links.erase(path);
    return FileStatus::ok;
}
