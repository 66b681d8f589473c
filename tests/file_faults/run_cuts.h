// Follows one run of a command against the fake driver and the fake file system, with a
// disk record per model beside them, and at every moment of it (before the run, before
// and after each file operation, before each driver call that changes what the driver
// keeps, after the run) takes every state a power cut could leave under each model: the
// disk as the model has it, and the driver as its store holds it. Each model hands on
// each distinct state once; models that agree on a state hand on the same key for it.
#pragma once

#include <functional>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "tests/file_faults/campaign_vendor.h"
#include "tests/file_faults/cut_disk.h"

/// What a cut left: the disk, and the driver as its store holds it.
struct CutState {
    DiskImage disk;
    Entries driver;
};

/// How one model sees a run.
struct CutView {
    DiskRules disk;
    /// The driver's store writes lazily: a cut may leave it as it stood at any earlier
    /// moment of the run.
    bool lazyDriver = false;
};

class RunCuts {
  public:
    /// Says where the cut that left a state was; made only when someone asks.
    using Where = std::function<std::string()>;
    /// The same for the same state, whichever view found it, within one run.
    using Key = std::pair<size_t, size_t>;
    using OnState = std::function<void(const DiskImage& disk, const Entries& driver, const Key& key,
                                       size_t view, const Where& where)>;

    /// Watches `files` and `driver` from now on, under each of `views`.
    RunCuts(FakeFileSystem& files, FakeDriver& driver, const std::vector<CutView>& views,
            OnState onState);
    ~RunCuts();
    RunCuts(const RunCuts&) = delete;
    RunCuts& operator=(const RunCuts&) = delete;

    /// The run has ended: the last moment.
    void finish();
    /// Empty unless a disk record lost track of the fake.
    std::string problem() const;

  private:
    struct Moment {
        const char* what;
        const std::string* entry;  // the file operation's, or null
        size_t write;              // the driver call's number, or 0
    };
    struct View {
        View(const FakeFileSystem& files, const CutView& view)
            : rules(view), disk(files, view.disk) {}
        CutView rules;
        DiskRecord disk;
        std::pair<size_t, size_t> last{~size_t{0}, 0};
        std::set<Key> seen;
        // The disk states of the record's last version, each with its number: between file
        // operations only the driver moves.
        size_t imagesVersion = ~size_t{0};
        std::vector<std::pair<DiskImage, CutDetail>> images;
        std::vector<size_t> imageIds;
    };
    /// The number of `text` among the texts seen so far, a new one for a new text.
    static size_t intern(std::map<std::string, size_t>& ids, std::string text);
    void cut(const Moment& moment);
    static std::string describe(const Moment& moment, const CutDetail& detail, size_t behind);

    FakeFileSystem& files_;
    FakeDriver& driver_;
    std::vector<View> views_;
    OnState onState_;
    std::vector<Entries> driverStates_;  // as the run went, each differing from the last
    std::vector<size_t> driverIds_;      // their numbers
    std::map<std::string, size_t> imageNumbers_;
    std::map<std::string, size_t> driverNumbers_;
    bool driverMoved_ = false;
    size_t writes_ = 0;
};
