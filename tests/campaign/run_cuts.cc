#include "tests/campaign/run_cuts.h"

namespace {

std::string keyOf(const CutState& state) {
    std::string key;
    for (const auto& [name, entry] : state.disk.files) {
        key += narrowForTest(name) + (entry.readOnly ? "\1r" : "\1w") +
               std::to_string(entry.names) + "\1" + std::to_string(entry.bytes.size()) + "\1" +
               entry.bytes;
    }
    key += '\2';
    for (const Path& folder : state.disk.directories) {
        key += narrowForTest(folder) + '\1';
    }
    key += '\2';
    for (const auto& [name, value] : state.driver) {
        key += value + '\1';
    }
    return key;
}

}  // namespace

RunCuts::RunCuts(FakeFileSystem& files, FakeDriver& driver, DiskRules rules, bool lazyDriver,
                 OnState onState)
    : files_(files),
      driver_(driver),
      disk_(files, rules),
      lazyDriver_(lazyDriver),
      onState_(std::move(onState)) {
    files_.observer = [this](const std::string& entry) {
        cut(Moment{"before", &entry, 0});
        disk_.onOperation(entry);
        cut(Moment{"after", &entry, 0});
    };
    driver_.watchDurable([this] {
        cut(Moment{"before the driver's write", nullptr, ++writes_});
        driverMoved_ = true;
    });
    cut(Moment{"before the run", nullptr, 0});
}

RunCuts::~RunCuts() {
    files_.observer = nullptr;
    driver_.watchDurable(nullptr);
}

void RunCuts::finish() {
    cut(Moment{"after the run", nullptr, 0});
}

void RunCuts::cut(const Moment& moment) {
    // The driver can hold something new only after a call the hook announced.
    if (driverStates_.empty() || driverMoved_) {
        Entries now = driver_.durable();
        if (driverStates_.empty() || driverStates_.back() != now) {
            driverStates_.push_back(std::move(now));
        }
        driverMoved_ = false;
    }
    const std::pair<size_t, size_t> at{disk_.version(), driverStates_.size()};
    if (at == last_ || !disk_.problem().empty()) {
        return;  // nothing a cut could leave has changed since the last moment
    }
    last_ = at;
    disk_.cutStates([&](const DiskImage& image, const CutDetail& detail) {
        const size_t first = lazyDriver_ ? 0 : driverStates_.size() - 1;
        for (size_t kept = first; kept < driverStates_.size(); ++kept) {
            CutState state{image, driverStates_[kept]};
            if (seen_.insert(keyOf(state)).second) {
                const size_t behind = driverStates_.size() - 1 - kept;
                onState_(state, [&] { return describe(moment, detail, behind); });
            }
        }
    });
}

std::string RunCuts::describe(const Moment& moment, const CutDetail& detail, size_t behind) {
    std::string where = moment.what;
    if (moment.entry != nullptr) {
        where += " '" + *moment.entry + "'";
    } else if (moment.write != 0) {
        where += " #" + std::to_string(moment.write);
    }
    where += ", " + std::to_string(detail.namesOnDisk) + " of " + std::to_string(detail.namesMade) +
             " changes of names on disk";
    if (!detail.data.empty()) {
        where += ", " + detail.data;
    }
    if (behind > 0) {
        where += ", the driver's store " + std::to_string(behind) + " writes behind";
    }
    return where;
}
