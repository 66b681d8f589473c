// Follows one run of a command against the fake driver and the fake file system, with a
// disk record beside them, and at every moment of it (before the run, before and after
// each file operation, before each driver call that changes what the driver keeps, after
// the run) takes every state a power cut could leave: the disk under the model, and the
// driver as its store holds it. Each distinct state is handed on once.
#pragma once

#include <functional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "tests/campaign/campaign_vendor.h"
#include "tests/campaign/cut_disk.h"

/// What a cut left: the disk, and the driver as its store holds it.
struct CutState {
    DiskImage disk;
    Entries driver;
};

class RunCuts {
  public:
    /// Says where the cut that left a state was; made only when someone asks.
    using Where = std::function<std::string()>;
    using OnState = std::function<void(const CutState& state, const Where& where)>;

    /// Watches `files` and `driver` from now on. With `lazyDriver` a cut may leave the
    /// driver's store as it stood at any earlier moment of the run.
    RunCuts(FakeFileSystem& files, FakeDriver& driver, DiskRules rules, bool lazyDriver,
            OnState onState);
    ~RunCuts();
    RunCuts(const RunCuts&) = delete;
    RunCuts& operator=(const RunCuts&) = delete;

    /// The run has ended: the last moment.
    void finish();
    /// Empty unless the disk record lost track of the fake.
    const std::string& problem() const { return disk_.problem(); }

  private:
    struct Moment {
        const char* what;
        const std::string* entry;  // the file operation's, or null
        size_t write;              // the driver call's number, or 0
    };
    void cut(const Moment& moment);
    static std::string describe(const Moment& moment, const CutDetail& detail, size_t behind);

    FakeFileSystem& files_;
    FakeDriver& driver_;
    DiskRecord disk_;
    bool lazyDriver_;
    OnState onState_;
    std::vector<Entries> driverStates_;  // as the run went, each differing from the last
    bool driverMoved_ = false;
    std::pair<size_t, size_t> last_{~size_t{0}, 0};
    size_t writes_ = 0;
    std::set<std::string> seen_;
};
