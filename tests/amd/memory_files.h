// An in-memory file layer for the AMD tests: holds whole files by path, can be told to
// fail queries, reads or writes, and logs every file that takes a new name.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "common/file_system.h"

class MemoryFiles : public FileSystem {
  public:
    std::map<Path, std::string> files;
    bool queryUnknown = false;
    bool readFails = false;
    bool writeFails = false;
    int failingOpens = 0;  // this many next openings for write fail, then they work again
    std::vector<std::string>* log = nullptr;  // "save <bytes>", "remove"
    int saves = 0;

    bool elevated() override { return false; }
    Path fullPath(const Path& path) override { return path; }
    NameInfo inspect(const Path& path) override { return NameInfo{query(path)}; }
    PathState query(const Path& path) override;
    bool makeDirectories(const Path&) override { return true; }
    ReadOutcome readAll(const Path& path, std::string& bytes, size_t limit) override;
    std::unique_ptr<WritableFile> createNew(const Path& path) override;
    FileStatus replace(const Path& from, const Path& to) override;
    bool clearReadOnly(const Path&) override { return false; }
    FileStatus removeFile(const Path& path) override;
    void pause(std::chrono::milliseconds) override {}

    bool has(const Path& path) const { return files.count(path) != 0; }
};
