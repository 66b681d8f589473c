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

PathState FakeFileSystem::query(const Path& path) {
    log.push_back("query " + narrowForTest(path));
    Notify notify(*this);
    if (unknownPaths.count(path) != 0 || shouldFail("query")) {
        return PathState::unknown;
    }
    return files.count(path) != 0 || directories.count(path) != 0 ? PathState::present
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

ReadOutcome FakeFileSystem::readAll(const Path& path, std::string& bytes) {
    log.push_back("read " + narrowForTest(path));
    Notify notify(*this);
    if (unreadablePaths.count(path) != 0 || directories.count(path) != 0 || shouldFail("read")) {
        return ReadOutcome::failed;
    }
    auto it = files.find(path);
    if (it == files.end()) {
        return ReadOutcome::absent;
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

std::unique_ptr<WritableFile> FakeFileSystem::openForWrite(const Path& path) {
    log.push_back("open " + narrowForTest(path));
    Notify notify(*this);
    if (shouldFail("open") || directories.count(path) != 0) {
        return nullptr;
    }
    if (openNeedsDirectory && directories.count(parentDirectory(path)) == 0) {
        return nullptr;
    }
    auto it = files.find(path);
    if (it != files.end() && it->second.readOnly) {
        return nullptr;
    }
    files[path].bytes.clear();
    return std::make_unique<FakeWritableFile>(*this, path);
}

bool FakeFileSystem::replace(const Path& from, const Path& to) {
    log.push_back("replace " + narrowForTest(from) + " " + narrowForTest(to));
    Notify notify(*this);
    if (shouldFail("replace") || files.count(from) == 0 || directories.count(to) != 0) {
        return false;
    }
    auto target = files.find(to);
    if (target != files.end() && target->second.readOnly && replaceRefusesReadOnly) {
        return false;
    }
    files[to] = files[from];
    files[to].readOnly = false;
    files.erase(from);
    return true;
}

bool FakeFileSystem::clearReadOnly(const Path& path) {
    log.push_back("clear-readonly " + narrowForTest(path));
    Notify notify(*this);
    auto it = files.find(path);
    if (shouldFail("clear-readonly") || it == files.end() || !it->second.readOnly) {
        return false;
    }
    it->second.readOnly = false;
    return true;
}

bool FakeFileSystem::removeFile(const Path& path) {
    log.push_back("remove " + narrowForTest(path));
    Notify notify(*this);
    if (shouldFail("remove")) {
        return false;
    }
    files.erase(path);
    return true;
}
