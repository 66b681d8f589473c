#include <gtest/gtest.h>

#include <algorithm>

#include "tests/amd/amd_harness.h"

namespace {

using Log = std::vector<std::string>;

std::string okLine(int n) {
    return amdLine("ok", n, n, "Configuracoes AMD originais restauradas");
}

std::string incompleteLine(int supported, int changed) {
    return amdLine("error", supported, changed, "Restauracao AMD incompleta; backup mantido");
}

const char* const kNothing =
    "result=nothing;vendor=AMD;supported=0;changed=0;message=Nenhum backup AMD para restaurar";

void expectCleanEnd(const AmdHarness& run) {
    EXPECT_EQ(run.adlx.liveObjects(), 0);
    EXPECT_EQ(run.adlx.misuses(), 0u);
    EXPECT_EQ(run.adlx.log.back(), "print");
    const bool terminated =
        std::find(run.adlx.log.begin(), run.adlx.log.end(), "Terminate") != run.adlx.log.end();
    EXPECT_EQ(run.adlx.liveAtTerminate, terminated ? 0 : -1);
}

TEST(AmdRestore, RoundTripGivesBackTheStateBeforeTheFirstApply) {
    AmdHarness run;
    run.adlx.withGpus({7, -2});
    run.adlx.setting("g1.aa-mode").value = -1;
    run.adlx.setting("g0.chill").value = 0;
    run.adlx.setting("g1.enhanced-sync").value = 0;
    for (const char* global : {"rsr", "afmf"}) {
        run.adlx.setting(global);
    }
    for (const char* name :
         {"chill", "boost", "frtc", "sharpening", "mlaa", "aa-mode", "anisotropic",
          "tessellation-mode", "enhanced-sync", "vsync-mode", "fsr", "frame-generation"}) {
        run.adlx.setting(std::string("g0.") + name);
        run.adlx.setting(std::string("g1.") + name);
    }
    const std::map<std::string, FakeSetting> before = run.adlx.settings;
    ASSERT_EQ(before.size(), 26u);
    auto valuesOf = [](const std::map<std::string, FakeSetting>& s) {
        std::map<std::string, int32_t> values;
        for (const auto& [name, setting] : s) {
            values[name] = setting.value;
        }
        return values;
    };
    ASSERT_EQ(run.apply(1), 0);
    ASSERT_EQ(run.apply(3), 0);
    run.adlx.log.clear();
    run.sink.lines.clear();
    EXPECT_EQ(run.restore(), 0);
    EXPECT_EQ(run.line(), okLine(26));
    // The mode -1 went back as -1 and the switches that were on went back on.
    EXPECT_EQ(valuesOf(run.adlx.settings), valuesOf(before));
    EXPECT_FALSE(run.hasBackup());
    EXPECT_EQ(logFrom(run.adlx.log, "Release services3"),
              (Log{"Release services3", "Release services1", "Release rsr", "Release services",
                   "Release gpus", "Terminate", "remove", "print"}));
    expectCleanEnd(run);
}

TEST(AmdRestore, ExactCallOrder) {
    AmdHarness run;
    run.adlx.withGpus({5});
    run.adlx.services3Result = ADLX_FAIL;
    run.plantBackup("format=1\nvendor=amd\nglobal.afmf=1\ngpu.5.aa-mode=2\ngpu.5.chill=1\n");
    EXPECT_EQ(run.restore(), 0);
    EXPECT_EQ(run.line(), okLine(3));
    const Log expected = {"Initialize",
                          "GetSystemServices",
                          "GetGPUs",
                          "Empty",
                          "Get3DSettingsServices",
                          "GetRadeonSuperResolution rsr",  // no saved value: nothing asked
                          "QueryInterface 1",
                          "GetAMDFluidMotionFrames afmf",
                          "afmf.IsSupported",
                          "afmf.SetEnabled(1)",
                          "Release afmf",
                          "QueryInterface 3",
                          "Size",
                          "At 0",
                          "gpu0.UniqueId",
                          "GetChill g0.chill",
                          "g0.chill.IsSupported",
                          "g0.chill.SetEnabled(1)",
                          "Release g0.chill",
                          "GetBoost g0.boost",
                          "Release g0.boost",
                          "GetFrameRateTargetControl g0.frtc",
                          "Release g0.frtc",
                          "GetImageSharpening g0.sharpening",
                          "Release g0.sharpening",
                          "GetMorphologicalAntiAliasing g0.mlaa",
                          "Release g0.mlaa",
                          "GetAntiAliasing g0.aa-mode",
                          "g0.aa-mode.IsSupported",
                          "g0.aa-mode.SetMode(2)",
                          "Release g0.aa-mode",
                          "GetAnisotropicFiltering g0.anisotropic",
                          "Release g0.anisotropic",
                          "GetTessellation g0.tessellation-mode",
                          "Release g0.tessellation-mode",
                          "GetEnhancedSync g0.enhanced-sync",
                          "Release g0.enhanced-sync",
                          "GetWaitForVerticalRefresh g0.vsync-mode",
                          "Release g0.vsync-mode",
                          "Release gpu0",
                          "Size",
                          "Release services1",
                          "Release rsr",  // obtained before services1, released after it
                          "Release services",
                          "Release gpus",
                          "Terminate",
                          "remove",
                          "print"};
    EXPECT_EQ(run.adlx.log, expected);
}

struct ValueCase {
    const char* saved;
    const char* key;
    const char* setting;
    int exitCode;
    std::string line;
    int32_t after;  // the setting's value afterwards (it starts at 9)
    bool fileKept;
};

TEST(AmdRestore, SavedTexts) {
    const ValueCase cases[] = {
        {"1", "gpu.1.chill", "g0.chill", 0, okLine(1), 1, false},
        {"0", "gpu.1.chill", "g0.chill", 0, okLine(1), 0, false},
        {"true", "gpu.1.chill", "g0.chill", 0, okLine(1), 0, false},
        {"01", "gpu.1.chill", "g0.chill", 0, okLine(1), 0, false},
        {" 1", "gpu.1.chill", "g0.chill", 0, okLine(1), 0, false},
        {"", "gpu.1.chill", "g0.chill", 0, okLine(1), 0, false},
        {"3", "gpu.1.vsync-mode", "g0.vsync-mode", 0, okLine(1), 3, false},
        {"-1", "gpu.1.vsync-mode", "g0.vsync-mode", 0, okLine(1), -1, false},
        {"5abc", "gpu.1.aa-mode", "g0.aa-mode", 0, okLine(1), 5, false},
        {" \t-7", "gpu.1.aa-mode", "g0.aa-mode", 0, okLine(1), -7, false},
        {"abc", "gpu.1.aa-mode", "g0.aa-mode", 22, incompleteLine(1, 0), 9, true},
        {"2147483648", "gpu.1.tessellation-mode", "g0.tessellation-mode", 22, incompleteLine(1, 0),
         9, true},
        {"-2147483648", "gpu.1.tessellation-mode", "g0.tessellation-mode", 0, okLine(1), INT32_MIN,
         false},
        {"1", "global.rsr", "rsr", 0, okLine(1), 1, false},
        // The key of a GPU that is not in the list has not gone back.
        {"1", "gpu.2.chill", "g0.chill", 22, incompleteLine(1, 0), 9, true},
        {"1", "GPU.1.chill", "g0.chill", 0, okLine(0), 9, true},  // exact keys; not ours: kept
    };
    for (const ValueCase& c : cases) {
        SCOPED_TRACE(std::string(c.key) + "=" + c.saved);
        AmdHarness run;
        run.adlx.withGpus({1});
        run.adlx.setting(c.setting).value = 9;
        const std::string file =
            std::string("format=1\nvendor=amd\n") + c.key + "=" + c.saved + "\n";
        run.plantBackup(file);
        EXPECT_EQ(run.restore(), c.exitCode);
        EXPECT_EQ(run.line(), c.line);
        EXPECT_EQ(fakeValue(run.adlx, c.setting), c.after);
        EXPECT_EQ(run.hasBackup(), c.fileKept);
        if (c.fileKept) {
            EXPECT_EQ(run.backup(), file);
        }
        expectCleanEnd(run);
    }
}

/// How a restore ends: its exit code, its line, and whether the file is still there.
struct Ending {
    int exitCode;
    std::string line;
    bool fileKept;
};

struct PathCase {
    const char* name;
    void (*setUp)(AmdHarness&);
    Ending ending;
    Log log = {};  // checked only when a row gives one
};

const char* const kTwoKeys = "format=1\nvendor=amd\ngpu.1.boost=1\ngpu.1.chill=1\n";

TEST(AmdRestore, EveryPath) {
    // The endings several rows share: the setting is left out and the other one restored;
    // it is counted failed; or its GPU is not reached, and neither key is.
    const Ending kSkipped{0, okLine(1), false};
    const Ending kOneFailed{22, incompleteLine(2, 1), true};
    const Ending kUnreached{22, incompleteLine(2, 0), true};
    const PathCase cases[] = {
        {"no backup: ADLX untouched",
         [](AmdHarness& r) { r.files.files.clear(); },
         {0, kNothing, false},
         {"print"}},
        {"existence unknown: driver untouched",
         [](AmdHarness& r) { r.files.failOn("inspect"); },
         {22, incompleteLine(0, 0), true},
         {"print"}},
        {"initialise refused",
         [](AmdHarness& r) { r.adlx.initializeResult = 3; },
         {10, kUnavailable, true},
         {"Initialize", "print"}},
        {"empty GPU list",
         [](AmdHarness& r) { r.adlx.gpus.clear(); },
         {10, kUnavailable, true},
         {"Initialize", "GetSystemServices", "GetGPUs", "Empty", "Release gpus", "Terminate",
          "print"}},
        {"unreadable backup",
         [](AmdHarness& r) { r.files.failOn("read"); },
         {22, incompleteLine(0, 0), true},
         {"Initialize", "GetSystemServices", "GetGPUs", "Empty", "Get3DSettingsServices",
          "Release services", "Release gpus", "Terminate", "print"}},
        {"one refusal: the rest still written",
         [](AmdHarness& r) { r.adlx.setting("g0.boost").writeResult = ADLX_FAIL; }, kOneFailed},
        {"unsupported now: skipped",
         [](AmdHarness& r) { r.adlx.setting("g0.boost").supported = 0; }, kSkipped},
        // A setting that cannot be reached this time still holds its recorded value: the
        // file stays for another attempt. Only "not there" answers mean it is gone.
        {"IsSupported fails: counted failed, not written",
         [](AmdHarness& r) { r.adlx.setting("g0.boost").supportedResult = ADLX_FAIL; }, kOneFailed},
        {"IsSupported answers not supported: skipped",
         [](AmdHarness& r) { r.adlx.setting("g0.boost").supportedResult = ADLX_NOT_SUPPORTED; },
         kSkipped},
        {"getter fails with an object: counted failed and released",
         [](AmdHarness& r) {
             r.adlx.setting("g0.boost").getterResult = ADLX_FAIL;
             r.adlx.setting("g0.boost").writeObjectOnFailure = true;
         },
         kOneFailed},
        {"getter answers not there: skipped",
         [](AmdHarness& r) { r.adlx.setting("g0.boost").exists = false; }, kSkipped},
        {"GPU missing: its keys unreached, the file kept for its return",
         [](AmdHarness& r) { r.adlx.gpus[0].id = 2; }, kUnreached},
        {"At fails: its GPU may hold the keys",
         [](AmdHarness& r) { r.adlx.gpus[0].atResult = ADLX_FAIL; }, kUnreached},
        {"UniqueId fails: nothing written to a GPU that cannot be named",
         [](AmdHarness& r) {
             r.adlx.gpus[0].uniqueIdResult = ADLX_FAIL;
             r.adlx.gpus[0].writesId = false;
         },
         kUnreached},
        {"UniqueId fails although it wrote the id",
         [](AmdHarness& r) { r.adlx.gpus[0].uniqueIdResult = ADLX_FAIL; }, kUnreached},
        {"UniqueId writes no id: the position stands in",
         [](AmdHarness& r) {
             r.adlx.gpus[0].writesId = false;
             r.plantBackup("format=1\nvendor=amd\ngpu.0.chill=1\n");
         },
         kSkipped},
        {"header only is deleted",
         [](AmdHarness& r) { r.plantBackup("format=1\nvendor=amd\n"); },
         {0, okLine(0), false}},
        {"empty file is deleted", [](AmdHarness& r) { r.plantBackup(""); }, {0, okLine(0), false}},
    };
    for (const PathCase& c : cases) {
        SCOPED_TRACE(c.name);
        AmdHarness run;
        run.adlx.withGpus({1});
        run.plantBackup(kTwoKeys);
        c.setUp(run);
        const std::string before = run.backup();
        EXPECT_EQ(run.restore(), c.ending.exitCode);
        EXPECT_EQ(run.line(), c.ending.line);
        EXPECT_EQ(run.hasBackup(), c.ending.fileKept);
        if (c.ending.fileKept) {
            EXPECT_EQ(run.backup(), before);
        }
        if (!c.log.empty()) {
            EXPECT_EQ(run.adlx.log, c.log);
        }
        expectCleanEnd(run);
    }
}

TEST(AmdRestore, ExtendedServicesMissingOrFailing) {
    struct Case {
        const char* name;
        ADLX_RESULT services1;
        ADLX_RESULT services3;
        int exitCode;
        std::string line;
    };
    // A driver without the interface has none of its settings; one whose query fails
    // has them out of reach, so their recorded values keep the file.
    const Case cases[] = {
        {"both absent: their keys ignored", ADLX_NOT_SUPPORTED, ADLX_NOT_SUPPORTED, 0, okLine(0)},
        {"services 3 fails", ADLX_OK, ADLX_FAIL, 22, incompleteLine(3, 1)},
        {"services 1 fails", ADLX_FAIL, ADLX_OK, 22, incompleteLine(3, 2)},
        {"both fail", ADLX_INVALID_ARGS, ADLX_FAIL, 22, incompleteLine(3, 0)},
    };
    const std::string file =
        "format=1\nvendor=amd\nglobal.afmf=1\ngpu.1.frame-generation=1\ngpu.1.fsr=1\n";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        AmdHarness run;
        run.adlx.withGpus({1});
        run.adlx.services1Result = c.services1;
        run.adlx.services3Result = c.services3;
        run.plantBackup(file);
        EXPECT_EQ(run.restore(), c.exitCode);
        EXPECT_EQ(run.line(), c.line);
        EXPECT_EQ(run.hasBackup(), c.exitCode != 0);
        if (c.exitCode != 0) {
            EXPECT_EQ(run.backup(), file);
        }
        expectCleanEnd(run);
    }
}

