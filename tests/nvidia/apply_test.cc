#include "tests/nvidia/nvidia_fixture.h"

namespace {

const char kApplied[] =
    "result=ok;vendor=NVIDIA;supported=%d;changed=%d;message=Preset NVIDIA aplicado e backup "
    "preservado";
const char kPartly[] =
    "result=error;vendor=NVIDIA;supported=%d;changed=%d;message=Preset NVIDIA aplicado "
    "parcialmente";
const char kBackupFailed[] =
    "result=error;vendor=NVIDIA;supported=%d;changed=0;message=Nao foi possivel salvar o backup "
    "do perfil NVIDIA";

std::string fmt(const char* pattern, int a, int b = 0) {
    char text[256];
    std::snprintf(text, sizeof text, pattern, a, b);
    return text;
}

const char kGamerBackup[] =
    "format=1\r\nvendor=nvidia\r\n"
    "setting.0x00198FFF=value:0x00000103\r\n"
    "setting.0x0064B541=value:0x00000101\r\n"
    "setting.0x00AC8497=value:0x00000104\r\n"
    "setting.0x00CE2691=value:0x00000102\r\n"
    "setting.0x1057EB71=value:0x00000100\r\n"
    "setting.0x107EFC5B=value:0x00000106\r\n"
    "setting.0x10835002=value:0x00000105\r\n"
    "setting.0x10D2BB16=value:0x00000107\r\n";

const std::vector<std::string> kGamerWrites = {
    "SetSetting 0x1057EB71 0x00000001", "SetSetting 0x0064B541 0x00000001",
    "SetSetting 0x00CE2691 0x00000014", "SetSetting 0x00198FFF 0x00000001",
    "SetSetting 0x00AC8497 0xFFFFFFFF", "SetSetting 0x10835002 0x00000000",
    "SetSetting 0x107EFC5B 0x00000000", "SetSetting 0x10D2BB16 0x00000000",
};

}  // namespace

TEST_F(NvidiaTest, FirstGamerApplyRecordsEightThenWritesEight) {
    std::string backupAtFirstWrite;
    driver.observer = [&](const std::string& name) {
        if (name == "SetSetting" && backupAtFirstWrite.empty()) {
            backupAtFirstWrite = backupBytes();
        }
    };
    EXPECT_EQ(apply(1), 0);
    EXPECT_EQ(line(), fmt(kApplied, 8, 8));
    EXPECT_EQ(backupBytes(), kGamerBackup);
    EXPECT_EQ(backupAtFirstWrite, kGamerBackup) << "the backup stands before any change";

    std::vector<std::string> expected = {"Initialize", "CreateSession", "LoadSettings",
                                         "GetBaseProfile"};
    for (const char* id : {"0x1057EB71", "0x0064B541", "0x00CE2691", "0x00198FFF", "0x00AC8497",
                           "0x10835002", "0x107EFC5B", "0x10D2BB16"}) {
        expected.push_back(std::string("GetSetting ") + id);
    }
    expected.insert(expected.end(), kGamerWrites.begin(), kGamerWrites.end());
    expected.insert(expected.end(), {"SaveSettings", "LINE", "DestroySession", "Unload"});
    EXPECT_EQ(driver.calls, expected);
    EXPECT_TRUE(driver.recordErrors.empty()) << driver.recordErrors.front();
    EXPECT_EQ(driver.committed.at(0x00AC8497).value, 0xFFFFFFFFu);
}

TEST_F(NvidiaTest, AbsentSettingIsRecordedAsMissingAndStillWritten) {
    driver.committed.erase(0x0064B541);
    EXPECT_EQ(apply(1), 0);
    EXPECT_EQ(line(), fmt(kApplied, 8, 8));
    EXPECT_NE(backupBytes().find("setting.0x0064B541=missing\r\n"), std::string::npos);
    EXPECT_EQ(driver.committed.at(0x0064B541).value, 1u);
}

TEST_F(NvidiaTest, LaterApplyKeepsEarlierOriginals) {
    ASSERT_EQ(apply(1), 0);
    line();
    driver.calls.clear();
    EXPECT_EQ(apply(3), 0);
    EXPECT_EQ(line(), fmt(kApplied, 13, 13));
    EXPECT_EQ(callsStarting("GetSetting"),
              (std::vector<std::string>{"GetSetting 0x00A879CF", "GetSetting 0x20FDD1F9",
                                        "GetSetting 0x00E73211", "GetSetting 0x0084CD70",
                                        "GetSetting 0x002ECAF2"}));
    std::vector<std::string> writes = kGamerWrites;
    writes.insert(writes.end(),
                  {"SetSetting 0x00A879CF 0x08416747", "SetSetting 0x20FDD1F9 0x00000000",
                   "SetSetting 0x00E73211 0x00000001", "SetSetting 0x0084CD70 0x00000001",
                   "SetSetting 0x002ECAF2 0x00000001"});
    EXPECT_EQ(callsStarting("SetSetting"), writes);
    const std::string bytes = backupBytes();
    EXPECT_NE(bytes.find("setting.0x1057EB71=value:0x00000100\r\n"), std::string::npos)
        << "the value from before the first apply, not the preset's";
    EXPECT_NE(bytes.find("setting.0x00A879CF=value:0x00000108\r\n"), std::string::npos);
}

