// Every system call the Windows file layer, the backup lock and the elevation query make,
// in one table. The programs use the system's own functions; a test puts a model of NT in
// their place, so that the very code that ships can be run against what Wine cannot show:
// junctions and their tags, shares, tokens that are not elevated, sharing between
// processes, and a race as one step the model takes between two calls.
#pragma once

#include <windows.h>
#include <winternl.h>

/// Asks or changes one class of information about an open file (the two calls share it).
using FileInformationCall = NTSTATUS(NTAPI*)(HANDLE file, PIO_STATUS_BLOCK status,
                                             PVOID information, ULONG length,
                                             FILE_INFORMATION_CLASS infoClass);
/// Reads or writes the bytes of an open file (the two calls share it).
using FileTransferCall = NTSTATUS(NTAPI*)(HANDLE file, HANDLE event, PIO_APC_ROUTINE apcRoutine,
                                          PVOID apcContext, PIO_STATUS_BLOCK status, PVOID buffer,
                                          ULONG length, PLARGE_INTEGER offset, PULONG key);

struct NtCalls {
    // Files and folders, opened relative to a folder handle.
    NTSTATUS(NTAPI* createFile)
    (PHANDLE handle, ACCESS_MASK access, POBJECT_ATTRIBUTES attributes, PIO_STATUS_BLOCK status,
     PLARGE_INTEGER allocation, ULONG fileAttributes, ULONG share, ULONG disposition, ULONG options,
     PVOID eaBuffer, ULONG eaLength) = nullptr;
    FileInformationCall queryInformationFile = nullptr;
    NTSTATUS(NTAPI* queryDirectoryFile)
    (HANDLE file, HANDLE event, PIO_APC_ROUTINE apcRoutine, PVOID apcContext,
     PIO_STATUS_BLOCK status, PVOID buffer, ULONG length, FILE_INFORMATION_CLASS infoClass,
     BOOLEAN singleEntry, PUNICODE_STRING fileName, BOOLEAN restartScan) = nullptr;
    FileInformationCall setInformationFile = nullptr;
    FileTransferCall readFile = nullptr;
    FileTransferCall writeFile = nullptr;
    NTSTATUS(NTAPI* flushBuffersFile)(HANDLE file, PIO_STATUS_BLOCK status) = nullptr;
    /// Closes any handle the table handed out.
    NTSTATUS(NTAPI* close)(HANDLE handle) = nullptr;
    NTSTATUS(NTAPI* queryObject)
    (HANDLE handle, OBJECT_INFORMATION_CLASS infoClass, PVOID information, ULONG length,
     PULONG returned) = nullptr;

    // Names: made absolute, asked of a handle, compared and folded without regard to case.
    DWORD(WINAPI* getFullPathName)
    (LPCWSTR name, DWORD length, LPWSTR buffer, LPWSTR* filePart) = nullptr;
    DWORD(WINAPI* getFinalPathNameByHandle)
    (HANDLE file, LPWSTR buffer, DWORD length, DWORD flags) = nullptr;
    int(WINAPI* mapString)(LCID locale, DWORD flags, LPCWSTR source, int sourceLength,
                           LPWSTR destination, int destinationLength) = nullptr;
    int(WINAPI* compareStringOrdinal)(LPCWCH a, int aLength, LPCWCH b, int bLength,
                                      BOOL ignoreCase) = nullptr;

    // The process token.
    NTSTATUS(NTAPI* openProcessToken)(HANDLE process, ACCESS_MASK access, PHANDLE token) = nullptr;
    NTSTATUS(NTAPI* queryInformationToken)
    (HANDLE token, TOKEN_INFORMATION_CLASS infoClass, PVOID information, ULONG length,
     PULONG returned) = nullptr;

    // The lock between runs, and the wait before a busy file is tried again.
    HANDLE(WINAPI* createMutex)(LPSECURITY_ATTRIBUTES security, BOOL owned, LPCWSTR name) = nullptr;
    DWORD(WINAPI* waitForSingleObject)(HANDLE handle, DWORD milliseconds) = nullptr;
    BOOL(WINAPI* releaseMutex)(HANDLE mutex) = nullptr;
    VOID(WINAPI* sleep)(DWORD milliseconds) = nullptr;
};

/// The calls in force: the system's own, unless a test put others in their place.
const NtCalls& ntCalls();

/// Puts `calls` in place of the system's for every later call, or the system's back when
/// `calls` is null. For tests only; `calls` must outlive its use.
void useNtCalls(const NtCalls* calls);
