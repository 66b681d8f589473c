// preset-amd: the entry point only; everything else lives in the libraries.
#include "amd/amd_backend.h"
#include "amd/amd_words.h"
#include "amd/process_adlx.h"
#include "common/backup_lock.h"
#include "common/entry.h"
#include "common/file_system.h"
#include "common/process_start.h"

namespace {

int status(Host& host) {
    return amdStatus(processAdlx(), host);
}

int apply(Host& host, PresetLevel level) {
    return amdApply(processAdlx(), host, level);
}

int restore(Host& host) {
    return amdRestore(processAdlx(), host);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    hardenProcessStart();
    StdoutSink sink;
    ResultPrinter out(amdword::kVendorLine, sink);
    BackupStore backups(platformFileSystem(), amdword::kVendorFile);
    Host host{out, backups};
    return runEntry(argc, argv, Backend{&status, &apply, &restore}, host, platformBackupLock());
}
