// preset-nvidia: the entry point only; everything else lives in the libraries.
#include "common/backup_lock.h"
#include "common/entry.h"
#include "common/file_system.h"
#include "common/process_start.h"
#include "nvidia/nvidia_backend.h"
#include "nvidia/nvidia_words.h"
#include "nvidia/process_nvapi.h"

namespace {

int status(LineAndBackup& io) {
    return nvidiaStatus(processNvapiTable(), io);
}

int apply(LineAndBackup& io, PresetLevel level) {
    return nvidiaApply(processNvapiTable(), io, level);
}

int restore(LineAndBackup& io) {
    return nvidiaRestore(processNvapiTable(), io);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    hardenProcessStart();
    StdoutSink sink;
    ResultPrinter out(nvidiaword::kVendorLine, sink);
    BackupStore backups(platformFileSystem(), nvidiaword::kVendorFile);
    LineAndBackup io{out, backups};
    return runEntry(argc, argv, Backend{&status, &apply, &restore}, io, platformBackupLock());
}
