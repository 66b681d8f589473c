// The simulated runtime's process-wide state, the world behind its objects: configuration,
// setting values (kept in the state file between runs), the call log and the faults.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "sim/adlx/config.h"
#include "sim/adlx/objects.h"

class SimRuntime : public AdlxWorld {
  public:
    /// Built at the first call into the library.
    static SimRuntime& get();

    const AdlxSimConfig& config() const { return config_; }

    /// Consults the faults for `call` on `subject`. A "crash" fault logs and ends the
    /// process here.
    CallOutcome outcome(const std::string& call, const std::string& subject) override;

    void note(const AdlxCall& call) override;
    void misused(const std::string& line) override { log(line); }
    void log(const std::string& line);

    // Settings, by ref: "rsr", "afmf", "gpu<index>.<name>".
    bool exists(const std::string& ref) override;
    bool offers(const std::string& which) override;
    adlx_bool supported(const std::string& ref) override;
    int32_t value(const std::string& ref) override;
    /// Stores the value and rewrites the state file.
    void setValue(const std::string& ref, int32_t value) override;
    /// Logs the watched file's bytes, so the log shows what stood on disk before a change.
    void beforeSet() override;

    uint32_t gpuCount() override { return config_.gpuCount; }
    bool gpuId(uint32_t index, int32_t& id) override;

    /// Logs every object still alive and returns how many there are.
    uint32_t reportLiveObjects();

  private:
    SimRuntime();
    void loadState();
    void saveState();
    std::vector<std::string> allRefs();

    AdlxSimConfig config_;
    std::map<std::string, int32_t> values_;
};

/// When a variable could not be parsed: logs "CONFIG-ERROR <reason>", writes the reason to
/// standard error and ends the process with exit code 98. Running on with half a
/// configuration would let a test pass for the wrong reason.
void refuseBadConfiguration(const AdlxSimConfig& config);

/// Formats a 64-bit number as 0x and sixteen upper-case hexadecimal digits.
std::string hex64(uint64_t value);