TEST_F(NvidiaTest, CompetitivoTakesTheFirstTenRows) {
    EXPECT_EQ(apply(2), 0);
    EXPECT_EQ(line(), fmt(kApplied, 10, 10));
    EXPECT_EQ(callsStarting("SetSetting").size(), 10u);
}

TEST_F(NvidiaTest, ExistingEntryIsNeitherReadNorChanged) {
    files.files[kPath].bytes =
        "format=1\r\nvendor=nvidia\r\nsetting.0x1057EB71=garbage\r\nglobal.rsr=1\r\n";
    EXPECT_EQ(apply(1), 0);
    EXPECT_EQ(line(), fmt(kApplied, 8, 8));
    EXPECT_EQ(callsStarting("GetSetting 0x1057EB71"), std::vector<std::string>{});
    EXPECT_NE(backupBytes().find("setting.0x1057EB71=garbage\r\n"), std::string::npos);
    EXPECT_NE(backupBytes().find("global.rsr=1\r\n"), std::string::npos);
}

TEST_F(NvidiaTest, RowWithoutRecordedOriginalIsNotWritten) {
    struct Case {
        const char* what;
        std::function<void(FakeNvapi&)> arrange;
    } cases[] = {
        {"read fails", [](FakeNvapi& d) { d.getFaults[0x00CE2691] = -5; }},
        {"other type", [](FakeNvapi& d) { d.committed[0x00CE2691].type = 1; }},
    };
    for (const Case& c : cases) {
        driver.reset();
        files.files.clear();
        c.arrange(driver);
        EXPECT_EQ(apply(1), 21) << c.what;
        EXPECT_EQ(line(), fmt(kPartly, 7, 7)) << c.what;
        EXPECT_EQ(callsStarting("SetSetting 0x00CE2691"), std::vector<std::string>{}) << c.what;
        EXPECT_EQ(backupBytes().find("0x00CE2691"), std::string::npos) << c.what;
        EXPECT_EQ(callsStarting("SaveSettings").size(), 1u) << c.what;
    }
}

TEST_F(NvidiaTest, NothingRecordableMeansNothingWritten) {
    driver.faults["GetSetting"] = -1;
    EXPECT_EQ(apply(1), 20);
    EXPECT_EQ(line(), fmt(kBackupFailed, 0));
    EXPECT_TRUE(callsStarting("SetSetting").empty());
    EXPECT_TRUE(callsStarting("SaveSettings").empty());
    EXPECT_EQ(backupBytes(), "<absent>");
    EXPECT_EQ(driver.calls.back(), "Unload");
}

TEST_F(NvidiaTest, FailedSaveWritesNothingAndKeepsTheOldBackup) {
    const std::string old = "format=1\r\nvendor=nvidia\r\nsetting.0x1057EB71=value:0x00000005\r\n";
    for (const char* step : {"open", "write", "flush", "replace"}) {
        FakeFileSystem fresh = filesFailingOn(step, old);
        BackupStore store(fresh, "nvidia");
        driver.calls.clear();
        EXPECT_EQ(apply(1, &store), 20) << step;
        EXPECT_EQ(line(), fmt(kBackupFailed, 8)) << step;
        EXPECT_TRUE(callsStarting("SetSetting").empty()) << step;
        EXPECT_EQ(fresh.files.at(kPath).bytes, old) << step;
    }
}

TEST_F(NvidiaTest, UnreadableBackupStopsApplyBeforeAnyChange) {
    files.files[kPath].bytes = "format=1\r\n";
    files.unreadablePaths.insert(kPath);
    EXPECT_EQ(apply(3), 20);
    EXPECT_EQ(line(), fmt(kBackupFailed, 0));
    EXPECT_TRUE(callsStarting("GetSetting").empty());
    EXPECT_TRUE(callsStarting("SetSetting").empty());
    EXPECT_EQ(files.files.at(kPath).bytes, "format=1\r\n");
    for (const std::string& op : files.log) {
        EXPECT_EQ(op.rfind("read ", 0), 0u) << "only read: " << op;
    }
}

TEST_F(NvidiaTest, WriteOrCommitFailureIsPartial) {
    struct Case {
        const char* what;
        std::function<void(FakeNvapi&)> arrange;
        int changed;
    } cases[] = {
        {"one write refused", [](FakeNvapi& d) { d.setFaults[0x00AC8497] = -7; }, 7},
        {"commit refused", [](FakeNvapi& d) { d.faults["SaveSettings"] = -1; }, 8},
    };
    for (const Case& c : cases) {
        driver.reset();
        files.files.clear();
        c.arrange(driver);
        EXPECT_EQ(apply(1), 21) << c.what;
        EXPECT_EQ(line(), fmt(kPartly, 8, c.changed)) << c.what;
        EXPECT_EQ(backupBytes(), kGamerBackup) << c.what << ": the backup stays";
    }
}

TEST_F(NvidiaTest, UnopenableDriverLeavesTheBackupAlone) {
    driver.faults["LoadSettings"] = -2;
    EXPECT_EQ(apply(1), 10);
    EXPECT_EQ(line(),
              "result=unsupported;vendor=NVIDIA;supported=0;changed=0;message=NVAPI indisponivel "
              "ou nenhuma GPU NVIDIA compativel");
    EXPECT_TRUE(files.log.empty());
}
