// preset-amd for the file-fault table: the fake ADLX runtime with two GPUs (ids 7 and
// -2), a negative mode and two switches off among the starting values.
#include <map>

#include "amd/amd_backend.h"
#include "tests/amd/fake_adlx.h"
#include "tests/file_faults/campaign_vendor.h"

namespace {

constexpr int kPartialExit = 21;
const std::vector<int32_t> kGpuIds = {7, -2};

// The settings as a front-end is told of them, not taken from the product.
const char* const kGlobals[] = {"rsr", "afmf"};
const char* const kPerGpu[] = {"chill",         "boost",      "frtc",        "sharpening",
                               "mlaa",          "aa-mode",    "anisotropic", "tessellation-mode",
                               "enhanced-sync", "vsync-mode", "fsr",         "frame-generation"};
const char* const kModes[] = {"aa-mode", "tessellation-mode", "vsync-mode"};

bool isModeName(const std::string& name) {
    for (const char* mode : kModes) {
        if (name == mode) {
            return true;
        }
    }
    return false;
}

bool ownsAmdKey(std::string_view key) {
    return key == "global.rsr" || key == "global.afmf" || key.substr(0, 4) == "gpu.";
}

class AmdDriver : public FakeDriver {
  public:
    AmdDriver() {
        adlx_.withGpus(kGpuIds);
        for (const auto& [name, key, mode] : names()) {
            adlx_.setting(name);
        }
        adlx_.setting("g1.aa-mode").value = -1;
        adlx_.setting("g0.chill").value = 0;
        adlx_.setting("g1.enhanced-sync").value = 0;
        start_ = values();
        adlx_.beforeWrite = [this](const std::string& name) {
            if (backupNow_) {
                writes_.push_back({keyOf(name), backupNow_()});
            }
            if (beforeWrite_) {
                beforeWrite_();
            }
        };
    }

    int apply(LineAndBackup& io, PresetLevel level) override { return amdApply(adlx_, io, level); }
    int restore(LineAndBackup& io) override { return amdRestore(adlx_, io); }
    std::vector<std::string> misuses() override { return adlx_.misuseLines; }

    std::string differenceFromStart() override {
        std::string out;
        const std::map<std::string, int32_t> now = values();
        for (const auto& [name, value] : start_) {
            const int32_t current = now.at(name);
            if (current != value) {
                out += (out.empty() ? "" : ", ") + name + " is " + std::to_string(current) +
                       ", was " + std::to_string(value);
            }
        }
        return out;
    }

    Entries originals() override {
        Entries entries;
        for (const auto& [name, key, mode] : names()) {
            const int32_t value = start_.at(name);
            entries[key] = mode ? std::to_string(value) : value != 0 ? "1" : "0";
        }
        return entries;
    }

    void noteWrites(std::function<std::optional<std::string>()> backupNow) override {
        if (backupNow) {
            writes_.clear();
        }
        backupNow_ = std::move(backupNow);
    }

    std::vector<DriverWrite> writes() override { return writes_; }

    // Every write reaches the driver's store as it happens; what a store that writes
    // lazily would lose is the explorer's to choose.
    Entries durable() override {
        Entries entries;
        for (const auto& [name, key, mode] : names()) {
            entries[key] = std::to_string(fakeValue(adlx_, name));
        }
        return entries;
    }

    void restart(const Entries& state) override {
        for (const auto& [name, key, mode] : names()) {
            adlx_.setting(name).value = std::stoi(state.at(key));
        }
    }

    void watchDurable(std::function<void()> before) override { beforeWrite_ = std::move(before); }

  private:
    struct Name {
        std::string fake;  // as the fake runtime calls it
        std::string key;   // in the backup
        bool mode;
    };

    static const std::vector<Name>& names() {
        static const std::vector<Name> all = [] {
            std::vector<Name> out;
            for (const char* global : kGlobals) {
                out.push_back({global, std::string("global.") + global, false});
            }
            for (size_t gpu = 0; gpu < kGpuIds.size(); ++gpu) {
                for (const char* setting : kPerGpu) {
                    out.push_back({"g" + std::to_string(gpu) + "." + setting,
                                   "gpu." + std::to_string(kGpuIds[gpu]) + "." + setting,
                                   isModeName(setting)});
                }
            }
            return out;
        }();
        return all;
    }

    static std::string keyOf(const std::string& fakeName) {
        for (const Name& name : names()) {
            if (name.fake == fakeName) {
                return name.key;
            }
        }
        return "<unknown setting " + fakeName + ">";
    }

    std::map<std::string, int32_t> values() {
        std::map<std::string, int32_t> out;
        for (const auto& [name, key, mode] : names()) {
            out[name] = fakeValue(adlx_, name);
        }
        return out;
    }

    FakeAdlx adlx_;
    std::map<std::string, int32_t> start_;
    std::vector<DriverWrite> writes_;
    std::function<std::optional<std::string>()> backupNow_;
    std::function<void()> beforeWrite_;
};

}  // namespace

CampaignVendor amdVendor() {
    CampaignVendor vendor = vendorWithMessages("amd", "AMD");
    vendor.applyFailures = [](int supported, int changed) {
        // A setting whose original could not be saved is left alone; the others go on.
        std::vector<ResultLine> lines;
        for (int c = 0; c <= changed; ++c) {
            lines.push_back({"error", supported, c,
                             "Preset AMD aplicado parcialmente; backup mantido", kPartialExit});
        }
        return lines;
    };
    vendor.ownsKey = &ownsAmdKey;
    vendor.foreign = {{"setting.0x1057EB71", "value:0x00000005"}};
    vendor.makeDriver = [] { return std::make_unique<AmdDriver>(); };
    return vendor;
}
