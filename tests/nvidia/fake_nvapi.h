// An in-process driver behind an NvapiTable: the simulated library's driver (sim/nvapi/
// driver.h), with a base profile in memory that only SaveSettings commits, every call
// recorded in order, and any call failed on request.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "contracts/nvapi_types.h"
#include "sim/nvapi/driver.h"

struct FakeNvapi {
    using Profile = ::Profile;

    Profile committed;  // what the driver holds between runs
    std::vector<std::string> calls;
    /// Status to return from a function, by name ("Initialize", "SetSetting", ...); the
    /// call then does nothing.
    std::map<std::string, NvAPI_Status> faults;
    /// Per-setting statuses for GetSetting, SetSetting and DeleteProfileSetting.
    std::map<NvU32, NvAPI_Status> getFaults, setFaults, deleteFaults;
    /// Record problems seen in what the logic passed (wrong stamp, non-zero padding).
    std::vector<std::string> recordErrors;
    /// "MISUSE <call> <subject> <what>" for each call the driver refused as the logic's
    /// misuse (<call> as logged here); NvidiaTest fails a test that leaves any.
    std::vector<std::string> misuses;
    /// Called before each call is logged, with the call's name.
    std::function<void(const std::string&)> observer;

    FakeNvapi();
    ~FakeNvapi();

    /// Back to the full profile with no faults, no session and an empty log.
    void reset();

    /// The table whose functions reach this instance.
    NvapiTable table() const;

    /// The full 13-setting profile with distinct values, none equal to a preset value.
    static Profile fullProfile();

    /// The committed profile as the simulated driver loads and saves it.
    class CommittedStore : public StateStore {
      public:
        explicit CommittedStore(Profile& committed) : committed_(committed) {}
        bool load(Profile& profile, std::string&) override;
        bool save(const Profile& profile, std::string&) override;

      private:
        Profile& committed_;
    };
    CommittedStore store{committed};
    std::unique_ptr<SimDriver> driver;
};
