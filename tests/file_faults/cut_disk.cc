#include "tests/file_faults/cut_disk.h"

#include <algorithm>

namespace {

constexpr size_t kSector = 512;
// A file of more sectors than this is torn only one sector at a time: every mix of them
// would be more states than a run can check.
constexpr size_t kMixedSectors = 8;

Path widen(const std::string& text) {
    return Path(text.begin(), text.end());
}

}  // namespace

std::vector<std::pair<std::string, std::string>> unflushedVariants(const std::string& flushed,
                                                                   const std::string& written) {
    std::vector<std::pair<std::string, std::string>> variants;
    std::set<std::string> seen;
    auto add = [&](std::string bytes, std::string how) {
        if (seen.insert(bytes).second) {
            variants.emplace_back(std::move(bytes), std::move(how));
        }
    };
    add(flushed, "none of its unflushed data");
    add(written, "all of its data");
    const size_t same = static_cast<size_t>(
        std::mismatch(flushed.begin(), flushed.begin() + std::min(flushed.size(), written.size()),
                      written.begin())
            .first -
        flushed.begin());
    for (size_t at = same + 1; at < written.size(); ++at) {
        if (written[at - 1] == '\n' || at % kSector == 0) {
            add(written.substr(0, at), "cut at " + std::to_string(at) + " bytes");
        }
    }
    const size_t sectors = (written.size() + kSector - 1) / kSector;
    auto torn = [&](const std::vector<bool>& fresh) {
        std::string bytes = written;
        std::string which;
        for (size_t s = 0; s < sectors; ++s) {
            if (fresh[s]) {
                which += (which.empty() ? "" : ",") + std::to_string(s + 1);
                continue;
            }
            for (size_t at = s * kSector; at < std::min(written.size(), (s + 1) * kSector); ++at) {
                bytes[at] = at < flushed.size() ? flushed[at] : '\0';
            }
        }
        add(std::move(bytes), "torn: sectors {" + which + "} of " + std::to_string(sectors) +
                                  " written, the others old or zeros");
    };
    if (sectors <= kMixedSectors) {
        for (size_t mask = 0; mask + 1 < (size_t{1} << sectors); ++mask) {
            std::vector<bool> fresh(sectors);
            for (size_t s = 0; s < sectors; ++s) {
                fresh[s] = (mask >> s) & 1;
            }
            torn(fresh);
        }
    } else {
        for (size_t s = 0; s < sectors; ++s) {
            std::vector<bool> fresh(sectors, true);
            fresh[s] = false;
            torn(fresh);
        }
    }
    return variants;
}

DiskRecord::DiskRecord(const FakeFileSystem& files, DiskRules rules) : fs_(files), rules_(rules) {
    for (const auto& [name, entry] : files.files) {
        live_.files[name] = data_.size();
        live_.readOnly[data_.size()] = entry.readOnly;
        data_.push_back(Data{entry.bytes, entry.bytes});
    }
    live_.folders = files.directories;
    forced_ = live_;
}

void DiskRecord::apply(Names& names, const Change& change) {
    switch (change.kind) {
        case Change::Kind::link:
            names.files[change.name] = change.file;
            names.readOnly.emplace(change.file, false);  // a new file; a second name keeps its mark
            break;
        case Change::Kind::unlink:
            names.files.erase(change.name);
            break;
        case Change::Kind::move:
            names.files[change.to] = change.file;
            names.files.erase(change.name);
            break;
        case Change::Kind::makeFolder:
            names.folders.insert(change.name);
            break;
        case Change::Kind::removeFolder:
            names.folders.erase(change.name);
            break;
        case Change::Kind::mark:
            names.readOnly[change.file] = change.readOnly;
            break;
    }
}

void DiskRecord::record(Change change) {
    apply(live_, change);
    changes_.push_back(std::move(change));
    ++version_;
}

void DiskRecord::forceNames() {
    for (; forcedCount_ < changes_.size(); ++forcedCount_) {
        apply(forced_, changes_[forcedCount_]);
    }
    ++version_;
}

bool DiskRecord::onOperation(const std::string& entry) {
    if (!problem_.empty()) {
        return false;
    }
    const size_t space = entry.find(' ');
    const std::string op = entry.substr(0, space);
    const std::string rest = space == std::string::npos ? "" : entry.substr(space + 1);
    // Only a rename names two paths; the fake's paths here hold no spaces.
    const size_t second = op == "replace" ? rest.find(' ') : std::string::npos;
    const Path path = widen(rest.substr(0, second));
    const Path to = second == std::string::npos ? Path() : widen(rest.substr(second + 1));
    if (!follow(op, path, to)) {
        problem_ = "the disk record cannot follow '" + entry + "'";
        return false;
    }
    if (!matchesFake()) {
        problem_ = "after '" + entry + "' the disk record and the fake file system differ";
        return false;
    }
    return true;
}

