// An in-process ADLX for the unit tests: every call and every release goes into one log,
// so a test can assert the exact sequence; every behaviour can be set per object.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "amd/adlx_runtime.h"

/// How one setting behaves. Settings are named "rsr", "afmf" or "g<index>.<name>".
struct FakeSetting {
    bool exists = true;  // false: the getter fails with ADLX_NOT_SUPPORTED
    ADLX_RESULT getterResult = ADLX_OK;
    bool writeObjectOnFailure = false;  // a failing getter still hands out an object
    ADLX_RESULT supportedResult = ADLX_OK;
    adlx_bool supported = 1;
    ADLX_RESULT readResult = ADLX_OK;
    ADLX_RESULT writeResult = ADLX_OK;
    int32_t value = 0;
};

struct FakeGpuConfig {
    int32_t id = 0;
    bool writesId = true;  // also when UniqueId fails: a failing call may still write one
    ADLX_RESULT uniqueIdResult = ADLX_OK;
    ADLX_RESULT atResult = ADLX_OK;
    bool atGivesObject = true;
};

class FakeAdlx : public AdlxRuntime {
  public:
    FakeAdlx();
    ~FakeAdlx() override;

    // What the runtime does; change before the run.
    ADLX_RESULT initializeResult = ADLX_OK;
    bool systemPresent = true;
    ADLX_RESULT getGpusResult = ADLX_OK;
    bool gpuListPresent = true;
    ADLX_RESULT servicesResult = ADLX_OK;
    bool servicesPresent = true;
    ADLX_RESULT services1Result = ADLX_OK;
    ADLX_RESULT services3Result = ADLX_OK;
    bool queryGivesObjectOnFailure = false;
    std::vector<FakeGpuConfig> gpus;
    /// Switches start on (1) and modes at 3 unless a setting says otherwise.
    std::map<std::string, FakeSetting> settings;
    /// Called before every SetEnabled/SetMode that will succeed, with the setting's name.
    std::function<void(const std::string&)> beforeWrite;

    /// Sets up `count` GPUs with the given ids, every setting on and modes at 3.
    void withGpus(std::vector<int32_t> ids);
    FakeSetting& setting(const std::string& name);

    // What happened.
    std::vector<std::string> log;
    int liveObjects() const { return live_; }
    int overReleases() const { return overReleases_; }
    /// Objects alive when Terminate was called (should stay 0).
    int liveAtTerminate = -1;

    ADLX_RESULT Initialize() override;
    IADLXSystem* GetSystemServices() override;
    ADLX_RESULT Terminate() override;

    // Used by the fake objects.
    void record(std::string entry) { log.push_back(std::move(entry)); }
    void born() { ++live_; }
    void died() { --live_; }
    void overReleased() { ++overReleases_; }
    bool isMode(const std::string& name) const;

  private:
    class System;
    std::unique_ptr<System> system_;
    bool initialised_ = false;
    int live_ = 0;
    int overReleases_ = 0;
};

/// The value of a named setting as the fake holds it now.
int32_t fakeValue(FakeAdlx& adlx, const std::string& name);
