// Loading from the system directory only: separator refusal, both build branches, and the
// preload's order, skip rules and sticky status.
#include "nvidia/nvapi_system_library.h"

#include <gtest/gtest.h>

#include "tests/nvidia/fake_loader_os.h"

namespace {

using Lines = std::vector<std::string>;

const Lines kPreloadsByName = {
    "load msasn1.dll 0x800", "load cryptnet.dll 0x800", "load cryptbase.dll 0x800",
    "load wldp.dll 0x800",   "load drvstore.dll 0x800", "load devobj.dll 0x800",
};

TEST(SystemLibraryTest, RefusesNamesWithSeparatorsBeforeAskingAnything) {
    for (const wchar_t* name : {L"sub\\nvapi64.dll", L"sub/nvapi64.dll", L"\\nvapi64.dll",
                                L"C:/windows/system32/nvapi64.dll"}) {
        FakeLoaderOs os;
        SystemLibraryLoader loader(os);
        const LoadResult result = loader.load(name, 0x800);
        EXPECT_EQ(result.handle, nullptr) << narrow(name);
        EXPECT_EQ(result.error, 160u) << narrow(name);
        EXPECT_EQ(os.log, Lines{}) << narrow(name);
    }
}

TEST(SystemLibraryTest, LoadsFromTheSystemDirectoryOnEachBuildClass) {
    struct Case {
        bool build9200;
        std::wstring systemDir;
        uint32_t flags;
        std::string expectedLoad;
    };
    const Case cases[] = {
        {true, L"C:\\windows\\system32", 0x800, "load x.dll 0x800"},
        {true, L"C:\\windows\\system32", 0, "load x.dll 0x800"},
        {true, L"C:\\windows\\system32", 0x1F0A, "load x.dll 0x802"},
        {false, L"C:\\windows\\system32", 0x800, "load C:\\windows\\system32\\x.dll 0x0"},
        {false, L"C:\\", 0x800, "load C:\\x.dll 0x0"},
        {false, L"D:\\sys", 0x1F0A, "load D:\\sys\\x.dll 0x2"},
    };
    for (const Case& c : cases) {
        FakeLoaderOs os;
        os.build9200 = c.build9200;
        os.systemDir = c.systemDir;
        SystemLibraryLoader loader(os);
        EXPECT_NE(loader.load(L"x.dll", c.flags).handle, nullptr) << c.expectedLoad;
        EXPECT_NE(loader.load(L"x.dll", c.flags).handle, nullptr) << c.expectedLoad;
        EXPECT_EQ(os.linesStarting(c.expectedLoad).size(), 2u) << c.expectedLoad;
        EXPECT_EQ(os.log.back(), c.expectedLoad);
        EXPECT_EQ(os.linesStarting("build?").size(), 1u) << "the build is asked once";
        EXPECT_EQ(loader.buildClass(), c.build9200 ? 9200 : 7600);
    }
}

TEST(SystemLibraryTest, PreloadsSixLibrariesInOrderOnceBeforeTheFirstLoad) {
    FakeLoaderOs os;
    SystemLibraryLoader loader(os);
    loader.load(L"a.dll", 0x800);
    loader.load(L"b.dll", 0x800);
    Lines expected = {"build?", "modulepath"};
    expected.insert(expected.end(), kPreloadsByName.begin(), kPreloadsByName.end());
    expected.insert(expected.end(), {"load a.dll 0x800", "load b.dll 0x800"});
    EXPECT_EQ(os.log, expected);
    EXPECT_EQ(os.liveHandles("cryptbase.dll"), 1);
}

TEST(SystemLibraryTest, PreloadsByFullPathBeforeBuild9200) {
    FakeLoaderOs os;
    os.build9200 = false;
    SystemLibraryLoader loader(os);
    loader.load(L"a.dll", 0x800);
    const Lines loads = os.linesStarting("load ");
    ASSERT_EQ(loads.size(), 7u);
    EXPECT_EQ(loads[0], "load C:\\windows\\system32\\msasn1.dll 0x0");
    EXPECT_EQ(loads[5], "load C:\\windows\\system32\\devobj.dll 0x0");
}

TEST(SystemLibraryTest, PreloadFailuresSetTheStickyStatus) {
    struct Case {
        const char* name;
        std::map<std::string, uint32_t> errors;
        int status;
        uint32_t error;  // of the target load; 0 means it loaded
        size_t loadsOnSecondCall;
    };
    const std::map<std::string, uint32_t> allMissing = {
        {"msasn1.dll", 126}, {"cryptnet.dll", 126}, {"cryptbase.dll", 126},
        {"wldp.dll", 126},   {"drvstore.dll", 126}, {"devobj.dll", 126},
    };
    std::map<std::string, uint32_t> onlyCryptnet = allMissing;
    onlyCryptnet.erase("cryptnet.dll");
    const Case cases[] = {
        {"missing modules are no failure; nothing held, so preload again", allMissing, 1, 0, 7},
        {"cryptnet alone does not mark the preload done, and is not loaded twice", onlyCryptnet, 1,
         0, 6},
        {"any other error fails for good", {{"wldp.dll", 5}}, 0, 5, 0},
        {"the first failure's error is kept", {{"msasn1.dll", 87}, {"devobj.dll", 5}}, 0, 87, 0},
        {"cryptbase never changes the status", {{"cryptbase.dll", 5}}, 1, 0, 1},
    };
    for (const Case& c : cases) {
        FakeLoaderOs os;
        os.loadErrors = c.errors;
        SystemLibraryLoader loader(os);
        const LoadResult first = loader.load(L"target.dll", 0x800);
        EXPECT_EQ(loader.preloadStatus(), c.status) << c.name;
        EXPECT_EQ(first.error, c.error) << c.name;
        EXPECT_EQ(first.handle != nullptr, c.error == 0) << c.name;
        EXPECT_EQ(os.linesStarting("load target.dll").size(), c.error == 0 ? 1u : 0u) << c.name;
        const size_t before = os.linesStarting("load ").size();
        const LoadResult second = loader.load(L"target.dll", 0x800);
        EXPECT_EQ(second.error, c.error) << c.name;
        EXPECT_EQ(os.linesStarting("load ").size() - before, c.loadsOnSecondCall) << c.name;
        EXPECT_LE(os.liveHandles("cryptnet.dll"), 1) << c.name;
    }
}

TEST(SystemLibraryTest, SkipsThePreloadInMfpmpComparingSevenCharacters) {
    struct Case {
        std::string programPath;
        bool preloads;
    };
    const Case cases[] = {
        {"C:\\windows\\system32\\mfpmp.exe", false},
        {"C:\\x\\mfpmp.dll", false},  // only "\mfpmp." is compared
        {"C:\\x\\mfpmp.", false},
        {"C:\\x\\MFPMP.EXE", true},
        {"C:\\x\\mfpmpx.exe", true},
        {"C:\\x\\mfpmp", true},
        {"C:\\mfpmp.exe\\tool.exe", true},
        {"mfpmp.exe", true},  // no "\" at all
        {"", true},           // path unknown
    };
    for (const Case& c : cases) {
        FakeLoaderOs os;
        os.programPath = c.programPath;
        SystemLibraryLoader loader(os);
        loader.load(L"a.dll", 0x800);
        EXPECT_EQ(os.linesStarting("load ").size(), c.preloads ? 7u : 1u) << c.programPath;
    }
}

TEST(SystemLibraryTest, LoadsNothingBefore9200WithoutASystemDirectory) {
    FakeLoaderOs os;
    os.build9200 = false;
    os.systemDir.clear();
    os.systemDirError = 0;
    SystemLibraryLoader loader(os);
    const LoadResult result = loader.load(L"a.dll", 0x800);
    EXPECT_EQ(result.handle, nullptr);
    EXPECT_EQ(result.error, 3u);
    EXPECT_EQ(os.linesStarting("load ").size(), 0u);
    EXPECT_EQ(loader.preloadStatus(), 0);
}

}  // namespace
