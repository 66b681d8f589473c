#include "tests/nt/layer_run.h"

#include <cstdio>
#include <memory>
#include <vector>

#include "frame/entry.h"
#include "store/backup_lock.h"
#include "store/file_system.h"
#include "windows/elevation.h"

namespace {

std::string gOutcome;

class NoOutput : public LineSink {
  public:
    void writeLine(std::string_view) override {}
};

int status(LineAndBackup&) {
    return 0;
}

int apply(LineAndBackup& io, PresetLevel) {
    LoadedBackup loaded = io.backups.loadBackup();
    if (loaded.outcome == LoadOutcome::unreadable) {
        gOutcome = "unreadable";
        return 20;
    }
    loaded.map.emplace("k", "v");
    gOutcome = io.backups.saveBackup(loaded.map) ? "applied" : "unsaved";
    return gOutcome == "applied" ? 0 : 21;
}

int restore(LineAndBackup& io) {
    const PathState exists = io.backups.backupExists();
    if (exists != PathState::present) {
        gOutcome = exists == PathState::absent ? "nothing" : "incomplete";
        return exists == PathState::absent ? 0 : 22;
    }
    const bool whole =
        io.backups.loadBackup().outcome == LoadOutcome::loaded && io.backups.removeBackup();
    gOutcome = whole ? "restored" : "incomplete";
    return whole ? 0 : 22;
}

std::string shortCode(const SystemCode& code) {
    char text[32];
    switch (code.family) {
        case CodeFamily::ntstatus:
            std::snprintf(text, sizeof text, "%08llX", static_cast<unsigned long long>(code.value));
            return text;
        case CodeFamily::win32:
            return "win32:" + std::to_string(code.value);
        default:
            return std::string();
    }
}

}  // namespace

RunResult runCommand(const std::string& command, const Path& path, std::optional<bool> elevated) {
    gOutcome.clear();
    RunResult result;
    {
        const bool careful = elevated ? *elevated : processIsElevated();
        const std::unique_ptr<FileSystem> files = platformFileSystem(careful);
        BackupStore store(*files, "nvidia");
        NoOutput sink;
        ResultPrinter out("NVIDIA", sink);
        LineAndBackup io{out, store};
        const Backend backend{&status, &apply, &restore};
        std::vector<const wchar_t*> argv = {L"preset", L"restore", path.c_str()};
        if (command == "apply") {
            argv = {L"preset", L"apply", L"gamer", path.c_str()};
        }
        runEntry(static_cast<int>(argv.size()), argv.data(), backend, io, platformBackupLock());
        if (!out.failures().all().empty()) {
            const FileStatus& first = out.failures().all().front().status;
            const std::string code = shortCode(first.code);
            result.failure = std::string(first.call) + (code.empty() ? "" : " " + code);
            result.failurePath = first.path;
        }
    }
    result.outcome = gOutcome;
    return result;
}

std::string described(const RunResult& result) {
    return result.failure.empty() ? result.outcome : result.outcome + " " + result.failure;
}
