// The disk record's models: what a cut right after a save may leave under each, and what a
// cut may leave of a file whose data were never flushed.
#include "tests/file_faults/cut_disk.h"

#include <gtest/gtest.h>

namespace {

const Path kFolder = L"C:\\b";
const Path kBackup = L"C:\\b\\x";
const Path kTemporary = L"C:\\b\\x.tmp";
const std::string kAbsent = "-";
const std::string kZeros(4, '\0');

using Pair = std::pair<std::string, std::string>;  // the backup, the temporary file

struct SaveRow {
    const char* title;
    DiskRules rules;
    bool flushBeforeRename;
    bool folderFlushFails;
    std::set<Pair> afterSave;  // every state a cut right after the save could leave
};

const SaveRow kSaves[] = {
    {"NTFS, the protocol as it stands", {true, false}, true, false, {{"new\n", kAbsent}}},
    {"NTFS, the folder flush failing: the file flush forced out the temporary file's name",
     {true, false},
     true,
     true,
     {{"old\n", "new\n"}, {"new\n", kAbsent}}},
    {"NTFS, no flush before the rename: the name may hold nothing, or zeros",
     {true, false},
     false,
     false,
     {{"", kAbsent}, {kZeros, kAbsent}, {"new\n", kAbsent}}},
    {"a file flush forcing out no names, the folder flush failing",
     {false, false},
     true,
     true,
     {{"old\n", kAbsent}, {"old\n", "new\n"}, {"new\n", kAbsent}}},
    {"a file flush forcing out no names, the protocol as it stands",
     {false, false},
     true,
     false,
     {{"new\n", kAbsent}}},
    {"FAT, the folder flush failing: the old name goes before the new one comes",
     {true, true},
     true,
     true,
     {{"old\n", "new\n"}, {kAbsent, "new\n"}, {"new\n", "new\n"}, {"new\n", kAbsent}}},
};

std::string bytesAt(const DiskImage& image, const Path& name) {
    const auto file = image.files.find(name);
    return file == image.files.end() ? kAbsent : file->second.bytes;
}

TEST(CutDiskTest, WhatACutRightAfterASaveLeaves) {
    for (const SaveRow& row : kSaves) {
        SCOPED_TRACE(row.title);
        FakeFileSystem files;
        files.directories.insert(kFolder);
        files.files[kBackup].bytes = "old\n";
        if (row.folderFlushFails) {
            files.failOn("flush-folder");
        }
        DiskRules rules = row.rules;
        rules.failingFolderFlush = row.folderFlushFails ? 0 : -1;
        DiskRecord record(files, rules);
        files.observer = [&record](const std::string& entry) {
            EXPECT_TRUE(record.onOperation(entry)) << record.problem();
        };

        Opened<Folder> root = files.openRoot(Root(L"\\??\\C:\\"));
        Opened<Folder> folder = root.object->openFolder(Name(L"b"));
        Opened<WritableFile> file = folder.object->createNew(Name(L"x.tmp"));
        file.object->write("new\n");
        if (row.flushBeforeRename) {
            file.object->flush();
        }
        file.object->replace(Name(L"x"));
        file.object->close();

        std::set<Pair> left;
        record.cutStates([&left](const DiskImage& image, const CutDetail&) {
            left.emplace(bytesAt(image, kBackup), bytesAt(image, kTemporary));
        });
        EXPECT_EQ(left, row.afterSave);
    }
}

struct DataRow {
    const char* title;
    std::string flushed;
    std::string written;
    std::set<std::string> kept;
};

const DataRow kData[] = {
    {"two lines: none, one, both, or the size without the data",
     "",
     "a\nb\n",
     {"", "a\n", "a\nb\n", kZeros}},
    {"two sectors: cut at the sector too, and each torn sector alone",
     "",
     std::string(600, 'x'),
     {"", std::string(512, 'x'), std::string(600, 'x'), std::string(600, '\0'),
      std::string(512, 'x') + std::string(88, '\0'),
      std::string(512, '\0') + std::string(88, 'x')}},
};

TEST(CutDiskTest, WhatACutLeavesOfUnflushedData) {
    for (const DataRow& row : kData) {
        SCOPED_TRACE(row.title);
        std::set<std::string> kept;
        for (const auto& [bytes, how] : unflushedVariants(row.flushed, row.written)) {
            EXPECT_TRUE(kept.insert(bytes).second) << how;
        }
        EXPECT_EQ(kept, row.kept);
    }
}

}  // namespace
