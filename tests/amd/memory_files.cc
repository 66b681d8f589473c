#include "tests/amd/memory_files.h"

namespace {

class MemoryFile : public WritableFile {
  public:
    MemoryFile(MemoryFiles& owner, Path path) : owner_(owner), path_(std::move(path)) {}
    bool write(std::string_view text) override {
        text_.append(text);
        return true;
    }
    bool flush() override { return true; }
    bool close() override {
        owner_.files[path_] = text_;
        return true;
    }

  private:
    MemoryFiles& owner_;
    Path path_;
    std::string text_;
};

}  // namespace

PathState MemoryFiles::query(const Path& path) {
    if (queryUnknown) {
        return PathState::unknown;
    }
    return has(path) ? PathState::present : PathState::absent;
}

ReadOutcome MemoryFiles::readAll(const Path& path, std::string& bytes, size_t limit) {
    if (!has(path)) {
        return ReadOutcome::absent;
    }
    if (readFails || files[path].size() > limit) {
        return ReadOutcome::failed;
    }
    bytes = files[path];
    return ReadOutcome::ok;
}

std::unique_ptr<WritableFile> MemoryFiles::createNew(const Path& path) {
    if (writeFails || has(path)) {
        return nullptr;
    }
    if (failingOpens > 0) {
        --failingOpens;
        return nullptr;
    }
    return std::make_unique<MemoryFile>(*this, path);
}

FileStatus MemoryFiles::replace(const Path& from, const Path& to) {
    auto found = files.find(from);
    if (found == files.end()) {
        return FileStatus::failed;
    }
    files[to] = found->second;
    files.erase(from);
    ++saves;
    if (log != nullptr) {
        log->push_back("save " + files[to]);
    }
    return FileStatus::ok;
}

FileStatus MemoryFiles::removeFile(const Path& path) {
    files.erase(path);
    if (log != nullptr) {
        log->push_back("remove");
    }
    return FileStatus::ok;
}
