#include "tests/nt/call_hooks.h"

#include "tests/nt/table_runner.h"

namespace {

CallHooks* gHooks = nullptr;

Path leafOf(const OBJECT_ATTRIBUTES* attributes) {
    if (attributes == nullptr || attributes->ObjectName == nullptr) {
        return Path();
    }
    const Path name(attributes->ObjectName->Buffer,
                    attributes->ObjectName->Length / sizeof(wchar_t));
    // A whole name in the system's form logs as given; a relative one is a leaf already.
    return name;
}

/// Whether a step for `wanted` is due at a call on `name`: any name when it is empty, else the
/// same name, or a whole path that ends in it (however the layer spelt the open).
bool namesMatch(const Path& wanted, const Path& name) {
    return wanted.empty() || name == wanted ||
           (name.size() > wanted.size() &&
            name.compare(name.size() - wanted.size(), wanted.size(), wanted) == 0 &&
            name[name.size() - wanted.size() - 1] == L'\\');
}

const char* setClassName(FILE_INFORMATION_CLASS infoClass) {
    switch (static_cast<int>(infoClass)) {
        case FileBasicInformation:
            return "attributes";
        case FileRenameInformation:
            return "rename";
        case FileDispositionInformation:
            return "delete";
        case FileLinkInformation:
            return "link";
        default:
            return "other";
    }
}

/// Logs and runs the steps around one call on a handle.
template <typename Call>
auto onHandle(const std::string& function, HANDLE handle, Call call) {
    const Path name = gHooks->nameOf(handle);
    gHooks->enter(function, name);
    auto result = call();
    gHooks->leave(function, name);
    return result;
}

NTSTATUS NTAPI createFile(PHANDLE handle, ACCESS_MASK access, POBJECT_ATTRIBUTES attributes,
                          PIO_STATUS_BLOCK status, PLARGE_INTEGER allocation, ULONG fileAttributes,
                          ULONG share, ULONG disposition, ULONG options, PVOID ea, ULONG eaLength) {
    const Path name = leafOf(attributes);
    gHooks->enter("NtCreateFile", name);
    const NTSTATUS result =
        gHooks->inner().createFile(handle, access, attributes, status, allocation, fileAttributes,
                                   share, disposition, options, ea, eaLength);
    if (result >= 0) {
        gHooks->remember(*handle, name);
    }
    gHooks->leave("NtCreateFile", name);
    return result;
}

NTSTATUS NTAPI queryInformationFile(HANDLE file, PIO_STATUS_BLOCK status, PVOID information,
                                    ULONG length, FILE_INFORMATION_CLASS infoClass) {
    return onHandle("NtQueryInformationFile", file, [&] {
        return gHooks->inner().queryInformationFile(file, status, information, length, infoClass);
    });
}

NTSTATUS NTAPI queryDirectoryFile(HANDLE file, HANDLE event, PIO_APC_ROUTINE apc, PVOID context,
                                  PIO_STATUS_BLOCK status, PVOID buffer, ULONG length,
                                  FILE_INFORMATION_CLASS infoClass, BOOLEAN single,
                                  PUNICODE_STRING name, BOOLEAN restart) {
    return onHandle("NtQueryDirectoryFile", file, [&] {
        return gHooks->inner().queryDirectoryFile(file, event, apc, context, status, buffer, length,
                                                  infoClass, single, name, restart);
    });
}

NTSTATUS NTAPI setInformationFile(HANDLE file, PIO_STATUS_BLOCK status, PVOID information,
                                  ULONG length, FILE_INFORMATION_CLASS infoClass) {
    const std::string function = std::string("NtSetInformationFile ") + setClassName(infoClass);
    return onHandle(function, file, [&] {
        return gHooks->inner().setInformationFile(file, status, information, length, infoClass);
    });
}

/// Reading and writing take the same arguments, so one hook passes either on.
template <FileTransferCall NtCalls::*Call>
NTSTATUS NTAPI transferFile(HANDLE file, HANDLE event, PIO_APC_ROUTINE apc, PVOID context,
                            PIO_STATUS_BLOCK status, PVOID buffer, ULONG length,
                            PLARGE_INTEGER offset, PULONG key) {
    const char* const function = Call == &NtCalls::readFile ? "NtReadFile" : "NtWriteFile";
    return onHandle(function, file, [&] {
        return (gHooks->inner().*Call)(file, event, apc, context, status, buffer, length, offset,
                                       key);
    });
}

NTSTATUS NTAPI flushBuffersFile(HANDLE file, PIO_STATUS_BLOCK status) {
    return onHandle("NtFlushBuffersFile", file,
                    [&] { return gHooks->inner().flushBuffersFile(file, status); });
}

NTSTATUS NTAPI closeHandle(HANDLE handle) {
    return onHandle("NtClose", handle, [&] { return gHooks->inner().close(handle); });
}

NTSTATUS NTAPI queryObject(HANDLE handle, OBJECT_INFORMATION_CLASS infoClass, PVOID information,
                           ULONG length, PULONG returned) {
    return onHandle("NtQueryObject", handle, [&] {
        return gHooks->inner().queryObject(handle, infoClass, information, length, returned);
    });
}

DWORD WINAPI getFullPathName(LPCWSTR name, DWORD length, LPWSTR buffer, LPWSTR* filePart) {
    gHooks->enter("GetFullPathNameW", name);
    const DWORD result = gHooks->inner().getFullPathName(name, length, buffer, filePart);
    gHooks->leave("GetFullPathNameW", name);
    return result;
}

DWORD WINAPI getFinalPathNameByHandle(HANDLE file, LPWSTR buffer, DWORD length, DWORD flags) {
    return onHandle("GetFinalPathNameByHandleW", file, [&] {
        return gHooks->inner().getFinalPathNameByHandle(file, buffer, length, flags);
    });
}

int WINAPI mapString(LCID locale, DWORD flags, LPCWSTR source, int sourceLength, LPWSTR destination,
                     int destinationLength) {
    return gHooks->inner().mapString(locale, flags, source, sourceLength, destination,
                                     destinationLength);
}

int WINAPI compareStringOrdinal(LPCWCH a, int aLength, LPCWCH b, int bLength, BOOL ignoreCase) {
    return gHooks->inner().compareStringOrdinal(a, aLength, b, bLength, ignoreCase);
}

NTSTATUS NTAPI openProcessToken(HANDLE process, ACCESS_MASK access, PHANDLE token) {
    gHooks->enter("NtOpenProcessToken", Path());
    const NTSTATUS result = gHooks->inner().openProcessToken(process, access, token);
    gHooks->leave("NtOpenProcessToken", Path());
    return result;
}

NTSTATUS NTAPI queryInformationToken(HANDLE token, TOKEN_INFORMATION_CLASS infoClass,
                                     PVOID information, ULONG length, PULONG returned) {
    return onHandle("NtQueryInformationToken", token, [&] {
        return gHooks->inner().queryInformationToken(token, infoClass, information, length,
                                                     returned);
    });
}

HANDLE WINAPI createMutex(LPSECURITY_ATTRIBUTES security, BOOL owned, LPCWSTR name) {
    const Path text = name == nullptr ? Path() : Path(name);
    gHooks->enter("CreateMutexW", text);
    HANDLE mutex = gHooks->inner().createMutex(security, owned, name);
    if (mutex != nullptr) {
        gHooks->remember(mutex, text);
    }
    gHooks->leave("CreateMutexW", text);
    return mutex;
}

DWORD WINAPI waitForSingleObject(HANDLE handle, DWORD milliseconds) {
    const Path waited = std::to_wstring(milliseconds);
    gHooks->enter("WaitForSingleObject", waited);
    const DWORD result =
        gHooks->inner().waitForSingleObject(handle, gHooks->shortWaits() ? 0 : milliseconds);
    gHooks->leave("WaitForSingleObject", waited);
    return result;
}

BOOL WINAPI releaseMutex(HANDLE mutex) {
    return onHandle("ReleaseMutex", mutex, [&] { return gHooks->inner().releaseMutex(mutex); });
}

VOID WINAPI sleep(DWORD milliseconds) {
    const Path waited = std::to_wstring(milliseconds);
    gHooks->enter("Sleep", waited);
    if (!gHooks->shortWaits()) {
        gHooks->inner().sleep(milliseconds);
    }
    gHooks->leave("Sleep", waited);
}

}  // namespace

