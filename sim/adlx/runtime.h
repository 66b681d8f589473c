// The simulated runtime's process-wide state: configuration, setting values (kept in the
// state file between runs), the call log, the registry of live objects and the faults.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "contracts/adlx_interface.h"
#include "sim/adlx/config.h"

/// What a call does after the fault table had its say.
struct CallOutcome {
    ADLX_RESULT result;
    /// Whether the call writes its out value or object (for a Set: makes the change).
    bool writesOut;
};

class SimRuntime {
  public:
    /// Built at the first call into the library.
    static SimRuntime& get();

    const SimConfig& config() const { return config_; }

    /// Consults the faults for `call` on `subject`. A "crash" fault logs and ends the
    /// process here.
    CallOutcome outcome(const std::string& call, const std::string& subject);

    void log(const std::string& line);

    // Settings, by ref: "rsr", "afmf", "gpu<index>.<name>".
    bool exists(const std::string& ref) const;
    bool supported(const std::string& ref) const;
    int32_t value(const std::string& ref) const;
    /// Stores the value and rewrites the state file.
    void setValue(const std::string& ref, int32_t value);
    /// Logs the watched file's bytes, so the log shows what stood on disk before a change.
    void logWatchedFile();

    uint32_t gpuCount() const { return config_.gpuCount; }
    /// The id UniqueId writes for the GPU at `index`; false when it writes none.
    bool gpuId(uint32_t index, int32_t& id) const;

    // Objects handed out, by serial number. The system services are not among them.
    uint32_t registerObject(const std::string& name);
    /// Gives one reference back; returns the references left (logs a release too many).
    int32_t release(uint32_t serial);
    std::string objectName(uint32_t serial) const;
    /// Logs every object still alive and returns how many there are.
    uint32_t reportLiveObjects();

  private:
    SimRuntime();
    void loadState();
    void saveState();
    std::vector<std::string> allRefs() const;

    struct Object {
        std::string name;
        int32_t references;
    };

    SimConfig config_;
    std::map<std::string, int32_t> values_;
    std::vector<Object> objects_;
};

/// When a variable could not be parsed: logs "CONFIG-ERROR <reason>", writes the reason to
/// standard error and ends the process with exit code 98. Running on with half a
/// configuration would let a test pass for the wrong reason.
void refuseBadConfiguration(const SimConfig& config);

/// Formats a 64-bit number as 0x and sixteen upper-case hexadecimal digits.
std::string hex64(uint64_t value);