bool DiskRecord::follow(const std::string& op, const Path& path, const Path& to) {
    const bool named = live_.files.count(path) != 0;
    const bool inFake = fs_.files.count(path) != 0;
    if (op == "root" || op == "folder" || op == "inspect" || op == "read" || op == "check" ||
        op == "close") {
        return true;
    }
    if (op == "open") {
        if (inFake && !named) {
            record(Change{Change::Kind::link, path, Path(), data_.size(), false});
            data_.push_back(Data{});
        }
        return true;
    }
    if (op == "write" || op == "flush") {
        if (!named || !inFake) {
            return false;
        }
        Data& data = data_[live_.files.at(path)];
        data.written = fs_.files.at(path).bytes;
        if (op == "flush") {
            data.flushed = data.written;
            if (rules_.fileFlushForcesNames) {
                forceNames();
            }
        }
        ++version_;
        return true;
    }
    if (op == "replace") {
        if (named && !inFake && fs_.files.count(to) != 0) {
            const size_t file = live_.files.at(path);
            if (rules_.replaceInSteps) {
                if (live_.files.count(to) != 0) {
                    record(Change{Change::Kind::unlink, to, Path(), 0, false});
                }
                record(Change{Change::Kind::link, to, Path(), file, false});
                record(Change{Change::Kind::unlink, path, Path(), 0, false});
            } else {
                record(Change{Change::Kind::move, path, to, file, false});
            }
        }
        return true;
    }
    if (op == "flush-folder") {
        ++folderFlushes_;
        if (rules_.failingFolderFlush != 0 && rules_.failingFolderFlush != folderFlushes_) {
            forceNames();
        }
        return true;
    }
    if (op == "discard" || op == "remove") {
        if (named && !inFake) {
            record(Change{Change::Kind::unlink, path, Path(), 0, false});
        }
        return true;
    }
    if (op == "mkdir" || op == "rmdir") {
        const bool made = op == "mkdir";
        if ((fs_.directories.count(path) != 0) == made &&
            (live_.folders.count(path) != 0) != made) {
            record(Change{made ? Change::Kind::makeFolder : Change::Kind::removeFolder, path,
                          Path(), 0, false});
        }
        return true;
    }
    if (op == "clear-readonly" || op == "set-readonly") {
        if (named && inFake) {
            const size_t file = live_.files.at(path);
            const bool mark = fs_.files.at(path).readOnly;
            if (live_.readOnly[file] != mark) {
                record(Change{Change::Kind::mark, path, Path(), file, mark});
            }
        }
        return true;
    }
    return false;
}

bool DiskRecord::matchesFake() {
    if (live_.folders != fs_.directories || live_.files.size() != fs_.files.size()) {
        return false;
    }
    for (const auto& [name, entry] : fs_.files) {
        const auto file = live_.files.find(name);
        if (file == live_.files.end() || data_[file->second].written != entry.bytes ||
            live_.readOnly[file->second] != entry.readOnly) {
            return false;
        }
    }
    return true;
}

void DiskRecord::cutStates(
    const std::function<void(const DiskImage&, const CutDetail&)>& each) const {
    Names names = forced_;
    for (size_t onDisk = forcedCount_;; ++onDisk) {
        emit(names, onDisk, each);
        if (onDisk == changes_.size()) {
            return;
        }
        apply(names, changes_[onDisk]);
    }
}

void DiskRecord::emit(const Names& names, size_t onDisk,
                      const std::function<void(const DiskImage&, const CutDetail&)>& each) const {
    DiskImage image;
    image.directories = names.folders;
    std::map<size_t, unsigned> links;
    for (const auto& [name, file] : names.files) {
        ++links[file];
    }
    struct Unflushed {
        Path name;
        std::vector<std::pair<std::string, std::string>> variants;
    };
    std::vector<Unflushed> unflushed;
    for (const auto& [name, file] : names.files) {
        const Data& data = data_[file];
        image.files[name] =
            FakeFileSystem::Entry{data.flushed, names.readOnly.at(file), links[file]};
        if (data.written != data.flushed) {
            unflushed.push_back(Unflushed{name, unflushedVariants(data.flushed, data.written)});
        }
    }
    // Every combination of what each unflushed file kept: an odometer over their variants.
    std::vector<size_t> pick(unflushed.size(), 0);
    CutDetail detail{onDisk, changes_.size(), ""};
    for (;;) {
        detail.data.clear();
        for (size_t i = 0; i < unflushed.size(); ++i) {
            const auto& [bytes, how] = unflushed[i].variants[pick[i]];
            image.files[unflushed[i].name].bytes = bytes;
            detail.data += (detail.data.empty() ? "" : "; ") + narrowForTest(unflushed[i].name) +
                           " kept " + how;
        }
        each(image, detail);
        size_t i = 0;
        while (i < pick.size() && ++pick[i] == unflushed[i].variants.size()) {
            pick[i++] = 0;
        }
        if (i == pick.size()) {
            return;
        }
    }
}
