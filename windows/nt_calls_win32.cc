#include "windows/nt_calls.h"

// Not declared by the toolchain's user-mode headers; exported by ntdll on every Windows.
extern "C" {
NTSTATUS NTAPI NtQueryDirectoryFile(HANDLE file, HANDLE event, PIO_APC_ROUTINE apcRoutine,
                                    PVOID apcContext, PIO_STATUS_BLOCK status, PVOID buffer,
                                    ULONG length, FILE_INFORMATION_CLASS infoClass,
                                    BOOLEAN singleEntry, PUNICODE_STRING fileName,
                                    BOOLEAN restartScan);
NTSTATUS NTAPI NtReadFile(HANDLE file, HANDLE event, PIO_APC_ROUTINE apcRoutine, PVOID apcContext,
                          PIO_STATUS_BLOCK status, PVOID buffer, ULONG length,
                          PLARGE_INTEGER offset, PULONG key);
NTSTATUS NTAPI NtWriteFile(HANDLE file, HANDLE event, PIO_APC_ROUTINE apcRoutine, PVOID apcContext,
                           PIO_STATUS_BLOCK status, PVOID buffer, ULONG length,
                           PLARGE_INTEGER offset, PULONG key);
NTSTATUS NTAPI NtFlushBuffersFile(HANDLE file, PIO_STATUS_BLOCK status);
NTSTATUS NTAPI NtOpenProcessToken(HANDLE process, ACCESS_MASK access, PHANDLE token);
NTSTATUS NTAPI NtQueryInformationToken(HANDLE token, TOKEN_INFORMATION_CLASS infoClass,
                                       PVOID information, ULONG length, PULONG returned);
}

namespace {

/// The system's own functions; filled on first use, so that nothing that runs before
/// main can find the table empty. It costs one indirect call more per system call.
const NtCalls& systemCalls() {
    static const NtCalls calls = [] {
        NtCalls calls;
        calls.createFile = NtCreateFile;
        calls.queryInformationFile = NtQueryInformationFile;
        calls.queryDirectoryFile = NtQueryDirectoryFile;
        calls.setInformationFile = NtSetInformationFile;
        calls.readFile = NtReadFile;
        calls.writeFile = NtWriteFile;
        calls.flushBuffersFile = NtFlushBuffersFile;
        calls.close = NtClose;
        calls.queryObject = NtQueryObject;
        calls.getFullPathName = GetFullPathNameW;
        calls.getFinalPathNameByHandle = GetFinalPathNameByHandleW;
        calls.mapString = LCMapStringW;
        calls.compareStringOrdinal = CompareStringOrdinal;
        calls.openProcessToken = NtOpenProcessToken;
        calls.queryInformationToken = NtQueryInformationToken;
        calls.createMutex = CreateMutexW;
        calls.waitForSingleObject = WaitForSingleObject;
        calls.releaseMutex = ReleaseMutex;
        calls.sleep = Sleep;
        return calls;
    }();
    return calls;
}

/// A test's model of NT, when one is in place.
const NtCalls* gCalls = nullptr;

}  // namespace

const NtCalls& ntCalls() {
    return gCalls != nullptr ? *gCalls : systemCalls();
}

void useNtCalls(const NtCalls* calls) {
    gCalls = calls;
}
