#include <gtest/gtest.h>

#include <algorithm>

#include "tests/amd/amd_harness.h"

namespace {

using Log = std::vector<std::string>;

const char* const kPerGpuNames[] = {
    "chill",         "boost",      "frtc",        "sharpening",
    "mlaa",          "aa-mode",    "anisotropic", "tessellation-mode",
    "enhanced-sync", "vsync-mode", "fsr",         "frame-generation"};

const char* const kGamerTwoGpus =
    "format=1\nvendor=amd\n"
    "global.afmf=1\nglobal.rsr=1\n"
    "gpu.-2.aa-mode=3\ngpu.-2.anisotropic=1\ngpu.-2.boost=1\ngpu.-2.chill=1\n"
    "gpu.-2.frame-generation=1\ngpu.-2.frtc=1\ngpu.-2.fsr=1\ngpu.-2.mlaa=1\n"
    "gpu.-2.sharpening=1\ngpu.-2.tessellation-mode=3\ngpu.-2.vsync-mode=3\n"
    "gpu.7.aa-mode=3\ngpu.7.anisotropic=1\ngpu.7.boost=1\ngpu.7.chill=1\n"
    "gpu.7.frame-generation=1\ngpu.7.frtc=1\ngpu.7.fsr=1\ngpu.7.mlaa=1\n"
    "gpu.7.sharpening=1\ngpu.7.tessellation-mode=3\ngpu.7.vsync-mode=3\n";

const char* const kExtremoAfterGamer =
    "format=1\nvendor=amd\n"
    "global.afmf=1\nglobal.rsr=1\n"
    "gpu.-2.aa-mode=3\ngpu.-2.anisotropic=1\ngpu.-2.boost=1\ngpu.-2.chill=1\n"
    "gpu.-2.enhanced-sync=1\n"
    "gpu.-2.frame-generation=1\ngpu.-2.frtc=1\ngpu.-2.fsr=1\ngpu.-2.mlaa=1\n"
    "gpu.-2.sharpening=1\ngpu.-2.tessellation-mode=3\ngpu.-2.vsync-mode=3\n"
    "gpu.7.aa-mode=3\ngpu.7.anisotropic=1\ngpu.7.boost=1\ngpu.7.chill=1\n"
    "gpu.7.enhanced-sync=1\n"
    "gpu.7.frame-generation=1\ngpu.7.frtc=1\ngpu.7.fsr=1\ngpu.7.mlaa=1\n"
    "gpu.7.sharpening=1\ngpu.7.tessellation-mode=3\ngpu.7.vsync-mode=3\n";

std::string okLine(int supported, int changed) {
    return amdLine("ok", supported, changed, "Preset AMD aplicado e backup preservado");
}

std::string partialLine(int supported, int changed) {
    return amdLine("error", supported, changed, "Preset AMD aplicado parcialmente; backup mantido");
}

const char* const kNoSetting =
    "result=unsupported;vendor=AMD;supported=0;changed=0;"
    "message=Nenhum ajuste 3D AMD compativel foi encontrado";

/// Nothing left alive or released twice, everything released before Terminate, and the
/// line printed only after it.
void expectCleanEnd(const AmdHarness& run) {
    EXPECT_EQ(run.adlx.liveObjects(), 0);
    EXPECT_EQ(run.adlx.misuses(), 0u);
    const Log& log = run.adlx.log;
    ASSERT_GE(log.size(), 2u);
    EXPECT_EQ(log.back(), "print");
    if (log.front() == "Initialize" && log.size() > 2) {
        EXPECT_EQ(log[log.size() - 2], "Terminate");
        EXPECT_EQ(std::count(log.begin(), log.end(), "Terminate"), 1);
        EXPECT_EQ(run.adlx.liveAtTerminate, 0);
    }
}

/// Every successful write finds the setting's original already in the file on disk.
void watchBackupFirst(AmdHarness& run, std::vector<std::string>& violations) {
    run.adlx.beforeWrite = [&run, &violations](const std::string& name) {
        const std::string file = run.backup();
        std::string key = name;
        if (name == "rsr" || name == "afmf") {
            key = "global." + name;
        } else {
            const size_t dot = name.find('.');
            const uint32_t index = static_cast<uint32_t>(std::stoul(name.substr(1, dot - 1)));
            key = "gpu." + std::to_string(run.adlx.gpus[index].id) + name.substr(dot);
        }
        if (file.find("\n" + key + "=") == std::string::npos) {
            violations.push_back(name);
        }
    };
}

TEST(AmdApply, TwoGpusGamerThenExtremo) {
    AmdHarness run;
    run.adlx.withGpus({7, -2});
    std::vector<std::string> violations;
    watchBackupFirst(run, violations);

    EXPECT_EQ(run.apply(1), 0);
    EXPECT_EQ(run.line(), okLine(24, 24));
    EXPECT_EQ(run.backup(), kGamerTwoGpus);
    EXPECT_EQ(run.saves, 3);  // one for the global rows, one per GPU
    for (int g = 0; g < 2; ++g) {
        const std::string p = "g" + std::to_string(g) + ".";
        EXPECT_EQ(fakeValue(run.adlx, p + "vsync-mode"), 1);
        EXPECT_EQ(fakeValue(run.adlx, p + "aa-mode"), 0);
        EXPECT_EQ(fakeValue(run.adlx, p + "chill"), 0);
        EXPECT_EQ(fakeValue(run.adlx, p + "enhanced-sync"), 1);  // gamer leaves it alone
        EXPECT_EQ(std::count(run.adlx.log.begin(), run.adlx.log.end(),
                             "GetEnhancedSync " + p + "enhanced-sync"),
                  0);
    }
    expectCleanEnd(run);
    EXPECT_EQ(logFrom(run.adlx.log, "Release services3"),
              (Log{"Release services3", "Release services1", "Release rsr", "Release services",
                   "Release gpus", "Terminate", "print"}));

    run.adlx.log.clear();
    run.sink.lines.clear();
    run.saves = 0;
    EXPECT_EQ(run.apply(3), 0);
    EXPECT_EQ(run.line(), okLine(26, 4));
    EXPECT_EQ(run.backup(), kExtremoAfterGamer);
    EXPECT_EQ(run.saves, 2);
    for (int g = 0; g < 2; ++g) {
        const std::string p = "g" + std::to_string(g) + ".";
        EXPECT_EQ(fakeValue(run.adlx, p + "vsync-mode"), 0);
        EXPECT_EQ(fakeValue(run.adlx, p + "enhanced-sync"), 0);
    }
    expectCleanEnd(run);
    EXPECT_TRUE(violations.empty()) << violations.front();
}

// The settings of one GPU are all read and saved in one go before the first of them
// changes; they are released after the changes, last obtained first.
TEST(AmdApply, ExactCallOrderOfOneGpuPass) {
    AmdHarness run;
    run.adlx.withGpus({5});
    run.adlx.services1Result = ADLX_FAIL;
    run.adlx.services3Result = ADLX_NOT_SUPPORTED;
    run.adlx.setting("rsr").exists = false;
    for (const char* name : kPerGpuNames) {
        const std::string n = name;
        run.adlx.setting("g0." + n).exists = n == "chill" || n == "boost" || n == "aa-mode";
    }
    run.adlx.setting("g0.boost").value = 0;  // already where the preset wants it
    EXPECT_EQ(run.apply(1), 0);
    EXPECT_EQ(run.line(), okLine(3, 2));
    EXPECT_EQ(run.adlx.log,
              (Log{"Initialize",
                   "GetSystemServices",
                   "GetGPUs",
                   "Empty",
                   "Get3DSettingsServices",
                   "GetRadeonSuperResolution rsr",
                   "QueryInterface 1",
                   "QueryInterface 3",
                   "Size",
                   "At 0",
                   "gpu0.UniqueId",
                   "GetChill g0.chill",
                   "g0.chill.IsSupported",
                   "g0.chill.IsEnabled",
                   "GetBoost g0.boost",
                   "g0.boost.IsSupported",
                   "g0.boost.IsEnabled",
                   "GetFrameRateTargetControl g0.frtc",
                   "GetImageSharpening g0.sharpening",
                   "GetMorphologicalAntiAliasing g0.mlaa",
                   "GetAntiAliasing g0.aa-mode",
                   "g0.aa-mode.IsSupported",
                   "g0.aa-mode.GetMode",
                   "GetAnisotropicFiltering g0.anisotropic",
                   "GetTessellation g0.tessellation-mode",
                   "GetWaitForVerticalRefresh g0.vsync-mode",
                   "save format=1\nvendor=amd\ngpu.5.aa-mode=3\ngpu.5.boost=0\ngpu.5.chill=1\n",
                   "g0.chill.SetEnabled(0)",
                   "g0.aa-mode.SetMode(0)",
                   "Release g0.aa-mode",
                   "Release g0.boost",
                   "Release g0.chill",
                   "Release gpu0",
                   "Size",
                   "Release services",
                   "Release gpus",
                   "Terminate",
                   "print"}));
}

// A save that fails leaves its pass's settings alone; the values stay in the map, so the
// next pass's save puts them on disk as well.
TEST(AmdApply, FailedSaveHoldsBackOnlyItsOwnPass) {
    AmdHarness run;
    run.adlx.withGpus({1});
    run.files.failOn("open", 1);  // the global rows' save
    std::vector<std::string> violations;
    watchBackupFirst(run, violations);
    EXPECT_EQ(run.apply(1), 21);
    EXPECT_EQ(run.line(), partialLine(13, 11));
    EXPECT_EQ(run.saves, 1);
    EXPECT_EQ(fakeValue(run.adlx, "rsr"), 1);
    EXPECT_EQ(fakeValue(run.adlx, "afmf"), 1);
    EXPECT_EQ(fakeValue(run.adlx, "g0.chill"), 0);
    EXPECT_EQ(run.backup().rfind("format=1\nvendor=amd\nglobal.afmf=1\nglobal.rsr=1\ngpu.1.", 0),
              0u);
    EXPECT_TRUE(violations.empty());
    expectCleanEnd(run);

    // The next run finds the globals recorded and changes them without another save.
    run.sink.lines.clear();
    run.saves = 0;
    EXPECT_EQ(run.apply(1), 0);
    EXPECT_EQ(run.line(), okLine(13, 2));
    EXPECT_EQ(run.saves, 0);
    EXPECT_EQ(fakeValue(run.adlx, "rsr"), 0);
}

struct FaultCase {
    const char* name;
    void (*setUp)(FakeAdlx&, FakeFileSystem&);
    int exitCode;
    std::string line;
    bool anyBackup;
};

// One GPU (id 1) with everything present, supported, on and at mode 3: "gamer" finds 13
// settings and changes all of them unless a fault says otherwise.
TEST(AmdApply, FaultsAndCounts) {
    const FaultCase cases[] = {
        {"baseline", [](FakeAdlx&, FakeFileSystem&) {}, 0, okLine(13, 13), true},
        {"read fails: a failure, not supported",
         [](FakeAdlx& a, FakeFileSystem&) { a.setting("g0.chill").readResult = ADLX_FAIL; }, 21,
         partialLine(12, 12), true},
        {"mode read fails",
         [](FakeAdlx& a, FakeFileSystem&) { a.setting("g0.vsync-mode").readResult = 9; }, 21,
         partialLine(12, 12), true},
        {"IsSupported fails: skipped",
         [](FakeAdlx& a, FakeFileSystem&) { a.setting("g0.chill").supportedResult = ADLX_FAIL; }, 0,
         okLine(12, 12), true},
        {"IsSupported false: skipped",
         [](FakeAdlx& a, FakeFileSystem&) { a.setting("rsr").supported = 0; }, 0, okLine(12, 12),
         true},
        {"getter fails and still hands out an object",
         [](FakeAdlx& a, FakeFileSystem&) {
             a.setting("g0.aa-mode").getterResult = ADLX_FAIL;
             a.setting("g0.aa-mode").writeObjectOnFailure = true;
         },
         0, okLine(12, 12), true},
        {"write refused",
         [](FakeAdlx& a, FakeFileSystem&) { a.setting("g0.boost").writeResult = ADLX_FAIL; }, 21,
         partialLine(13, 12), true},
        {"already enabled counts as success",
         [](FakeAdlx& a, FakeFileSystem&) {
             a.setting("g0.boost").writeResult = ADLX_ALREADY_ENABLED;
         },
         0, okLine(13, 13), true},
        {"value already in place",
         [](FakeAdlx& a, FakeFileSystem&) { a.setting("g0.mlaa").value = 0; }, 0, okLine(13, 12),
         true},
        {"a flag of 2 is on", [](FakeAdlx& a, FakeFileSystem&) { a.setting("g0.mlaa").value = 2; },
         0, okLine(13, 13), true},
        {"no services1",
         [](FakeAdlx& a, FakeFileSystem&) {
             a.services1Result = ADLX_FAIL;
             a.queryGivesObjectOnFailure = true;
         },
         0, okLine(12, 12), true},
        {"no services3", [](FakeAdlx& a, FakeFileSystem&) { a.services3Result = 1; }, 0,
         okLine(11, 11), true},
        {"At fails: only the globals",
         [](FakeAdlx& a, FakeFileSystem&) { a.gpus[0].atResult = ADLX_FAIL; }, 0, okLine(2, 2),
         true},
        {"At gives nothing", [](FakeAdlx& a, FakeFileSystem&) { a.gpus[0].atGivesObject = false; },
         0, okLine(2, 2), true},
        {"every read fails",
         [](FakeAdlx& a, FakeFileSystem&) {
             a.setting("rsr").readResult = ADLX_FAIL;
             a.setting("afmf").readResult = ADLX_FAIL;
             for (const char* n : kPerGpuNames) {
                 a.setting(std::string("g0.") + n).readResult = ADLX_FAIL;
             }
         },
         10, kNoSetting, false},
        {"backup cannot be written", [](FakeAdlx&, FakeFileSystem& f) { f.failOn("open"); }, 21,
         partialLine(13, 0), false},
        {"initialise refused", [](FakeAdlx& a, FakeFileSystem&) { a.initializeResult = 3; }, 10,
         kUnavailable, false},
        {"empty GPU list", [](FakeAdlx& a, FakeFileSystem&) { a.gpus.clear(); }, 10, kUnavailable,
         false},
        {"no 3D services", [](FakeAdlx& a, FakeFileSystem&) { a.servicesResult = ADLX_FAIL; }, 10,
         kUnavailable, false},
    };
    for (const FaultCase& c : cases) {
        SCOPED_TRACE(c.name);
        AmdHarness run;
        run.adlx.withGpus({1});
        std::vector<std::string> violations;
        watchBackupFirst(run, violations);
        c.setUp(run.adlx, run.files);
        EXPECT_EQ(run.apply(1), c.exitCode);
        EXPECT_EQ(run.line(), c.line);
        EXPECT_EQ(run.hasBackup(), c.anyBackup);
        EXPECT_TRUE(violations.empty());
        expectCleanEnd(run);
    }
}

TEST(AmdApply, BackupThatCannotBeSavedChangesNothing) {
    AmdHarness run;
    run.adlx.withGpus({1});
    run.files.failOn("open");
    EXPECT_EQ(run.apply(2), 21);
    EXPECT_EQ(run.line(), partialLine(14, 0));
    for (const std::string& entry : run.adlx.log) {
        EXPECT_EQ(entry.find(".Set"), std::string::npos) << entry;
    }
}

TEST(AmdApply, UnreadableBackupIsLeftAloneAndNothingChanges) {
    AmdHarness run;
    run.adlx.withGpus({1, 2});
    const std::string before = "format=1\nvendor=amd\ngpu.1.chill=0\n";
    run.plantBackup(before);
    run.files.failOn("read");
    EXPECT_EQ(run.apply(1), 21);
    EXPECT_EQ(run.line(), partialLine(24, 0));
    EXPECT_EQ(run.backup(), before);
    EXPECT_EQ(run.saves, 0);
    for (const std::string& entry : run.adlx.log) {
        EXPECT_EQ(entry.find(".Set"), std::string::npos) << entry;
    }
    expectCleanEnd(run);
}

TEST(AmdApply, SecondRunRecordsNothingNewAndChangesNothing) {
    AmdHarness run;
    run.adlx.withGpus({3});
    EXPECT_EQ(run.apply(2), 0);
    const std::string file = run.backup();
    run.adlx.log.clear();
    run.sink.lines.clear();
    run.saves = 0;
    EXPECT_EQ(run.apply(2), 0);
    EXPECT_EQ(run.line(), okLine(14, 0));
    EXPECT_EQ(run.saves, 0);
    EXPECT_EQ(run.backup(), file);
}

TEST(AmdApply, GamerAfterExtremoKeepsFirstValues) {
    AmdHarness run;
    run.adlx.withGpus({3});
    run.adlx.setting("g0.vsync-mode").value = -1;
    EXPECT_EQ(run.apply(3), 0);
    run.sink.lines.clear();
    EXPECT_EQ(run.apply(1), 0);
    // Enhanced sync is untouched by gamer and stays off; vsync goes from 0 to 1.
    EXPECT_EQ(run.line(), okLine(13, 1));
    EXPECT_EQ(fakeValue(run.adlx, "g0.enhanced-sync"), 0);
    EXPECT_EQ(fakeValue(run.adlx, "g0.vsync-mode"), 1);
    EXPECT_NE(run.backup().find("\ngpu.3.vsync-mode=-1\n"), std::string::npos);
    EXPECT_NE(run.backup().find("\ngpu.3.enhanced-sync=1\n"), std::string::npos);
}

TEST(AmdApply, ForeignEntriesTravelUnderTheAmdHeader) {
    AmdHarness run;
    run.adlx.withGpus({1});
    run.adlx.setting("rsr").value = 0;
    run.adlx.setting("afmf").exists = false;
    run.adlx.services3Result = ADLX_FAIL;
    for (const char* name : kPerGpuNames) {
        run.adlx.setting(std::string("g0.") + name).exists = false;
    }
    run.plantBackup("format=1\r\nvendor=nvidia\r\nsetting.0x00A879CF=missing\r\n");
    EXPECT_EQ(run.apply(1), 0);
    EXPECT_EQ(run.line(), okLine(1, 0));
    EXPECT_EQ(run.backup(), "format=1\nvendor=amd\nglobal.rsr=0\nsetting.0x00A879CF=missing\n");
}

TEST(AmdApply, GpuWithoutIdUsesItsPosition) {
    AmdHarness run;
    run.adlx.withGpus({9, 9, 9});
    run.adlx.gpus[1].writesId = false;
    run.adlx.gpus[2].atResult = ADLX_FAIL;
    EXPECT_EQ(run.apply(1), 0);
    EXPECT_NE(run.backup().find("\ngpu.1.chill=1\n"), std::string::npos);
    EXPECT_NE(run.backup().find("\ngpu.9.chill=1\n"), std::string::npos);
    EXPECT_EQ(run.line(), okLine(24, 24));
}

// A GPU whose UniqueId call fails may not be the GPU its position names, so no key is
// sure to reach it again: it is counted but neither recorded nor changed.
TEST(AmdApply, GpuWhoseIdCannotBeReadIsLeftAlone) {
    for (const bool writesId : {false, true}) {
        SCOPED_TRACE(writesId ? "fails after writing an id" : "fails without an id");
        AmdHarness run;
        run.adlx.withGpus({1});
        run.adlx.gpus[0].uniqueIdResult = ADLX_FAIL;
        run.adlx.gpus[0].writesId = writesId;
        EXPECT_EQ(run.apply(1), 21);
        EXPECT_EQ(run.line(), partialLine(13, 2));
        EXPECT_EQ(run.backup(), "format=1\nvendor=amd\nglobal.afmf=1\nglobal.rsr=1\n");
        for (const std::string& call : run.adlx.log) {
            EXPECT_NE(call.rfind("g0.", 0) == 0 && call.find(".Set") != std::string::npos, true)
                << call;
        }
        expectCleanEnd(run);
    }
}

// Two GPUs with one id share one set of keys, which can hold only one original: only the
// first GPU of the list owns them. Any other GPU that may share its id (a repeat, or any GPU
// after one that could not be fetched or named) is read, never recorded or written; each of
// its settings the preset would change counts as failed.
TEST(AmdApply, SharedIdNeverChangesTheSecondGpu) {
    // The first apply runs before any fault: its outcome is the machine's alone.
    struct Machine {
        std::vector<int32_t> ids;
        int firstExit;
        std::string firstLine;
    };
    const Machine kSharedId{{4, 4}, 21, partialLine(24, 13)};
    const Machine kDistinctIds{{4, 5}, 0, okLine(24, 23)};
    struct Case {
        const char* name;
        const Machine& machine;
        void (*fault)(FakeAdlx&);  // before the second apply
        std::string secondLine;
    };
    const char* const kFirstOwns =
        "format=1\nvendor=amd\nglobal.afmf=1\nglobal.rsr=1\n"
        "gpu.4.aa-mode=3\ngpu.4.anisotropic=1\ngpu.4.boost=1\ngpu.4.chill=1\n"
        "gpu.4.frame-generation=1\ngpu.4.frtc=1\ngpu.4.fsr=1\ngpu.4.mlaa=1\n"
        "gpu.4.sharpening=1\ngpu.4.tessellation-mode=3\ngpu.4.vsync-mode=3\n";
    // The second GPU's chill is already 0: of its 11 rows, 10 would change.
    const Case cases[] = {
        {"no fault", kSharedId, [](FakeAdlx&) {}, partialLine(24, 0)},
        {"first GPU's aa-mode now unsupported", kSharedId,
         [](FakeAdlx& a) { a.setting("g0.aa-mode").supported = 0; }, partialLine(23, 0)},
        {"first GPU's aa-mode read fails", kSharedId,
         [](FakeAdlx& a) { a.setting("g0.aa-mode").readResult = ADLX_FAIL; }, partialLine(23, 0)},
        {"first GPU's aa-mode getter fails", kSharedId,
         [](FakeAdlx& a) { a.setting("g0.aa-mode").getterResult = ADLX_FAIL; }, partialLine(23, 0)},
        {"first GPU cannot be fetched", kSharedId,
         [](FakeAdlx& a) { a.gpus[0].atResult = ADLX_FAIL; }, partialLine(13, 0)},
        {"first GPU cannot be named", kSharedId,
         [](FakeAdlx& a) { a.gpus[0].uniqueIdResult = ADLX_FAIL; }, partialLine(24, 0)},
        // The unknown GPU's id may be anything: the GPU after it cannot know that it owns
        // its keys, so the boost the user turned back on stays on.
        {"distinct ids, first GPU cannot be fetched", kDistinctIds,
         [](FakeAdlx& a) {
             a.gpus[0].atResult = ADLX_FAIL;
             a.setting("g1.boost").value = 1;
         },
         partialLine(13, 0)},
    };
    auto secondGpuValues = [](const FakeAdlx& adlx) {
        std::map<std::string, int32_t> values;
        for (const auto& [name, setting] : adlx.settings) {
            if (name.rfind("g1.", 0) == 0) {
                values[name] = setting.value;
            }
        }
        return values;
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        AmdHarness run;
        const std::vector<int32_t>& ids = c.machine.ids;
        run.adlx.withGpus(ids);
        for (const char* name : kPerGpuNames) {
            run.adlx.setting(std::string("g1.") + name);
        }
        run.adlx.setting("g1.aa-mode").value = 2;
        run.adlx.setting("g1.chill").value = 0;
        const std::map<std::string, int32_t> own = secondGpuValues(run.adlx);
        std::vector<std::string> violations;
        watchBackupFirst(run, violations);
        EXPECT_EQ(run.apply(1), c.machine.firstExit);
        EXPECT_EQ(run.line(), c.machine.firstLine);
        expectCleanEnd(run);
        if (ids[0] == ids[1]) {
            EXPECT_EQ(run.backup(), kFirstOwns);
            EXPECT_EQ(secondGpuValues(run.adlx), own);
            EXPECT_EQ(fakeValue(run.adlx, "g0.aa-mode"), 0);
        }

        const std::string file = run.backup();
        run.adlx.log.clear();
        run.sink.lines.clear();
        c.fault(run.adlx);
        const std::map<std::string, int32_t> before = secondGpuValues(run.adlx);
        EXPECT_EQ(run.apply(1), 21);
        EXPECT_EQ(run.line(), c.secondLine);
        EXPECT_EQ(run.backup(), file);
        EXPECT_EQ(secondGpuValues(run.adlx), before);
        for (const std::string& call : run.adlx.log) {
            EXPECT_FALSE(call.rfind("g1.", 0) == 0 && call.find(".Set") != std::string::npos)
                << call;
        }
        EXPECT_TRUE(violations.empty());
        expectCleanEnd(run);
    }
}

}  // namespace
