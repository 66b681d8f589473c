// The native file layer against a real temporary directory.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "common/backup_file.h"
#include "common/file_system.h"

namespace {

class PosixFileSystemTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/presets-fs-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir = pattern;
    }
    void TearDown() override { std::system(("rm -rf '" + dir + "'").c_str()); }

    Path wide(const std::string& name) const {
        std::string full = dir + "/" + name;
        return Path(full.begin(), full.end());
    }
    std::string contents(const std::string& name) const {
        std::ifstream in(dir + "/" + name, std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    bool exists(const std::string& name) const {
        struct stat st;
        return lstat((dir + "/" + name).c_str(), &st) == 0;
    }

    std::string dir;
    FileSystem& fs = platformFileSystem();
};

}  // namespace

TEST_F(PosixFileSystemTest, QueryTellsAbsentPresentAndUnknown) {
    EXPECT_EQ(fs.query(wide("none")), PathState::absent);
    EXPECT_EQ(fs.query(wide("none/deeper")), PathState::absent);
    std::ofstream(dir + "/file") << "x";
    EXPECT_EQ(fs.query(wide("file")), PathState::present);
    EXPECT_EQ(fs.query(wide("file/under")), PathState::absent) << "a file used as a directory";
    EXPECT_EQ(fs.query(Path(dir.begin(), dir.end())), PathState::present);
    ASSERT_EQ(symlink("loop-b", (dir + "/loop-a").c_str()), 0);
    ASSERT_EQ(symlink("loop-a", (dir + "/loop-b").c_str()), 0);
    EXPECT_EQ(fs.query(wide("loop-a")), PathState::present) << "the link itself is there";
    EXPECT_EQ(fs.query(wide("loop-a/x")), PathState::unknown);
}

TEST_F(PosixFileSystemTest, ReadTellsAbsentFromUnreadable) {
    std::string bytes;
    EXPECT_EQ(fs.readAll(wide("none"), bytes, kLargestBackup), ReadOutcome::absent);
    mkdir((dir + "/sub").c_str(), 0755);
    EXPECT_EQ(fs.readAll(wide("sub"), bytes, kLargestBackup), ReadOutcome::failed);
    std::ofstream(dir + "/f", std::ios::binary) << std::string("a\r\nb\0c", 6);
    EXPECT_EQ(fs.readAll(wide("f"), bytes, kLargestBackup), ReadOutcome::ok);
    EXPECT_EQ(bytes, std::string("a\r\nb\0c", 6));
}

TEST_F(PosixFileSystemTest, SaveThroughTheRealLayer) {
    BackupStore store(fs, "amd");
    const Path path = wide("a/b/c/backup.txt");
    ASSERT_TRUE(store.saveBackup(path, {{"gpu.7.chill", "1"}}));
    EXPECT_EQ(contents("a/b/c/backup.txt"), "format=1\nvendor=amd\ngpu.7.chill=1\n");
    EXPECT_FALSE(exists("a/b/c/backup.txt.tmp"));

    chmod((dir + "/a/b/c/backup.txt").c_str(), 0444);
    ASSERT_TRUE(store.saveBackup(path, {}));
    EXPECT_EQ(contents("a/b/c/backup.txt"), "format=1\nvendor=amd\n");

    mkdir((dir + "/taken").c_str(), 0755);
    EXPECT_FALSE(store.saveBackup(wide("taken"), {})) << "a directory stands at the path";
    EXPECT_FALSE(exists("taken.tmp"));
}

TEST_F(PosixFileSystemTest, ClearReadOnlyAndRemove) {
    std::ofstream(dir + "/f") << "x";
    EXPECT_FALSE(fs.clearReadOnly(wide("f"))) << "nothing to clear";
    chmod((dir + "/f").c_str(), 0444);
    EXPECT_TRUE(fs.clearReadOnly(wide("f")));
    chmod((dir + "/f").c_str(), 0444);
    EXPECT_EQ(fs.removeFile(wide("f")), FileStatus::ok);
    EXPECT_FALSE(exists("f"));
    EXPECT_EQ(fs.removeFile(wide("f")), FileStatus::ok) << "already gone is no error";
}
