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

    PathState query(const Path& path) override;
    bool makeDirectories(const Path&) override { return true; }
    ReadOutcome readAll(const Path& path, std::string& bytes) override;
    std::unique_ptr<WritableFile> openForWrite(const Path& path) override;
    bool replace(const Path& from, const Path& to) override;
    bool clearReadOnly(const Path&) override { return false; }
    bool removeFile(const Path& path) override;

    bool has(const Path& path) const { return files.count(path) != 0; }
};
