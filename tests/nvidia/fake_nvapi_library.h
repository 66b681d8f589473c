// A fake "nvapi64.dll": its query entry hands out test functions that write what they
// were called with into the fake OS's log, so driver calls and OS calls share one order.
#pragma once

#include <functional>
#include <map>
#include <vector>

#include "contracts/nvapi_types.h"
#include "tests/nvidia/fake_loader_os.h"

/// The one fake library of the running test; the test functions reach it through here.
struct FakeNvapiLibrary {
    explicit FakeNvapiLibrary(FakeLoaderOs& os);
    ~FakeNvapiLibrary();

    /// Offers every test function: initialise, both unload entries, both hooks and the
    /// session functions, all but the ids in `lacking`. Tests may erase more later.
    void offerAll(const std::vector<NvU32>& lacking = {});

    FakeLoaderOs& os;
    std::map<NvU32, void*> entries;
    NvAPI_Status initStatus = NVAPI_OK;
    NvAPI_Status unloadStatus = NVAPI_OK;
    NvAPI_Status callStatus = NVAPI_OK;
    /// Run inside the session function and inside the unload entries, when set.
    std::function<void()> duringCall;
    std::function<void()> duringUnload;
};

/// The session handle the fake create-session function hands out.
inline const auto kFakeSession = reinterpret_cast<NvDRSSessionHandle>(0x5E55);
