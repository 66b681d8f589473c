#include "tests/support/fake_file_system.h"

#include "common/backup_path.h"

std::string narrowForTest(const Path& path) {
    std::string out;
    for (wchar_t c : path) {
        out += c < 0x80 ? static_cast<char>(c) : '?';
    }
    return out;
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
    if (!runsElevated) {
        return false;
    }
    auto file = files.find(path);
    if (file != files.end() && file->second.names > 1) {
        return true;
    }
    for (Path name = path;; name = parentDirectory(name)) {
        if (links.count(name) != 0) {
            return true;
        }
        if (parentDirectory(name) == name || parentDirectory(name).empty()) {
            return false;
        }
    }
}

NameInfo FakeFileSystem::inspect(const Path& path) {
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

PathState FakeFileSystem::query(const Path& path) {
    log.push_back("query " + narrowForTest(path));
    Notify notify(*this);
    if (unknownPaths.count(path) != 0 || shouldFail("query")) {
        return PathState::unknown;
    }
    return files.count(path) != 0 || directories.count(path) != 0 || links.count(path) != 0
               ? PathState::present
               : PathState::absent;
}

bool FakeFileSystem::makeDirectories(const Path& dir) {
    log.push_back("mkdir " + narrowForTest(dir));
    Notify notify(*this);
    if (dir.empty() || shouldFail("mkdir")) {
        return false;
    }
    directories.insert(dir);
    return true;
}

ReadOutcome FakeFileSystem::readAll(const Path& path, std::string& bytes, size_t limit) {
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

std::unique_ptr<WritableFile> FakeFileSystem::createNew(const Path& path) {
    log.push_back("open " + narrowForTest(path));
    Notify notify(*this);
    if (shouldFail("open") || directories.count(path) != 0 || files.count(path) != 0 ||
        links.count(path) != 0 || refuses(path)) {
        return nullptr;
    }
    if (openNeedsDirectory && directories.count(parentDirectory(path)) == 0) {
        return nullptr;
    }
    files[path].bytes.clear();
    return std::make_unique<FakeWritableFile>(*this, path);
}

FileStatus FakeFileSystem::replace(const Path& from, const Path& to) {
    log.push_back("replace " + narrowForTest(from) + " " + narrowForTest(to));
    Notify notify(*this);
    if (isBusy("replace")) {
        return FileStatus::busy;
    }
    if (shouldFail("replace") || files.count(from) == 0 || directories.count(to) != 0 ||
        refuses(from) || parentDirectory(from) != parentDirectory(to)) {
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

bool FakeFileSystem::clearReadOnly(const Path& path) {
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

FileStatus FakeFileSystem::removeFile(const Path& path) {
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
