// What of the fake file system's work has reached the disk under one persistence model, and
// every state a power cut could leave there at a given moment.
//
// The record sits beside the fake and takes in each operation as the fake logs it. It
// keeps files by identity: a name points at a file, and a rename moves the file to another
// name, never a copy of it. A file's data reach the disk only when it is flushed; until
// then a cut may leave none of them, all, a part cut at a line or sector boundary, or some
// sectors written and the others zeros. Changes of names (a file made, renamed or deleted,
// a folder made or taken back, a read-only mark set or cleared) are journaled in the order
// made, and a cut leaves a prefix of them on disk: at least every change that a flush has
// forced out, perhaps more.
#pragma once

#include <cstddef>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "tests/support/fake_file_system.h"

/// How the disk under the fake behaves.
struct DiskRules {
    /// Flushing a file also forces out every change of names made before it, as a flush of
    /// the journal does. When false only a flush of a folder does.
    bool fileFlushForcesNames = true;
    /// A rename over another file reaches the disk in three separate steps (the old
    /// file's name goes, the new name comes, the temporary name goes), as on FAT.
    bool replaceInSteps = false;
    /// Which flush of a folder fails and forces nothing out: the nth (from 1), 0 for every
    /// one, -1 for none.
    int failingFolderFlush = -1;
};

/// The files and folders a cut left.
struct DiskImage {
    std::map<Path, FakeFileSystem::Entry> files;
    std::set<Path> directories;
};

/// How a cut state came about.
struct CutDetail {
    size_t namesOnDisk = 0;  // changes of names that reached the disk
    size_t namesMade = 0;    // of those made
    std::string data;        // what of each file whose data were not flushed; empty if none
};

class DiskRecord {
  public:
    /// Starts from what `files` holds now, all of it on disk.
    DiskRecord(const FakeFileSystem& files, DiskRules rules);

    /// Takes in the operation the fake has just carried out, by its entry in the log. False
    /// when the record cannot follow it: see `problem`.
    bool onOperation(const std::string& entry);

    /// Calls `each` with every state a cut now could leave on disk.
    void cutStates(const std::function<void(const DiskImage&, const CutDetail&)>& each) const;

    /// Changes whenever a cut now could leave a state it could not before.
    size_t version() const { return version_; }
    const std::string& problem() const { return problem_; }

  private:
    struct Names {
        std::map<Path, size_t> files;  // name -> file
        std::set<Path> folders;
        std::map<size_t, bool> readOnly;  // file -> mark
    };
    struct Change {
        enum class Kind { link, unlink, move, makeFolder, removeFolder, mark };
        Kind kind;
        Path name;
        Path to;  // of a move
        size_t file;
        bool readOnly;
    };
    struct Data {
        std::string written;
        std::string flushed;
    };

    static void apply(Names& names, const Change& change);
    void record(Change change);
    void forceNames();
    bool follow(const std::string& op, const Path& path, const Path& to);
    bool matchesFake();
    void emit(const Names& names, size_t onDisk,
              const std::function<void(const DiskImage&, const CutDetail&)>& each) const;

    const FakeFileSystem& fs_;
    DiskRules rules_;
    Names live_;    // after every change
    Names forced_;  // after the changes forced out
    size_t forcedCount_ = 0;
    std::vector<Change> changes_;
    std::vector<Data> data_;  // by file
    size_t version_ = 0;
    int folderFlushes_ = 0;
    std::string problem_;
};

/// What a cut may leave of a file whose last flush left `flushed` and whose writes since
/// made it `written`, each with a few words on how: none of the new data, all of them, the
/// file cut at every line end and sector boundary, and every mix of sectors written and
/// not. No two alike.
std::vector<std::pair<std::string, std::string>> unflushedVariants(const std::string& flushed,
                                                                   const std::string& written);
