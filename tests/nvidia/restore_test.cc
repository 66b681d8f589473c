#include "tests/nvidia/nvidia_fixture.h"

namespace {

const char kRestored[] =
    "result=ok;vendor=NVIDIA;supported=%d;changed=%d;message=Configuracoes NVIDIA originais "
    "restauradas";
const char kIncomplete[] =
    "result=error;vendor=NVIDIA;supported=%d;changed=%d;message=Restauracao NVIDIA incompleta; "
    "backup mantido";

std::string fmt(const char* pattern, int a, int b) {
    char text[256];
    std::snprintf(text, sizeof text, pattern, a, b);
    return text;
}

std::string backupWith(const std::string& entries) {
    return "format=1\r\nvendor=nvidia\r\n" + entries;
}

}  // namespace

TEST_F(NvidiaTest, NoBackupMeansNothingToDoAndNoDriver) {
    EXPECT_EQ(restore(), 0);
    EXPECT_EQ(line(),
              "result=nothing;vendor=NVIDIA;supported=0;changed=0;message=Nenhum backup NVIDIA "
              "para restaurar");
    EXPECT_EQ(driver.calls, std::vector<std::string>{"LINE"});
}

TEST_F(NvidiaTest, UnanswerableExistenceTouchesNothing) {
    files.directories.insert(L"C:\\b");
    files.unknownPaths.insert(kPath);
    EXPECT_EQ(restore(), 22);
    EXPECT_EQ(line(), fmt(kIncomplete, 0, 0));
    EXPECT_EQ(driver.calls, std::vector<std::string>{"LINE"});
}

TEST_F(NvidiaTest, UnreadableBackupIsKeptAndNothingWritten) {
    files.files[kPath].bytes = backupWith("setting.0x1057EB71=value:0x00000001\r\n");
    files.unreadablePaths.insert(kPath);
    EXPECT_EQ(restore(), 22);
    EXPECT_EQ(line(), fmt(kIncomplete, 0, 0));
    EXPECT_TRUE(callsStarting("SetSetting").empty());
    EXPECT_TRUE(callsStarting("SaveSettings").empty());
    EXPECT_EQ(files.files.count(kPath), 1u);
}

TEST_F(NvidiaTest, UnopenableDriverKeepsTheBackup) {
    files.files[kPath].bytes = backupWith("");
    driver.faults["Initialize"] = -2;
    EXPECT_EQ(restore(), 10);
    line();
    EXPECT_EQ(driver.calls, (std::vector<std::string>{"Initialize", "LINE"}));
    EXPECT_EQ(files.files.count(kPath), 1u);
}

TEST_F(NvidiaTest, RoundTripGivesBackTheOriginalProfile) {
    driver.committed.erase(0x0064B541);
    driver.committed.erase(0x002ECAF2);
    const FakeNvapi::Profile before = driver.committed;
    ASSERT_EQ(apply(1), 0);
    line();
    ASSERT_EQ(apply(3), 0);
    line();
    ASSERT_NE(driver.committed, before);
    driver.calls.clear();
    EXPECT_EQ(restore(), 0);
    EXPECT_EQ(line(), fmt(kRestored, 13, 13));
    EXPECT_EQ(driver.committed, before);
    EXPECT_EQ(backupBytes(), "<absent>");
    EXPECT_EQ(callsStarting("DeleteProfileSetting"),
              (std::vector<std::string>{"DeleteProfileSetting 0x0064B541",
                                        "DeleteProfileSetting 0x002ECAF2"}));
    const std::vector<std::string> tail(driver.calls.end() - 4, driver.calls.end());
    EXPECT_EQ(tail, (std::vector<std::string>{"SaveSettings", "LINE", "DestroySession", "Unload"}));
}

TEST_F(NvidiaTest, RecordedValueForms) {
    struct Case {
        const char* value;
        bool restores;
    } cases[] = {
        {"value:20", true},   {"value:0x14", true},
        {"value:024", true},  {"value: 20", true},
        {"value:+20", true},  {"value:20abc", true},
        {"value:", false},    {"value:abc", false},
        {"valor:1", false},   {"0x14", false},
        {"value", false},     {"Value:20", false},
        {" value:20", false}, {"value:4294967296", false},
    };
    for (const Case& c : cases) {
        driver.reset();
        files.files[kPath].bytes =
            backupWith(std::string("setting.0x00CE2691=") + c.value + "\r\n");
        const std::string before = backupBytes();
        EXPECT_EQ(restore(), c.restores ? 0 : 22) << c.value;
        EXPECT_EQ(line(), c.restores ? fmt(kRestored, 1, 1) : fmt(kIncomplete, 1, 0)) << c.value;
        if (c.restores) {
            EXPECT_EQ(driver.committed.at(0x00CE2691).value, 20u) << c.value;
            EXPECT_EQ(backupBytes(), "<absent>");
        } else {
            EXPECT_TRUE(callsStarting("SetSetting").empty()) << c.value;
            EXPECT_EQ(backupBytes(), before) << c.value << ": kept byte for byte";
        }
    }
}

