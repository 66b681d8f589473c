// The loader's binding, counted wrappers and call gate, against a fake OS and a fake
// driver library that log into one sequence.
#include "nvidia/nvapi_loader.h"

#include <gtest/gtest.h>

#include "tests/nvidia/fake_loader_os.h"
#include "tests/nvidia/fake_nvapi_library.h"

namespace {

using Lines = std::vector<std::string>;

const Lines kPreloads = {
    "load msasn1.dll 0x800", "load cryptnet.dll 0x800", "load cryptbase.dll 0x800",
    "load wldp.dll 0x800",   "load drvstore.dll 0x800", "load devobj.dll 0x800",
};

const Lines kBind = {
    "load nvapi64.dll 0x800", "resolve nvapi64.dll nvapi_QueryInterface",
    "query 0x150E828",        "initialize",
    "query 0x33C7358C",       "query 0x593E8644",
};

Lines join(std::initializer_list<Lines> parts) {
    Lines all;
    for (const Lines& part : parts) {
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}

class NvapiLoaderTest : public ::testing::Test {
  protected:
    NvapiLoaderTest() { library.offerAll(); }

    /// The log from line `mark` on.
    Lines since(size_t mark) const { return Lines(os.log.begin() + mark, os.log.end()); }

    NvAPI_Status createSession() {
        NvDRSSessionHandle session = nullptr;
        return loader.call<NvAPI_DRS_CreateSession_t>(nvapiid::kCreateSession, &session);
    }

    void expectCounts(int initCount, int initialised) {
        EXPECT_EQ(loader.initCount(), initCount);
        EXPECT_EQ(loader.initialised(), initialised);
        EXPECT_EQ(loader.callsInFlight(), 0);
    }

    /// Once the fault is gone, one more unload lets go of everything.
    void expectTheNextUnloadFrees() {
        EXPECT_EQ(loader.unload(), NVAPI_OK);
        EXPECT_FALSE(loader.loaded());
        EXPECT_EQ(os.liveHandles("nvapi64.dll"), 0);
        expectCounts(0, 0);
    }

    FakeLoaderOs os;
    FakeNvapiLibrary library{os};
    NvapiLoader loader{os};
};

TEST_F(NvapiLoaderTest, WithoutTheLibraryInitializeFailsAndKeepsThePreloads) {
    os.loadErrors["nvapi64.dll"] = 126;
    EXPECT_EQ(loader.initialize(), NVAPI_LIBRARY_NOT_FOUND);
    EXPECT_EQ(os.log, join({{"create lock", "lock", "build?", "modulepath"},
                            kPreloads,
                            {"load nvapi64.dll 0x800", "unlock"}}));
    for (const char* name : {"msasn1.dll", "cryptnet.dll", "cryptbase.dll", "wldp.dll",
                             "drvstore.dll", "devobj.dll"}) {
        EXPECT_EQ(os.liveHandles(name), 1) << name;
    }
    EXPECT_FALSE(loader.loaded());
    expectCounts(0, 0);
}

TEST_F(NvapiLoaderTest, InitializeBindsAndTheMatchingUnloadFrees) {
    EXPECT_EQ(loader.initialize(), NVAPI_OK);
    EXPECT_EQ(
        os.log,
        join({{"create lock", "lock", "build?", "modulepath"}, kPreloads, kBind, {"unlock"}}));
    EXPECT_TRUE(loader.loaded());
    expectCounts(1, 1);

    const size_t mark = os.log.size();
    EXPECT_EQ(loader.unload(), NVAPI_OK);
    EXPECT_EQ(since(mark),
              (Lines{"lock", "query 0xD7C61344", "unload(0)", "free nvapi64.dll", "unlock"}));
    EXPECT_FALSE(loader.loaded());
    EXPECT_EQ(os.liveHandles("nvapi64.dll"), 0);
    EXPECT_EQ(os.liveHandles("msasn1.dll"), 1);
    expectCounts(0, 0);
    EXPECT_EQ(os.locksCreated, 1);
}

TEST_F(NvapiLoaderTest, FailedBindFreesTheLibraryAndReturnsTheStatus) {
    struct Case {
        const char* name;
        std::function<void(FakeNvapiLibrary&)> breakIt;
        NvAPI_Status status;
        std::string lastDriverLine;
    };
    const Case cases[] = {
        {"no query export", [](FakeNvapiLibrary& l) { l.os.exports.clear(); }, NVAPI_ERROR,
         "resolve nvapi64.dll nvapi_QueryInterface"},
        {"no initialise entry", [](FakeNvapiLibrary& l) { l.entries.erase(nvapiid::kInitialize); },
         NVAPI_ERROR, "query 0x150E828"},
        {"initialise fails", [](FakeNvapiLibrary& l) { l.initStatus = -5; }, -5, "initialize"},
        {"initialise gives a positive status", [](FakeNvapiLibrary& l) { l.initStatus = 7; }, 7,
         "initialize"},
    };
    for (const Case& c : cases) {
        FakeLoaderOs os;
        FakeNvapiLibrary library(os);
        library.offerAll();
        c.breakIt(library);
        NvapiLoader loader(os);
        EXPECT_EQ(loader.initialize(), c.status) << c.name;
        ASSERT_GE(os.log.size(), 3u);
        EXPECT_EQ(Lines(os.log.end() - 3, os.log.end()),
                  (Lines{c.lastDriverLine, "free nvapi64.dll", "unlock"}))
            << c.name;
        EXPECT_EQ(os.liveHandles("nvapi64.dll"), 0) << c.name;
        EXPECT_FALSE(loader.loaded()) << c.name;
        EXPECT_EQ(loader.initCount(), 0) << c.name;
        EXPECT_EQ(loader.callsInFlight(), 0) << c.name;
        EXPECT_EQ(loader.unload(), NVAPI_API_NOT_INITIALIZED) << c.name;
    }
}

TEST_F(NvapiLoaderTest, SecondInitializeOnlyCountsAndItsUnloadKeepsTheLibrary) {
    ASSERT_EQ(loader.initialize(), NVAPI_OK);
    size_t mark = os.log.size();
    EXPECT_EQ(loader.initialize(), NVAPI_OK);
    EXPECT_EQ(since(mark), (Lines{"lock", "unlock"}));
    expectCounts(2, 1);

    mark = os.log.size();
    EXPECT_EQ(loader.unload(), NVAPI_OK);
    EXPECT_EQ(since(mark), (Lines{"lock", "query 0xD7C61344", "unlock"}));
    EXPECT_EQ(os.liveHandles("nvapi64.dll"), 1);
    expectCounts(1, 1);

    expectTheNextUnloadFrees();
}

TEST_F(NvapiLoaderTest, UnloadPrefersTheEntryWithAnArgument) {
    struct Case {
        const char* name;
        std::vector<NvU32> lacking;
        NvAPI_Status status;
        Lines log;
    };
    const Case cases[] = {
        {"both",
         {},
         NVAPI_OK,
         {"lock", "query 0xD7C61344", "unload(0)", "free nvapi64.dll", "unlock"}},
        {"only the library's own",
         {nvapiid::kUnloadWithArgument},
         NVAPI_OK,
         {"lock", "query 0xD7C61344", "query 0xD22BDD7E", "unload()", "free nvapi64.dll",
          "unlock"}},
        {"neither",
         {nvapiid::kUnloadWithArgument, nvapiid::kUnload},
         NVAPI_NO_IMPLEMENTATION,
         {"lock", "query 0xD7C61344", "query 0xD22BDD7E", "unlock"}},
    };
    for (const Case& c : cases) {
        FakeLoaderOs os;
        FakeNvapiLibrary library(os);
        library.offerAll(c.lacking);
        NvapiLoader loader(os);
        ASSERT_EQ(loader.initialize(), NVAPI_OK) << c.name;
        const size_t mark = os.log.size();
        EXPECT_EQ(loader.unload(), c.status) << c.name;
        EXPECT_EQ(Lines(os.log.begin() + mark, os.log.end()), c.log) << c.name;
        const bool freed = c.status == NVAPI_OK;
        EXPECT_EQ(loader.loaded(), !freed) << c.name;
        EXPECT_EQ(loader.initCount(), freed ? 0 : 1) << c.name;
    }
}

TEST_F(NvapiLoaderTest, UnloadWithoutInitializeTouchesNothing) {
    EXPECT_EQ(loader.unload(), NVAPI_API_NOT_INITIALIZED);
    EXPECT_EQ(os.log, (Lines{"create lock", "lock", "unlock"}));
}

TEST_F(NvapiLoaderTest, UnloadDuringACallRefusesAndRestoresTheCounts) {
    ASSERT_EQ(loader.initialize(), NVAPI_OK);
    NvAPI_Status nested = NVAPI_OK;
    int inFlight = 0;
    library.duringCall = [&] {
        inFlight = loader.callsInFlight();
        nested = loader.unload();
    };
    EXPECT_EQ(createSession(), NVAPI_OK);
    EXPECT_EQ(inFlight, 1);
    EXPECT_EQ(nested, NVAPI_UNLOAD_CALLS_IN_PROGRESS);
    EXPECT_EQ(os.linesStarting("unload(").size(), 0u);
    EXPECT_TRUE(loader.loaded());
    expectCounts(1, 1);

    library.duringCall = nullptr;
    expectTheNextUnloadFrees();
}

TEST_F(NvapiLoaderTest, FailingUnloadEntryRestoresTheCountsAndKeepsTheLibrary) {
    ASSERT_EQ(loader.initialize(), NVAPI_OK);
    ASSERT_EQ(loader.initialize(), NVAPI_OK);
    ASSERT_EQ(loader.unload(), NVAPI_OK);
    library.unloadStatus = -9;
    EXPECT_EQ(loader.unload(), NVAPI_ERROR);
    EXPECT_TRUE(loader.loaded());
    EXPECT_EQ(os.liveHandles("nvapi64.dll"), 1);
    expectCounts(1, 1);

    library.unloadStatus = NVAPI_OK;
    expectTheNextUnloadFrees();
}

TEST_F(NvapiLoaderTest, CallsWaitForAnUnloadTenTimesThenGiveUp) {
    ASSERT_EQ(loader.initialize(), NVAPI_OK);
    NvAPI_Status nested = NVAPI_OK;
    library.duringUnload = [&] { nested = createSession(); };
    const size_t mark = os.log.size();
    EXPECT_EQ(loader.unload(), NVAPI_OK);
    EXPECT_EQ(nested, NVAPI_ERROR);
    Lines expected = {"lock", "query 0xD7C61344", "unload(0)"};
    expected.insert(expected.end(), 10, "sleep 100");
    expected.insert(expected.end(), {"free nvapi64.dll", "unlock"});
    EXPECT_EQ(since(mark), expected);
    expectCounts(0, 0);
}

TEST_F(NvapiLoaderTest, HooksRunOnlyWhenTheLibraryOffersBoth) {
    struct Case {
        const char* name;
        std::vector<NvU32> lacking;
        Lines callLog;
    };
    const Case cases[] = {
        {"both",
         {},
         {"query 0x694D52E", "before 0x694D52E cookie 0x0", "create session",
          "after 0x694D52E cookie 0xC00C status -160"}},
        {"no after-call hook", {nvapiid::kAfterCallHook}, {"query 0x694D52E", "create session"}},
        {"no before-call hook", {nvapiid::kBeforeCallHook}, {"query 0x694D52E", "create session"}},
    };
    for (const Case& c : cases) {
        FakeLoaderOs os;
        FakeNvapiLibrary library(os);
        library.offerAll(c.lacking);
        library.callStatus = NVAPI_SETTING_NOT_FOUND;
        NvapiLoader loader(os);
        ASSERT_EQ(loader.initialize(), NVAPI_OK) << c.name;
        const size_t mark = os.log.size();
        NvDRSSessionHandle session = nullptr;
        EXPECT_EQ(loader.call<NvAPI_DRS_CreateSession_t>(nvapiid::kCreateSession, &session),
                  NVAPI_SETTING_NOT_FOUND)
            << c.name;
        EXPECT_EQ(session, kFakeSession) << c.name;
        EXPECT_EQ(Lines(os.log.begin() + mark, os.log.end()), c.callLog) << c.name;
    }
}

TEST_F(NvapiLoaderTest, EntryCacheIsFilledOnceAndClearedWithTheLibrary) {
    ASSERT_EQ(loader.initialize(), NVAPI_OK);
    EXPECT_EQ(createSession(), NVAPI_OK);
    EXPECT_EQ(createSession(), NVAPI_OK);
    EXPECT_EQ(os.linesStarting("query 0x694D52E").size(), 1u);
    EXPECT_EQ(os.linesStarting("create session").size(), 2u);

    ASSERT_EQ(loader.unload(), NVAPI_OK);
    ASSERT_EQ(loader.initialize(), NVAPI_OK);
    EXPECT_EQ(createSession(), NVAPI_OK);
    EXPECT_EQ(os.linesStarting("query 0x694D52E").size(), 2u);
    EXPECT_EQ(os.linesStarting("load nvapi64.dll").size(), 2u);
    EXPECT_EQ(os.linesStarting("load msasn1.dll").size(), 1u) << "preloaded once";
}

TEST_F(NvapiLoaderTest, FirstCallBindsUnderTheLockAndPassesItsArguments) {
    NVDRS_SETTING record{};
    const auto profile = reinterpret_cast<NvDRSProfileHandle>(0xF00);
    EXPECT_EQ(loader.call<NvAPI_DRS_GetSetting_t>(nvapiid::kGetSetting, kFakeSession, profile,
                                                  NvU32{0x1057EB71}, &record),
              NVAPI_OK);
    EXPECT_EQ(record.u32CurrentValue, 42u);
    EXPECT_EQ(os.log, join({{"create lock", "lock", "build?", "modulepath"},
                            kPreloads,
                            kBind,
                            {"unlock", "query 0x73BF8338", "before 0x73BF8338 cookie 0x0",
                             "get setting 0x5E55 0xF00 0x1057EB71",
                             "after 0x73BF8338 cookie 0xC00C status 0"}}));
    // A first driver call counts as the one initialise that a later unload matches.
    expectCounts(1, 1);
    EXPECT_EQ(loader.unload(), NVAPI_OK);
    EXPECT_FALSE(loader.loaded());
}

TEST_F(NvapiLoaderTest, CallsFailWithTheLoaderStatusAndUncount) {
    os.loadErrors["nvapi64.dll"] = 126;
    EXPECT_EQ(createSession(), NVAPI_LIBRARY_NOT_FOUND);
    EXPECT_EQ(loader.callsInFlight(), 0);
    os.loadErrors.clear();

    NvDRSSessionHandle none = nullptr;
    for (int attempt = 0; attempt < 2; ++attempt) {
        EXPECT_EQ(loader.call<NvAPI_DRS_DestroySession_t>(nvapiid::kDestroySession, none),
                  NVAPI_NO_IMPLEMENTATION);
        EXPECT_EQ(loader.callsInFlight(), 0);
    }
    EXPECT_EQ(os.linesStarting("query 0xDAD9CFF8").size(), 2u) << "a missing entry is not cached";
}

}  // namespace
