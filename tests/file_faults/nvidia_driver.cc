// preset-nvidia for the file-fault table: the fake driver table, starting from a full
// profile but for one setting that has no value of its own (so "missing" is recorded too).
#include <cstdio>

#include "nvidia/nvidia_backend.h"
#include "tests/file_faults/campaign_vendor.h"
#include "tests/nvidia/fake_nvapi.h"

namespace {

constexpr NvU32 kAbsentSetting = 0x0064B541;
constexpr int kBackupFailedExit = 20;

// The managed settings as a front-end is told of them, not taken from the product.
constexpr NvU32 kManaged[] = {0x1057EB71, 0x0064B541, 0x00CE2691, 0x00198FFF, 0x00AC8497,
                              0x10835002, 0x107EFC5B, 0x10D2BB16, 0x00A879CF, 0x20FDD1F9,
                              0x00E73211, 0x0084CD70, 0x002ECAF2};

std::string hex(NvU32 value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", value);
    return text;
}

bool ownsNvidiaKey(std::string_view key) {
    return key.substr(0, 8) == "setting.";
}

class NvidiaDriver : public FakeDriver {
  public:
    NvidiaDriver() {
        fake_.committed = FakeNvapi::fullProfile();
        fake_.committed.erase(kAbsentSetting);
        start_ = fake_.committed;
        fake_.observer = [this](const std::string& name) {
            if (backupNow_ && (name == "SetSetting" || name == "DeleteProfileSetting")) {
                // The call is logged right after this, at this index.
                pending_.push_back({fake_.calls.size(), backupNow_()});
            }
            if (beforeCommit_ && name == "SaveSettings") {
                beforeCommit_();
            }
        };
    }

    int apply(LineAndBackup& io, PresetLevel level) override {
        return nvidiaApply(fake_.table(), io, level);
    }
    int restore(LineAndBackup& io) override { return nvidiaRestore(fake_.table(), io); }
    std::vector<std::string> misuses() override { return fake_.misuses; }

    std::string differenceFromStart() override {
        std::string out;
        for (NvU32 id : kManaged) {
            const auto was = start_.find(id);
            const auto now = fake_.committed.find(id);
            const std::string before = was == start_.end() ? "no value" : hex(was->second.value);
            const std::string after =
                now == fake_.committed.end() ? "no value" : hex(now->second.value);
            if (before != after) {
                out += (out.empty() ? "" : ", ") + hex(id) + " is " + after + ", was " + before;
            }
        }
        return out;
    }

    Entries originals() override {
        Entries entries;
        for (NvU32 id : kManaged) {
            const auto was = start_.find(id);
            entries[key(id)] = was == start_.end() ? "missing" : "value:" + hex(was->second.value);
        }
        return entries;
    }

    void noteWrites(std::function<std::optional<std::string>()> backupNow) override {
        if (backupNow) {
            pending_.clear();
        }
        backupNow_ = std::move(backupNow);
    }

    std::vector<DriverWrite> writes() override {
        std::vector<DriverWrite> out;
        for (const auto& [index, bytes] : pending_) {
            // "SetSetting 0x1057EB71 0x00000001" or "DeleteProfileSetting 0x1057EB71"
            const std::string& call = fake_.calls.at(index);
            const size_t id = call.find(' ') + 1;
            out.push_back({"setting." + call.substr(id, 10), bytes});
        }
        return out;
    }

    Entries durable() override {
        Entries entries;
        for (NvU32 id : kManaged) {
            const auto now = fake_.committed.find(id);
            entries[key(id)] =
                now == fake_.committed.end() ? "missing" : "value:" + hex(now->second.value);
        }
        return entries;
    }

    void restart(const Entries& state) override {
        fake_.committed.clear();
        for (NvU32 id : kManaged) {
            const std::string& text = state.at(key(id));
            if (text != "missing") {
                fake_.committed[id] =
                    StoredSetting{0, static_cast<NvU32>(std::stoul(text.substr(6), nullptr, 16))};
            }
        }
    }

    void watchDurable(std::function<void()> before) override { beforeCommit_ = std::move(before); }

  private:
    static std::string key(NvU32 id) { return "setting." + hex(id); }

    FakeNvapi fake_;
    FakeNvapi::Profile start_;
    std::vector<std::pair<size_t, std::optional<std::string>>> pending_;
    std::function<std::optional<std::string>()> backupNow_;
    std::function<void()> beforeCommit_;
};

}  // namespace

CampaignVendor nvidiaVendor() {
    CampaignVendor vendor = vendorWithMessages("nvidia", "NVIDIA");
    vendor.applyFailures = [](int supported, int) {
        const std::string failed = "Nao foi possivel salvar o backup do perfil NVIDIA";
        // The backup could not be saved, or what stands at its path could not be read.
        return std::vector<ResultLine>{{"error", supported, 0, failed, kBackupFailedExit},
                                       {"error", 0, 0, failed, kBackupFailedExit}};
    };
    vendor.ownsKey = &ownsNvidiaKey;
    vendor.foreign = {{"global.rsr", "1"}};
    vendor.makeDriver = [] { return std::make_unique<NvidiaDriver>(); };
    return vendor;
}
