#include "tests/file_faults/run_cuts.h"

namespace {

std::string keyOf(const DiskImage& disk) {
    std::string key;
    for (const auto& [name, entry] : disk.files) {
        key.append(name.begin(), name.end());
        key += entry.readOnly ? "\1r" : "\1w";
        key += std::to_string(entry.names) + "\1" + std::to_string(entry.bytes.size()) + "\1";
        key += entry.bytes;
    }
    key += '\2';
    for (const Path& folder : disk.directories) {
        key.append(folder.begin(), folder.end());
        key += '\1';
    }
    return key + '\2';
}

std::string keyOf(const Entries& driver) {
    std::string key;
    for (const auto& [name, value] : driver) {
        key += value;
        key += '\1';
    }
    return key;
}

}  // namespace

RunCuts::RunCuts(FakeFileSystem& files, FakeDriver& driver, const std::vector<CutView>& views,
                 OnState onState)
    : files_(files), driver_(driver), onState_(std::move(onState)) {
    views_.reserve(views.size());
    for (const CutView& view : views) {
        views_.emplace_back(files, view);
    }
    files_.observer = [this](const std::string& entry) {
        cut(Moment{"before", &entry, 0});
        for (View& view : views_) {
            view.disk.onOperation(entry);
        }
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

std::string RunCuts::problem() const {
    for (const View& view : views_) {
        if (!view.disk.problem().empty()) {
            return view.disk.problem();
        }
    }
    return "";
}

void RunCuts::cut(const Moment& moment) {
    // The driver can hold something new only after a call the hook announced.
    if (driverStates_.empty() || driverMoved_) {
        Entries now = driver_.durable();
        if (driverStates_.empty() || driverStates_.back() != now) {
            driverIds_.push_back(intern(driverNumbers_, keyOf(now)));
            driverStates_.push_back(std::move(now));
        }
        driverMoved_ = false;
    }
    for (size_t v = 0; v < views_.size(); ++v) {
        View& view = views_[v];
        const std::pair<size_t, size_t> at{view.disk.version(), driverStates_.size()};
        if (at == view.last || !view.disk.problem().empty()) {
            continue;  // nothing a cut could leave has changed since the last moment
        }
        view.last = at;
        if (view.imagesVersion != view.disk.version()) {
            view.imagesVersion = view.disk.version();
            view.images.clear();
            view.imageIds.clear();
            view.disk.cutStates([&](const DiskImage& image, const CutDetail& detail) {
                view.images.emplace_back(image, detail);
                view.imageIds.push_back(intern(imageNumbers_, keyOf(image)));
            });
        }
        const size_t first = view.rules.lazyDriver ? 0 : driverStates_.size() - 1;
        for (size_t i = 0; i < view.images.size(); ++i) {
            for (size_t kept = first; kept < driverStates_.size(); ++kept) {
                const Key key{view.imageIds[i], driverIds_[kept]};
                if (view.seen.insert(key).second) {
                    const size_t behind = driverStates_.size() - 1 - kept;
                    onState_(view.images[i].first, driverStates_[kept], key, v,
                             [&] { return describe(moment, view.images[i].second, behind); });
                }
            }
        }
    }
}

size_t RunCuts::intern(std::map<std::string, size_t>& ids, std::string text) {
    const size_t next = ids.size();
    return ids.emplace(std::move(text), next).first->second;
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