TEST_F(NvidiaTest, MissingDeletesAndAlreadyAbsentCountsAsRestored) {
    driver.committed.erase(0x002ECAF2);
    files.files[kPath].bytes =
        backupWith("setting.0x002ECAF2=missing\r\nsetting.0x0084CD70=missing\r\n");
    EXPECT_EQ(restore(), 0);
    EXPECT_EQ(line(), fmt(kRestored, 2, 2));
    EXPECT_EQ(driver.committed.count(0x0084CD70), 0u);
}

TEST_F(NvidiaTest, PartialRestoreCountsAndKeepsGoing) {
    files.files[kPath].bytes = backupWith(
        "setting.0x002ECAF2=missing\r\nsetting.0x0084CD70=value:0x00000007\r\n"
        "setting.0x1057EB71=value:0x00000009\r\n");
    const std::string before = backupBytes();
    driver.deleteFaults[0x002ECAF2] = -3;
    EXPECT_EQ(restore(), 22);
    EXPECT_EQ(line(), fmt(kIncomplete, 3, 2));
    EXPECT_EQ(driver.committed.at(0x0084CD70).value, 7u) << "what succeeded stays committed";
    EXPECT_EQ(driver.committed.at(0x1057EB71).value, 9u);
    EXPECT_EQ(backupBytes(), before);
}

TEST_F(NvidiaTest, RefusedCommitKeepsTheBackup) {
    files.files[kPath].bytes = backupWith("setting.0x0084CD70=value:0x00000007\r\n");
    driver.faults["SaveSettings"] = -1;
    EXPECT_EQ(restore(), 22);
    EXPECT_EQ(line(), fmt(kIncomplete, 1, 1));
    EXPECT_EQ(files.files.count(kPath), 1u);
}

TEST_F(NvidiaTest, BackupWithoutOwnEntriesRestoresNothingAndGoes) {
    files.files[kPath].bytes = backupWith("");
    EXPECT_EQ(restore(), 0);
    EXPECT_EQ(line(), fmt(kRestored, 0, 0));
    EXPECT_EQ(backupBytes(), "<absent>");
    EXPECT_TRUE(callsStarting("SetSetting").empty());
}

TEST_F(NvidiaTest, OnlyEntriesOfEightRowsRestoreEight) {
    ASSERT_EQ(apply(1), 0);
    line();
    EXPECT_EQ(restore(), 0);
    EXPECT_EQ(line(), fmt(kRestored, 8, 8));
}

TEST_F(NvidiaTest, ForeignEntriesSurviveACompleteRestore) {
    files.files[kPath].bytes =
        "format=1\r\nvendor=amd\r\nglobal.rsr=1\r\nsetting.0x0084CD70=value:0x00000007\r\n"
        "setting.0xDEADBEEF=value:0x00000001\r\n";
    EXPECT_EQ(restore(), 0);
    EXPECT_EQ(line(), fmt(kRestored, 1, 1));
    EXPECT_EQ(
        backupBytes(),
        "format=1\r\nvendor=nvidia\r\nglobal.rsr=1\r\nsetting.0xDEADBEEF=value:0x00000001\r\n");
}

TEST_F(NvidiaTest, BackupThatCannotBeRetiredIsReportedIncomplete) {
    struct Case {
        const char* what;
        std::string entries;
        const char* failing;
    } cases[] = {
        {"removal fails", "setting.0x0084CD70=value:0x00000007\r\n", "remove"},
        {"rewrite with the foreign entries fails",
         "global.rsr=1\r\nsetting.0x0084CD70=value:0x00000007\r\n", "replace"},
    };
    for (const Case& c : cases) {
        FakeFileSystem fresh = filesFailingOn(c.failing, backupWith(c.entries));
        BackupStore store(fresh, "nvidia");
        driver.reset();
        EXPECT_EQ(restore(&store), 22) << c.what;
        EXPECT_EQ(line(), fmt(kIncomplete, 1, 1)) << c.what;
        EXPECT_EQ(driver.committed.at(0x0084CD70).value, 7u) << c.what;
        EXPECT_EQ(fresh.files.at(kPath).bytes, backupWith(c.entries)) << c.what;
    }
}
