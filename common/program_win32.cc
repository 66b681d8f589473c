#include "common/backup_lock.h"
#include "common/elevation.h"
#include "common/entry.h"
#include "common/file_system.h"
#include "common/process_start.h"
#include "common/program.h"

int runProgram(int argc, wchar_t** argv, const Backend& backend, std::string_view vendorLine,
               std::string_view vendorFile) {
    // Asked once: how carefully names are checked, and which start-up policies apply, must
    // never disagree within one run.
    const bool elevated = processIsElevated();
    hardenProcessStart(elevated);
    StdoutSink sink;
    StderrSink detail;
    ResultPrinter out(vendorLine, sink, &detail);
    const std::unique_ptr<FileSystem> files = platformFileSystem(elevated);
    BackupStore backups(*files, vendorFile);
    LineAndBackup io{out, backups};
    return runEntry(argc, argv, backend, io, platformBackupLock());
}
