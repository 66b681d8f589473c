#include "frame/entry.h"
#include "frame/program.h"
#include "store/backup_lock.h"
#include "store/file_system.h"
#include "windows/elevation.h"
#include "windows/process_start.h"

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
