#include <gtest/gtest.h>

#include "tests/amd/amd_harness.h"

namespace {

using Log = std::vector<std::string>;

const char* const kOk = "result=ok;vendor=AMD;supported=1;changed=0;message=GPU AMD detectada";

// Every object obtained, released in reverse, then the line.
const Log kWholeRun = {
    "Initialize",       "GetSystemServices", "GetGPUs",   "Empty", "Get3DSettingsServices",
    "Release services", "Release gpus",      "Terminate", "print"};

struct StatusCase {
    const char* name;
    void (*setUp)(FakeAdlx&);
    int exitCode;
    const char* line;
    Log log;
};

TEST(AmdStatus, EveryPath) {
    const StatusCase cases[] = {
        {"two GPUs still count one",
         [](FakeAdlx& a) {
             a.withGpus({7, -2});
         },
         0, kOk, kWholeRun},
        {"initialise refused",
         [](FakeAdlx& a) { a.initializeResult = ADLX_FAIL; },
         10,
         kUnavailable,
         {"Initialize", "print"}},
        {"already initialised is success",
         [](FakeAdlx& a) { a.initializeResult = ADLX_ALREADY_INITIALIZED; }, 0, kOk, kWholeRun},
        {"no system services",
         [](FakeAdlx& a) { a.systemPresent = false; },
         10,
         kUnavailable,
         {"Initialize", "GetSystemServices", "Terminate", "print"}},
        {"empty GPU list",
         [](FakeAdlx& a) { a.withGpus({}); },
         10,
         kUnavailable,
         {"Initialize", "GetSystemServices", "GetGPUs", "Empty", "Release gpus", "Terminate",
          "print"}},
        {"GetGPUs fails but hands out a list",
         [](FakeAdlx& a) { a.getGpusResult = ADLX_FAIL; },
         10,
         kUnavailable,
         {"Initialize", "GetSystemServices", "GetGPUs", "Release gpus", "Terminate", "print"}},
        {"GetGPUs gives no list",
         [](FakeAdlx& a) { a.gpuListPresent = false; },
         10,
         kUnavailable,
         {"Initialize", "GetSystemServices", "GetGPUs", "Terminate", "print"}},
        {"no 3D services",
         [](FakeAdlx& a) { a.servicesPresent = false; },
         10,
         kUnavailable,
         {"Initialize", "GetSystemServices", "GetGPUs", "Empty", "Get3DSettingsServices",
          "Release gpus", "Terminate", "print"}},
        {"3D services fail but hand out an object", [](FakeAdlx& a) { a.servicesResult = 4; }, 10,
         kUnavailable, kWholeRun},
    };
    for (const StatusCase& c : cases) {
        SCOPED_TRACE(c.name);
        AmdHarness run;
        run.adlx.withGpus({1});  // one GPU unless the row says otherwise
        c.setUp(run.adlx);
        EXPECT_EQ(run.status(), c.exitCode);
        EXPECT_EQ(run.line(), c.line);
        EXPECT_EQ(run.adlx.log, c.log);
        EXPECT_EQ(run.adlx.liveObjects(), 0);
        EXPECT_EQ(run.adlx.misuses(), 0u);
        EXPECT_TRUE(run.files.files.empty());
    }
}

}  // namespace