CallHooks::CallHooks(const NtCalls& inner, bool shortWaits)
    : inner_(inner), shortWaits_(shortWaits) {
    wrapped_.createFile = createFile;
    wrapped_.queryInformationFile = queryInformationFile;
    wrapped_.queryDirectoryFile = queryDirectoryFile;
    wrapped_.setInformationFile = setInformationFile;
    wrapped_.readFile = transferFile<&NtCalls::readFile>;
    wrapped_.writeFile = transferFile<&NtCalls::writeFile>;
    wrapped_.flushBuffersFile = flushBuffersFile;
    wrapped_.close = closeHandle;
    wrapped_.queryObject = queryObject;
    wrapped_.getFullPathName = getFullPathName;
    wrapped_.getFinalPathNameByHandle = getFinalPathNameByHandle;
    wrapped_.mapString = mapString;
    wrapped_.compareStringOrdinal = compareStringOrdinal;
    wrapped_.openProcessToken = openProcessToken;
    wrapped_.queryInformationToken = queryInformationToken;
    wrapped_.createMutex = createMutex;
    wrapped_.waitForSingleObject = waitForSingleObject;
    wrapped_.releaseMutex = releaseMutex;
    wrapped_.sleep = sleep;
    gHooks = this;
    useNtCalls(&wrapped_);
}

CallHooks::~CallHooks() {
    useNtCalls(nullptr);
    gHooks = nullptr;
}

void CallHooks::after(const std::string& function, const Path& name, int nth,
                      std::function<void()> act) {
    steps_.push_back(Step{function, name, nth, false, std::move(act)});
}

void CallHooks::before(const std::string& function, const Path& name, int nth,
                       std::function<void()> act) {
    steps_.push_back(Step{function, name, nth, true, std::move(act)});
}

std::vector<std::string> CallHooks::calls(const std::string& function) const {
    std::vector<std::string> found;
    for (const std::string& entry : log_) {
        if (entry.compare(0, function.size(), function) == 0) {
            found.push_back(entry);
        }
    }
    return found;
}

int CallHooks::stepsLeft() const {
    int left = 0;
    for (const Step& step : steps_) {
        left += step.done ? 0 : 1;
    }
    return left;
}

Path CallHooks::nameOf(HANDLE handle) const {
    const auto found = names_.find(handle);
    return found == names_.end() ? Path() : found->second;
}

void CallHooks::run(bool before, const std::string& function, const Path& name) {
    for (size_t i = 0; i < steps_.size(); ++i) {
        Step& step = steps_[i];
        if (step.done || step.before != before || step.function != function ||
            !namesMatch(step.name, name)) {
            continue;
        }
        if (++step.seen == step.nth) {
            step.done = true;
            std::function<void()> act = step.act;  // a step may add steps
            act();
        }
    }
}

void CallHooks::enter(const std::string& function, const Path& name) {
    run(true, function, name);
}

void CallHooks::leave(const std::string& function, const Path& name) {
    log_.push_back(name.empty() ? function : function + " " + utf8(name));
    run(false, function, name);
}
