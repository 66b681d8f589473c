// An in-process ADLX for the unit tests: the simulated runtime's objects (sim/adlx/
// objects.h) over a world whose every behaviour can be set per object. Every call and
// every release goes into one log, so a test can assert the exact sequence.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "amd/adlx_runtime.h"
#include "sim/adlx/objects.h"

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

class FakeAdlx : public AdlxRuntime, public AdlxWorld {
  public:
    FakeAdlx() : AdlxWorld("g", "gpus", false) {}

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
    int liveObjects() const { return static_cast<int>(liveLabels().size()); }
    /// The "MISUSE ..." lines of calls the objects refused; AmdHarness fails a test that
    /// leaves any.
    std::vector<std::string> misuseLines;
    /// Objects alive when Terminate was called (should stay 0).
    int liveAtTerminate = -1;

    ADLX_RESULT Initialize() override;
    IADLXSystem* GetSystemServices() override;
    ADLX_RESULT Terminate() override;

    // The world behind the objects.
    CallOutcome outcome(const std::string& call, const std::string& subject) override;
    void note(const AdlxCall& call) override;
    void misused(const std::string& line) override;
    bool exists(const std::string& ref) override { return setting(ref).exists; }
    bool offers(const std::string&) override { return true; }
    adlx_bool supported(const std::string& ref) override { return setting(ref).supported; }
    int32_t value(const std::string& ref) override { return setting(ref).value; }
    void setValue(const std::string& ref, int32_t value) override;
    uint32_t gpuCount() override { return static_cast<uint32_t>(gpus.size()); }
    bool gpuId(uint32_t index, int32_t& id) override;

  private:
    bool initialised_ = false;
};

/// The value of a named setting as the fake holds it now.
int32_t fakeValue(FakeAdlx& adlx, const std::string& name);
