// ADLXHelper against a fake loader whose exports are plain functions logging to one list.
#include "amd/adlx_helper.h"

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "windows/function_cast.h"

namespace {

std::vector<std::string> g_calls;
ADLX_RESULT g_initResult = ADLX_OK;
IADLXSystem* const kSystem = reinterpret_cast<IADLXSystem*>(0x5151);
IADLMapping* const kMapping = reinterpret_cast<IADLMapping*>(0x6161);
const char* const kVersionText = "1.5.0.124";

ADLX_RESULT queryFullVersion(uint64_t* v) {
    g_calls.push_back("ADLXQueryFullVersion");
    *v = 0x11;
    return ADLX_OK;
}
ADLX_RESULT queryVersion(const char** v) {
    g_calls.push_back("ADLXQueryVersion");
    *v = kVersionText;
    return ADLX_FAIL;  // ignored
}
ADLX_RESULT initializeWithCallerAdl(uint64_t, void*, void*, IADLXSystem**, IADLMapping**) {
    g_calls.push_back("ADLXInitializeWithCallerAdl");
    return ADLX_OK;
}
ADLX_RESULT initializeWithIncompatibleDriver(uint64_t, IADLXSystem**) {
    g_calls.push_back("ADLXInitializeWithIncompatibleDriver");
    return ADLX_OK;
}
ADLX_RESULT initialize(uint64_t version, IADLXSystem** system) {
    g_calls.push_back("ADLXInitialize " + std::to_string(version));
    *system = kSystem;
    return g_initResult;
}
ADLX_RESULT initializeWithIncompatibleDriver2(uint64_t, IADLXSystem**, IADLMapping**) {
    g_calls.push_back("ADLXInitializeWithIncompatibleDriver2");
    return ADLX_OK;
}
ADLX_RESULT initialize2(uint64_t version, IADLXSystem** system, IADLMapping** mapping) {
    g_calls.push_back("ADLXInitialize2 " + std::to_string(version));
    *system = kSystem;
    *mapping = kMapping;
    return g_initResult;
}
ADLX_RESULT terminate() {
    g_calls.push_back("ADLXTerminate");
    return 7;
}

class FakeLoader : public RuntimeLibraries {
  public:
    bool loads = true;
    std::set<std::string> missing;

