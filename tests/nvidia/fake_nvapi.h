// An in-process driver behind an NvapiTable: keeps a base profile, a session copy that
// only SaveSettings commits, records every call in order, and fails any call on request.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "contracts/nvapi_types.h"

struct FakeNvapi {
    struct Setting {
        NvU32 type = 0;
        NvU32 value = 0;
        bool operator==(const Setting& o) const { return type == o.type && value == o.value; }
    };
    using Profile = std::map<NvU32, Setting>;

    Profile committed;  // what the driver holds between runs
    Profile session;    // the open session's copy
    std::vector<std::string> calls;
    /// Status to return from a function, by name ("Initialize", "SetSetting", ...).
    std::map<std::string, NvAPI_Status> faults;
    /// Per-setting statuses for GetSetting, SetSetting and DeleteProfileSetting.
    std::map<NvU32, NvAPI_Status> getFaults, setFaults, deleteFaults;
    /// Record problems seen in what the logic passed (wrong stamp, non-zero padding).
    std::vector<std::string> recordErrors;
    /// Called before each call is logged, with the call's name.
    std::function<void(const std::string&)> observer;

    FakeNvapi();
    ~FakeNvapi();

    /// Back to the full profile with no faults and an empty log.
    void reset();

    /// The table whose functions reach this instance.
    NvapiTable table() const;

    /// The full 13-setting profile with distinct values, none equal to a preset value.
    static Profile fullProfile();
};