// The keys under an id hold the first GPU's original: only that GPU is written. Another
// GPU with the same id still holds its own value; a GPU after one that could not be
// fetched or named may be such a GPU. A GPU that could not be fetched or named fails the
// restore only through the recorded keys it leaves unreached.
TEST(AmdRestore, SharedIdRestoresOnlyTheFirstGpu) {
    struct Case {
        const char* name;
        std::vector<int32_t> ids;
        const char* file;
        void (*fault)(FakeAdlx&);
        int exitCode;
        std::string line;
        int32_t firstChill;  // afterwards; both start at 0
    };
    const char* const kShared = "format=1\nvendor=amd\ngpu.4.chill=1\n";
    const char* const kDistinct = "format=1\nvendor=amd\ngpu.4.chill=1\ngpu.5.chill=1\n";
    const Case cases[] = {
        {"no fault", {4, 4}, kShared, [](FakeAdlx&) {}, 0, okLine(1), 1},
        {"second GPU cannot be fetched",
         {4, 4},
         kShared,
         [](FakeAdlx& a) { a.gpus[1].atResult = ADLX_FAIL; },
         0,
         okLine(1),
         1},
        {"second GPU gives no object",
         {4, 4},
         kShared,
         [](FakeAdlx& a) { a.gpus[1].atGivesObject = false; },
         0,
         okLine(1),
         1},
        {"second GPU cannot be named",
         {4, 4},
         kShared,
         [](FakeAdlx& a) { a.gpus[1].uniqueIdResult = ADLX_FAIL; },
         0,
         okLine(1),
         1},
        {"first GPU cannot be fetched",
         {4, 4},
         kShared,
         [](FakeAdlx& a) { a.gpus[0].atResult = ADLX_FAIL; },
         22,
         incompleteLine(1, 0),
         0},
        {"first GPU cannot be named",
         {4, 4},
         kShared,
         [](FakeAdlx& a) { a.gpus[0].uniqueIdResult = ADLX_FAIL; },
         22,
         incompleteLine(1, 0),
         0},
        {"distinct ids, second GPU cannot be fetched",
         {4, 5},
         kDistinct,
         [](FakeAdlx& a) { a.gpus[1].atResult = ADLX_FAIL; },
         22,
         incompleteLine(2, 1),
         1},
        {"distinct ids, second GPU cannot be fetched, nothing recorded for it",
         {4, 5},
         kShared,
         [](FakeAdlx& a) { a.gpus[1].atResult = ADLX_FAIL; },
         0,
         okLine(1),
         1},
        {"distinct ids, first GPU cannot be fetched",
         {4, 5},
         kDistinct,
         [](FakeAdlx& a) { a.gpus[0].atResult = ADLX_FAIL; },
         22,
         incompleteLine(2, 0),
         0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        AmdHarness run;
        run.adlx.withGpus(c.ids);
        run.adlx.setting("g0.chill").value = 0;
        run.adlx.setting("g1.chill").value = 0;
        run.plantBackup(c.file);
        c.fault(run.adlx);
        EXPECT_EQ(run.restore(), c.exitCode);
        EXPECT_EQ(run.line(), c.line);
        EXPECT_EQ(fakeValue(run.adlx, "g0.chill"), c.firstChill);
        if (c.ids[0] == c.ids[1] || c.firstChill == 0) {
            EXPECT_EQ(fakeValue(run.adlx, "g1.chill"), 0);
            for (const std::string& call : run.adlx.log) {
                EXPECT_NE(call.rfind("g1.", 0), 0u) << call;
            }
        }
        EXPECT_EQ(run.hasBackup(), c.exitCode != 0);
        if (c.exitCode != 0) {
            EXPECT_EQ(run.backup(), c.file);
        }
        expectCleanEnd(run);
    }
}

// Every GPU holds its own original once restore is done, whatever went wrong on the way.
TEST(AmdRestore, SharedIdRoundTripsKeepEveryOriginal) {
    struct Case {
        const char* name;
        void (*steps)(AmdHarness&);  // the applies, and the fault of the first restore
        std::string line;            // of the first restore
    };
    const Case cases[] = {
        {"no fault", [](AmdHarness& r) { r.apply(1); }, okLine(13)},
        {"first GPU's aa-mode unsupported in a later apply",
         [](AmdHarness& r) {
             r.apply(1);
             r.adlx.setting("g0.aa-mode").supported = 0;
             r.apply(1);
             r.adlx.setting("g0.aa-mode").supported = 1;
         },
         okLine(13)},
        {"first GPU's aa-mode read fails in a later apply",
         [](AmdHarness& r) {
             r.apply(1);
             r.adlx.setting("g0.aa-mode").readResult = ADLX_FAIL;
             r.apply(1);
             r.adlx.setting("g0.aa-mode").readResult = ADLX_OK;
         },
         okLine(13)},
        {"first GPU cannot be fetched in a later apply",
         [](AmdHarness& r) {
             r.apply(1);
             r.adlx.gpus[0].atResult = ADLX_FAIL;
             r.apply(3);
             r.adlx.gpus[0].atResult = ADLX_OK;
         },
         okLine(13)},
        {"second GPU cannot be fetched at restore",
         [](AmdHarness& r) {
             r.apply(1);
             r.adlx.gpus[1].atResult = ADLX_FAIL;
         },
         okLine(13)},
        {"second GPU never fetched, in apply and restore",
         [](AmdHarness& r) {
             r.adlx.gpus[1].atResult = ADLX_FAIL;
             r.apply(1);
         },
         okLine(13)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        AmdHarness run;
        run.adlx.withGpus({4, 4});
        run.adlx.setting("g1.aa-mode").value = 2;
        run.adlx.setting("g1.chill").value = 0;
        for (const char* name : {"chill", "aa-mode", "enhanced-sync", "vsync-mode"}) {
            run.adlx.setting(std::string("g0.") + name);
            run.adlx.setting(std::string("g1.") + name);
        }
        std::map<std::string, int32_t> before;
        for (const auto& [name, setting] : run.adlx.settings) {
            before[name] = setting.value;
        }
        c.steps(run);
        run.sink.lines.clear();
        run.restore();
        EXPECT_EQ(run.line(), c.line);
        for (FakeGpuConfig& gpu : run.adlx.gpus) {
            gpu.atResult = ADLX_OK;
        }
        if (run.hasBackup()) {
            run.sink.lines.clear();
            EXPECT_EQ(run.restore(), 0);
            EXPECT_EQ(run.line(), okLine(13));
        }
        EXPECT_FALSE(run.hasBackup());
        for (const auto& [name, value] : before) {
            EXPECT_EQ(fakeValue(run.adlx, name), value) << name;
        }
    }
}

// A GPU missing at restore keeps its originals in the file; the restore completes once
// the GPU is back, and every GPU ends on its own original.
TEST(AmdRestore, MissingGpuKeepsTheBackupUntilItIsBack) {
    AmdHarness run;
    run.adlx.withGpus({7, 9});
    run.adlx.setting("g0.chill").value = 0;
    run.adlx.setting("g1.chill").value = 0;
    run.adlx.setting("g1.vsync-mode").value = 2;
    ASSERT_EQ(run.apply(1), 0);
    const std::string applied = run.backup();
    run.adlx.gpus.pop_back();
    run.sink.lines.clear();
    EXPECT_EQ(run.restore(), 22);
    // rsr, afmf and GPU 7's eleven "gamer" rows back; GPU 9's eleven unreached.
    EXPECT_EQ(run.line(), incompleteLine(24, 13));
    EXPECT_EQ(run.backup(), applied);
    EXPECT_EQ(fakeValue(run.adlx, "g0.chill"), 0);
    run.adlx.withGpus({7, 9});
    run.sink.lines.clear();
    EXPECT_EQ(run.restore(), 0);
    EXPECT_EQ(run.line(), okLine(24));
    EXPECT_FALSE(run.hasBackup());
    EXPECT_EQ(fakeValue(run.adlx, "g1.chill"), 0);
    EXPECT_EQ(fakeValue(run.adlx, "g1.vsync-mode"), 2);
    expectCleanEnd(run);
}

TEST(AmdRestore, ForeignEntriesOutliveACompleteRestore) {
    struct Case {
        const char* name;
        std::string before;
        std::string after;  // "<none>" when the file is gone
    };
    const Case cases[] = {
        {"ours and others: rewritten with the others",
         "format=1\nvendor=amd\ngpu.1.chill=1\nsetting.0x1=value:0x00000001\nzz=\n",
         "format=1\nvendor=amd\nsetting.0x1=value:0x00000001\nzz=\n"},
        {"only others: left exactly as it stands",
         "format=1\r\nvendor=nvidia\r\nsetting.0x1=missing\r\n",
         "format=1\r\nvendor=nvidia\r\nsetting.0x1=missing\r\n"},
        {"only ours: deleted", "format=1\nvendor=amd\ngpu.1.chill=1\nglobal.rsr=0\n", "<none>"},
        {"keys that only look like ours are another tool's",
         "format=1\nvendor=amd\ngpu.1.chill=1\ngpu.1.other-tool=5\ngpu.01.chill=1\ngpu.x=2\n",
         "format=1\nvendor=amd\ngpu.01.chill=1\ngpu.1.other-tool=5\ngpu.x=2\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        AmdHarness run;
        run.adlx.withGpus({1});
        run.plantBackup(c.before);
        EXPECT_EQ(run.restore(), 0);
        EXPECT_EQ(run.backup(), c.after);
    }
}

TEST(AmdRestore, BackupThatCannotBeRetiredIsReportedIncomplete) {
    AmdHarness run;
    run.adlx.withGpus({1});
    run.plantBackup("format=1\nvendor=amd\ngpu.1.chill=0\nother=1\n");
    run.files.failOn("open");
    EXPECT_EQ(run.restore(), 22);
    EXPECT_EQ(run.line(), incompleteLine(1, 1));
    EXPECT_EQ(run.backup(), "format=1\nvendor=amd\ngpu.1.chill=0\nother=1\n");
}

}  // namespace
