// What the file-fault table needs of one program: its fake driver at a known starting
// point, the product's apply and restore over it, its words and the keys it owns.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "frame/backend.h"
#include "tests/file_faults/backup_text.h"

/// A setting the product wrote during a run, and the backup bytes on disk at that moment.
struct DriverWrite {
    std::string key;
    std::optional<std::string> backupOnDisk;
};

/// One case's driver. Every instance starts from the same state.
class FakeDriver {
  public:
    virtual ~FakeDriver() = default;
    /// `io.backups` is bound to the backup path already.
    virtual int apply(LineAndBackup& io, PresetLevel level) = 0;
    virtual int restore(LineAndBackup& io) = 0;
    /// Empty when every setting holds the value it had when the driver was made; else
    /// what differs.
    virtual std::string differenceFromStart() = 0;
    /// The backup text of every setting's starting value, by its backup key.
    virtual Entries originals() = 0;
    /// From now on notes every setting written, with `backupNow()` taken just before;
    /// null stops noting.
    virtual void noteWrites(std::function<std::optional<std::string>()> backupNow) = 0;
    virtual std::vector<DriverWrite> writes() = 0;
    /// The lines of every call the fake driver refused as a misuse of it, so far.
    virtual std::vector<std::string> misuses() = 0;

    /// What of the driver's settings a power cut would leave, by backup key, in the
    /// driver's own form: for NVIDIA the profile that SaveSettings committed, for AMD every
    /// value as it was written.
    virtual Entries durable() = 0;
    /// Puts the driver's settings at `state`, as `durable` gave it: the driver that the
    /// next run meets after a cut.
    virtual void restart(const Entries& state) = 0;
    /// From now on calls `before` ahead of every call that may change what `durable`
    /// gives; null stops it.
    virtual void watchDurable(std::function<void()> before) = 0;
};

/// One result line as a front-end reads it, with the exit code that goes with it.
struct ResultLine {
    std::string kind;
    int supported;
    int changed;
    std::string message;
    int exit;
};

struct CampaignVendor {
    std::string name;      // first word of the row names
    std::string lineWord;  // vendor in the result line
    std::string fileWord;  // vendor in the backup header
    std::string applied;   // messages
    std::string restored;
    std::string restoreIncomplete;
    std::string nothingToRestore;
    /// The apply lines a failing file operation may bring, given what the run without
    /// faults printed.
    std::function<std::vector<ResultLine>(int supported, int changed)> applyFailures;
    bool (*ownsKey)(std::string_view key);
    /// Entries of another program, carried along untouched.
    Entries foreign;
    std::function<std::unique_ptr<FakeDriver>()> makeDriver;
};

/// A vendor named `name` in the rows and in the backup header, and `lineWord` in the result
/// line, with the messages both programs give in the same sentences, each naming its
/// vendor as its result line does. The caller fills in the rest.
inline CampaignVendor vendorWithMessages(const std::string& name, const std::string& lineWord) {
    CampaignVendor vendor;
    vendor.name = name;
    vendor.lineWord = lineWord;
    vendor.fileWord = name;
    vendor.applied = "Preset " + lineWord + " aplicado e backup preservado";
    vendor.restored = "Configuracoes " + lineWord + " originais restauradas";
    vendor.restoreIncomplete = "Restauracao " + lineWord + " incompleta; backup mantido";
    vendor.nothingToRestore = "Nenhum backup " + lineWord + " para restaurar";
    return vendor;
}

CampaignVendor nvidiaVendor();
CampaignVendor amdVendor();