    LoadResult loadLibrary(const std::wstring& fileName, uint32_t flags) override {
        g_calls.push_back("load " + std::string(fileName.begin(), fileName.end()) + " " +
                          std::to_string(flags));
        return {loads ? module() : nullptr, 0};
    }
    RawFunction resolve(ModuleHandle handle, const char* name) override {
        EXPECT_EQ(handle, module());
        g_calls.push_back(std::string("resolve ") + name);
        if (missing.count(name) != 0) {
            return nullptr;
        }
        const std::map<std::string, RawFunction> exports = {
            {"ADLXQueryFullVersion", functionAs<RawFunction>(&queryFullVersion)},
            {"ADLXQueryVersion", functionAs<RawFunction>(&queryVersion)},
            {"ADLXInitializeWithCallerAdl", functionAs<RawFunction>(&initializeWithCallerAdl)},
            {"ADLXInitializeWithIncompatibleDriver",
             functionAs<RawFunction>(&initializeWithIncompatibleDriver)},
            {"ADLXInitialize", functionAs<RawFunction>(&initialize)},
            {"ADLXInitializeWithIncompatibleDriver2",
             functionAs<RawFunction>(&initializeWithIncompatibleDriver2)},
            {"ADLXInitialize2", functionAs<RawFunction>(&initialize2)},
            {"ADLXTerminate", functionAs<RawFunction>(&terminate)},
        };
        const auto found = exports.find(name);
        return found != exports.end() ? found->second : nullptr;
    }
    void freeLibrary(ModuleHandle handle) override {
        EXPECT_EQ(handle, module());
        g_calls.push_back("unload");
    }
    static ModuleHandle module() { return reinterpret_cast<ModuleHandle>(0x4242); }
};

const std::string kVersion = std::to_string(0x000100050000007CULL);
const std::string kLoad = "load amdadlx64.dll 7680";
const std::vector<std::string> kResolveNewer = {
    "resolve ADLXQueryFullVersion", "resolve ADLXQueryVersion",
    "resolve ADLXInitializeWithCallerAdl", "resolve ADLXInitializeWithIncompatibleDriver2",
    "resolve ADLXInitialize2"};

std::vector<std::string> concat(std::vector<std::vector<std::string>> parts) {
    std::vector<std::string> all;
    for (auto& part : parts) {
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}

class AdlxHelperTest : public ::testing::Test {
  protected:
    void SetUp() override {
        g_calls.clear();
        g_initResult = ADLX_OK;
    }
    FakeLoader loader;
};

TEST_F(AdlxHelperTest, FullLibraryPrefersInitialize2) {
    ADLXHelper helper(loader);
    EXPECT_EQ(helper.GetSystemServices(), nullptr);
    EXPECT_EQ(helper.Initialize(), ADLX_OK);
    EXPECT_EQ(helper.GetSystemServices(), kSystem);
    EXPECT_EQ(g_calls, concat({{kLoad},
                               kResolveNewer,
                               {"resolve ADLXTerminate", "ADLXQueryFullVersion", "ADLXQueryVersion",
                                "ADLXInitialize2 " + kVersion}}));
    g_calls.clear();
    EXPECT_EQ(helper.Terminate(), 7);
    EXPECT_EQ(helper.GetSystemServices(), nullptr);
    EXPECT_EQ(g_calls, (std::vector<std::string>{"ADLXTerminate", "unload"}));
    g_calls.clear();
    EXPECT_EQ(helper.Terminate(), ADLX_OK);  // the second does nothing
    EXPECT_TRUE(g_calls.empty());
}

TEST_F(AdlxHelperTest, InitializeResultPassesThrough) {
    for (ADLX_RESULT code : {1, 2, 3, 9, -1}) {
        g_calls.clear();
        g_initResult = code;
        ADLXHelper helper(loader);
        EXPECT_EQ(helper.Initialize(), code);
    }
}

TEST_F(AdlxHelperTest, OlderPairOnlyWithoutIncompatibleDriver2) {
    struct Case {
        std::set<std::string> missing;
        ADLX_RESULT result;
        std::vector<std::string> calls;
    };
    const std::vector<std::string> resolveAll =
        concat({kResolveNewer,
                {"resolve ADLXInitializeWithIncompatibleDriver", "resolve ADLXInitialize",
                 "resolve ADLXTerminate"}});
    const std::vector<std::string> queries = {"ADLXQueryFullVersion", "ADLXQueryVersion"};
    const Case cases[] = {
        // Without the newer incompatible-driver entry the older pair is resolved, and
        // Initialize2 is still preferred when present.
        {{"ADLXInitializeWithIncompatibleDriver2"},
         ADLX_OK,
         concat({{kLoad}, resolveAll, queries, {"ADLXInitialize2 " + kVersion}})},
        {{"ADLXInitializeWithIncompatibleDriver2", "ADLXInitialize2"},
         ADLX_OK,
         concat({{kLoad}, resolveAll, queries, {"ADLXInitialize " + kVersion}})},
        // With it but without Initialize2 the older pair is never looked at.
        {{"ADLXInitialize2"},
         ADLX_FAIL,
         concat({{kLoad}, kResolveNewer, {"resolve ADLXTerminate"}})},
        {{"ADLXInitializeWithIncompatibleDriver2", "ADLXInitialize"},
         ADLX_FAIL,
         concat({{kLoad}, resolveAll})},
        {{"ADLXInitializeWithCallerAdl"},
         ADLX_FAIL,
         concat({{kLoad}, kResolveNewer, {"resolve ADLXTerminate"}})},
        {{"ADLXTerminate"}, ADLX_FAIL, concat({{kLoad}, kResolveNewer, {"resolve ADLXTerminate"}})},
        {{"ADLXQueryFullVersion"},
         ADLX_FAIL,
         concat({{kLoad}, kResolveNewer, {"resolve ADLXTerminate"}})},
        {{"ADLXQueryVersion"},
         ADLX_FAIL,
         concat({{kLoad}, kResolveNewer, {"resolve ADLXTerminate"}})},
    };
    for (const Case& c : cases) {
        g_calls.clear();
        loader.missing = c.missing;
        ADLXHelper helper(loader);
        EXPECT_EQ(helper.Initialize(), c.result) << *c.missing.begin();
        EXPECT_EQ(g_calls, c.calls) << *c.missing.begin();
    }
}

TEST_F(AdlxHelperTest, MissingLibraryCallsNothing) {
    loader.loads = false;
    ADLXHelper helper(loader);
    EXPECT_EQ(helper.Initialize(), ADLX_FAIL);
    EXPECT_EQ(helper.GetSystemServices(), nullptr);
    EXPECT_EQ(helper.Terminate(), ADLX_OK);
    EXPECT_EQ(g_calls, (std::vector<std::string>{kLoad}));
}

TEST_F(AdlxHelperTest, LoadedOnceAcrossInitializeCalls) {
    loader.missing = {"ADLXTerminate"};
    ADLXHelper helper(loader);
    EXPECT_EQ(helper.Initialize(), ADLX_FAIL);
    g_calls.clear();
    EXPECT_EQ(helper.Initialize(), ADLX_FAIL);
    EXPECT_TRUE(g_calls.empty());
    // Without the entry Terminate still unloads.
    EXPECT_EQ(helper.Terminate(), ADLX_OK);
    EXPECT_EQ(g_calls, (std::vector<std::string>{"unload"}));
}

TEST_F(AdlxHelperTest, DestructorTerminatesAfterFailedInitialize) {
    g_initResult = ADLX_FAIL;
    {
        ADLXHelper helper(loader);
        EXPECT_EQ(helper.Initialize(), ADLX_FAIL);
        g_calls.clear();
    }
    EXPECT_EQ(g_calls, (std::vector<std::string>{"ADLXTerminate", "unload"}));
}

TEST_F(AdlxHelperTest, LibraryThatFailedToLoadIsLoadedAtTheNextInitialize) {
    loader.loads = false;
    ADLXHelper helper(loader);
    EXPECT_EQ(helper.Initialize(), ADLX_FAIL);
    loader.loads = true;
    EXPECT_EQ(helper.Initialize(), ADLX_OK);
    EXPECT_EQ(g_calls, concat({{kLoad, kLoad},
                               kResolveNewer,
                               {"resolve ADLXTerminate", "ADLXQueryFullVersion", "ADLXQueryVersion",
                                "ADLXInitialize2 " + kVersion}}));
}

}  // namespace
