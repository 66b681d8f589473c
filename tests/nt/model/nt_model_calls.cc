// The system-call table of the model: each entry hands its call to the current model as the
// program's own, and fills the I/O status block as the real call does.
#include "tests/nt/model/nt_model.h"

namespace ntmodel {

namespace {

Model& model() {
    return *currentModel();
}

NTSTATUS done(PIO_STATUS_BLOCK status, NTSTATUS result, ULONG_PTR information = 0) {
    status->Status = result;
    status->Information = information;
    return result;
}

NTSTATUS NTAPI modelCreateFile(PHANDLE handle, ACCESS_MASK access, POBJECT_ATTRIBUTES attributes,
                               PIO_STATUS_BLOCK status, PLARGE_INTEGER, ULONG fileAttributes,
                               ULONG share, ULONG disposition, ULONG options, PVOID, ULONG) {
    return done(status, model().ntCreateFile(Actor::program, handle, access, attributes,
                                             fileAttributes, share, disposition, options));
}

NTSTATUS NTAPI modelQueryInformationFile(HANDLE file, PIO_STATUS_BLOCK status, PVOID information,
                                         ULONG length, FILE_INFORMATION_CLASS infoClass) {
    ULONG_PTR written = 0;
    const NTSTATUS result =
        model().ntQueryInformationFile(file, information, length, infoClass, &written);
    return done(status, result, written);
}

NTSTATUS NTAPI modelQueryDirectoryFile(HANDLE file, HANDLE, PIO_APC_ROUTINE, PVOID,
                                       PIO_STATUS_BLOCK status, PVOID buffer, ULONG length,
                                       FILE_INFORMATION_CLASS infoClass, BOOLEAN single,
                                       PUNICODE_STRING name, BOOLEAN restart) {
    return done(status, model().ntQueryDirectoryFile(file, buffer, length, infoClass, single, name,
                                                     restart));
}

NTSTATUS NTAPI modelSetInformationFile(HANDLE file, PIO_STATUS_BLOCK status, PVOID information,
                                       ULONG length, FILE_INFORMATION_CLASS infoClass) {
    return done(status, model().ntSetInformationFile(file, information, length, infoClass));
}

NTSTATUS NTAPI modelReadFile(HANDLE file, HANDLE, PIO_APC_ROUTINE, PVOID, PIO_STATUS_BLOCK status,
                             PVOID buffer, ULONG length, PLARGE_INTEGER offset, PULONG) {
    ULONG_PTR count = 0;
    const NTSTATUS result = model().ntReadFile(file, buffer, length, offset, &count);
    return done(status, result, count);
}

NTSTATUS NTAPI modelWriteFile(HANDLE file, HANDLE, PIO_APC_ROUTINE, PVOID, PIO_STATUS_BLOCK status,
                              PVOID buffer, ULONG length, PLARGE_INTEGER offset, PULONG) {
    ULONG_PTR count = 0;
    const NTSTATUS result = model().ntWriteFile(file, buffer, length, offset, &count);
    return done(status, result, count);
}

NTSTATUS NTAPI modelFlushBuffersFile(HANDLE file, PIO_STATUS_BLOCK status) {
    return done(status, model().ntFlushBuffersFile(file));
}

NTSTATUS NTAPI modelCloseHandle(HANDLE handle) {
    return model().ntClose(handle);
}

NTSTATUS NTAPI modelQueryObject(HANDLE handle, OBJECT_INFORMATION_CLASS infoClass,
                                PVOID information, ULONG length, PULONG returned) {
    return model().ntQueryObject(handle, infoClass, information, length, returned);
}

DWORD WINAPI modelGetFullPathName(LPCWSTR name, DWORD length, LPWSTR buffer, LPWSTR* filePart) {
    if (filePart != nullptr) {
        *filePart = nullptr;
    }
    return model().getFullPathName(name, length, buffer);
}

DWORD WINAPI modelGetFinalPathNameByHandle(HANDLE file, LPWSTR buffer, DWORD length, DWORD flags) {
    return model().getFinalPathNameByHandle(file, buffer, length, flags);
}

NTSTATUS NTAPI modelOpenProcessToken(HANDLE, ACCESS_MASK, PHANDLE token) {
    return model().ntOpenProcessToken(token);
}

NTSTATUS NTAPI modelQueryInformationToken(HANDLE token, TOKEN_INFORMATION_CLASS infoClass,
                                          PVOID information, ULONG length, PULONG returned) {
    return model().ntQueryInformationToken(token, infoClass, information, length, returned);
}

HANDLE WINAPI modelCreateMutex(LPSECURITY_ATTRIBUTES, BOOL owned, LPCWSTR name) {
    if (owned || name == nullptr) {
        SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
        return nullptr;
    }
    return model().createMutex(name);
}

DWORD WINAPI modelWaitForSingleObject(HANDLE handle, DWORD milliseconds) {
    return model().waitForSingleObject(handle, milliseconds);
}

BOOL WINAPI modelReleaseMutex(HANDLE mutex) {
    return model().releaseMutexHandle(mutex);
}

VOID WINAPI modelSleep(DWORD milliseconds) {
    model().sleep(milliseconds);
}

}  // namespace

NtCalls Model::calls() {
    setCurrentModel(this);
    NtCalls calls;
    calls.createFile = modelCreateFile;
    calls.queryInformationFile = modelQueryInformationFile;
    calls.queryDirectoryFile = modelQueryDirectoryFile;
    calls.setInformationFile = modelSetInformationFile;
    calls.readFile = modelReadFile;
    calls.writeFile = modelWriteFile;
    calls.flushBuffersFile = modelFlushBuffersFile;
    calls.close = modelCloseHandle;
    calls.queryObject = modelQueryObject;
    calls.getFullPathName = modelGetFullPathName;
    calls.getFinalPathNameByHandle = modelGetFinalPathNameByHandle;
    // Letter case is the system's own business, not the namespace's.
    calls.mapString = LCMapStringW;
    calls.compareStringOrdinal = CompareStringOrdinal;
    calls.openProcessToken = modelOpenProcessToken;
    calls.queryInformationToken = modelQueryInformationToken;
    calls.createMutex = modelCreateMutex;
    calls.waitForSingleObject = modelWaitForSingleObject;
    calls.releaseMutex = modelReleaseMutex;
    calls.sleep = modelSleep;
    return calls;
}

}  // namespace ntmodel
