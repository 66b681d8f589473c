#include "windows/nt_folder.h"

#include <ntstatus.h>

#include <vector>

namespace {

/// A path the system takes is at most 32767 characters; a name in a listing far less.
constexpr size_t kLongestName = 32768;
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

/// A counted string over `text`, which must outlive it. Names longer than a counted string
/// can hold are cut to nothing, which no open accepts.
UNICODE_STRING countedString(const Path& text) {
    const size_t bytes = text.size() * sizeof(wchar_t);
    UNICODE_STRING counted{};
    if (bytes <= 0xFFFE) {
        counted.Buffer = const_cast<PWSTR>(text.c_str());
        counted.Length = static_cast<USHORT>(bytes);
        counted.MaximumLength = static_cast<USHORT>(bytes);
    }
    return counted;
}

NTSTATUS setFile(HANDLE file, FILE_INFORMATION_CLASS infoClass, void* information, ULONG length) {
    IO_STATUS_BLOCK status{};
    return ntCalls().setInformationFile(file, &status, information, length, infoClass);
}

}  // namespace

bool isNotFound(NTSTATUS status) {
    switch (status) {
        case STATUS_OBJECT_NAME_NOT_FOUND:
        case STATUS_NO_SUCH_FILE:
        case STATUS_OBJECT_PATH_NOT_FOUND:
        case STATUS_OBJECT_NAME_INVALID:
        case STATUS_OBJECT_PATH_INVALID:
        case STATUS_OBJECT_PATH_SYNTAX_BAD:
        case STATUS_NOT_A_DIRECTORY:
            return true;
        default:
            return false;
    }
}

bool sameName(const Path& a, const Path& b) {
    return ntCalls().compareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(),
                                          static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

NTSTATUS resolve(HANDLE handle, Path& out) {
    // One question to the system, which also answers beyond MAX_PATH under Wine (where
    // GetFinalPathNameByHandleW does not) and, unlike asking for the volume's serial
    // number, needs no round trip to Wine's mount manager.
    std::vector<char> buffer(sizeof(OBJECT_NAME_INFORMATION) + kLongestName * sizeof(wchar_t));
    ULONG returned = 0;
    const NTSTATUS status = ntCalls().queryObject(handle, ObjectNameInformation, buffer.data(),
                                                  static_cast<ULONG>(buffer.size()), &returned);
    if (status < 0) {
        return status;
    }
    const auto* info = reinterpret_cast<const OBJECT_NAME_INFORMATION*>(buffer.data());
    out.assign(info->Name.Buffer, info->Name.Length / sizeof(wchar_t));
    return out.empty() ? STATUS_OBJECT_NAME_INVALID : STATUS_SUCCESS;
}

NtOpened openRelative(HANDLE folder, const Path& name, ACCESS_MASK access, ULONG share,
                      ULONG disposition, ULONG options) {
    // What CreateFileW does for SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION.
    SECURITY_QUALITY_OF_SERVICE quality{};
    quality.Length = sizeof quality;
    quality.ImpersonationLevel = SecurityIdentification;
    quality.ContextTrackingMode = SECURITY_STATIC_TRACKING;
    quality.EffectiveOnly = FALSE;
    UNICODE_STRING counted = countedString(name);
    OBJECT_ATTRIBUTES attributes{};
    attributes.Length = sizeof attributes;
    attributes.RootDirectory = folder;
    attributes.ObjectName = &counted;
    attributes.Attributes = OBJ_CASE_INSENSITIVE;
    attributes.SecurityQualityOfService = &quality;
    IO_STATUS_BLOCK status{};
    HANDLE raw = nullptr;
    NtOpened opened;
    opened.status = ntCalls().createFile(&raw, access | SYNCHRONIZE, &attributes, &status, nullptr,
                                         FILE_ATTRIBUTE_NORMAL, share, disposition,
                                         options | FILE_SYNCHRONOUS_IO_NONALERT, nullptr, 0);
    if (opened.status >= 0) {
        opened.handle.reset(raw);
    }
    return opened;
}

NTSTATUS queryFile(HANDLE file, FILE_INFORMATION_CLASS infoClass, void* information, ULONG length) {
    IO_STATUS_BLOCK status{};
    return ntCalls().queryInformationFile(file, &status, information, length, infoClass);
}

Listed listedName(HANDLE folder, const Path& name) {
    Listed listed;
    if (name.empty() || name.find_first_of(L"*?<>\"") != Path::npos) {
        return listed;  // wildcards would match other entries
    }
    // A listing's search pattern is fixed by the first query on a handle, so each lookup
    // lists through a handle of its own on the same folder (the empty name relative to it).
    const NtOpened listing = openRelative(folder, Path(), FILE_LIST_DIRECTORY, kShareAll, FILE_OPEN,
                                          FILE_DIRECTORY_FILE);
    if (!listing.handle.valid()) {
        return listed;
    }
    std::vector<char> buffer(sizeof(FILE_NAMES_INFORMATION) + kLongestName * sizeof(wchar_t));
    UNICODE_STRING pattern = countedString(name);
    IO_STATUS_BLOCK status{};
    const NTSTATUS result = ntCalls().queryDirectoryFile(
        listing.handle.get(), nullptr, nullptr, nullptr, &status, buffer.data(),
        static_cast<ULONG>(buffer.size()), FileNamesInformation, TRUE, &pattern, TRUE);
    if (result == STATUS_NO_SUCH_FILE) {
        listed.state = PathState::absent;
    } else if (result == STATUS_SUCCESS) {
        const auto* entry = reinterpret_cast<const FILE_NAMES_INFORMATION*>(buffer.data());
        listed.state = PathState::present;
        listed.name.assign(entry->FileName, entry->FileNameLength / sizeof(wchar_t));
    }
    return listed;
}

bool pointsElsewhere(HANDLE handle, const Path& self, HANDLE parent, const Path& parentName,
                     const Path& name) {
    FILE_ATTRIBUTE_TAG_INFORMATION tag{};
    if (queryFile(handle, FileAttributeTagInformation, tag) < 0) {
        return true;
    }
    // Wine reports tag 0 for a linked folder; an unknown tag is no proof of harmlessness.
    if ((tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 &&
        (tag.ReparseTag == 0 || IsReparseTagNameSurrogate(tag.ReparseTag))) {
        return true;
    }
    Path expected = parentName;
    if (expected.empty() || expected.back() != L'\\') {
        expected += L'\\';
    }
    if (sameName(self, expected + name)) {
        return false;
    }
    // An 8.3 short name resolves to the long one; a link lists under its own name.
    const Listed listed = listedName(parent, name);
    return listed.state != PathState::present || !sameName(self, expected + listed.name);
}

Path finalPlaceOf(HANDLE folder) {
    std::vector<wchar_t> buffer(kLongestName);
    const DWORD length =
        ntCalls().getFinalPathNameByHandle(folder, buffer.data(), static_cast<DWORD>(buffer.size()),
                                           FILE_NAME_NORMALIZED | VOLUME_NAME_NT);
    if (length != 0 && length < buffer.size()) {
        return Path(buffer.data(), length);
    }
    Path name;
    return resolve(folder, name) >= 0 ? name : Path();
}

NTSTATUS renameInside(HANDLE file, HANDLE folder, const Path& to) {
    std::vector<char> buffer(sizeof(FILE_RENAME_INFORMATION) + to.size() * sizeof(wchar_t));
    auto* info = reinterpret_cast<FILE_RENAME_INFORMATION*>(buffer.data());
    info->ReplaceIfExists = TRUE;
    info->RootDirectory = folder;
    info->FileNameLength = static_cast<ULONG>(to.size() * sizeof(wchar_t));
    to.copy(info->FileName, to.size());
    // kernel32's SetFileInformationByHandle takes no folder handle under Wine.
    return setFile(file, FileRenameInformation, info, static_cast<ULONG>(buffer.size()));
}

bool changeReadOnlyMark(HANDLE file, bool readOnly) {
    FILE_BASIC_INFORMATION basic{};
    if (queryFile(file, FileBasicInformation, basic) < 0 ||
        ((basic.FileAttributes & FILE_ATTRIBUTE_READONLY) != 0) == readOnly) {
        return false;
    }
    // Only the attributes change: zero times mean "leave as they are".
    basic.CreationTime.QuadPart = 0;
    basic.LastAccessTime.QuadPart = 0;
    basic.LastWriteTime.QuadPart = 0;
    basic.ChangeTime.QuadPart = 0;
    if (readOnly) {
        basic.FileAttributes =
            (basic.FileAttributes & ~DWORD{FILE_ATTRIBUTE_NORMAL}) | FILE_ATTRIBUTE_READONLY;
    } else {
        basic.FileAttributes &= ~DWORD{FILE_ATTRIBUTE_READONLY};
        if (basic.FileAttributes == 0) {
            basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;  // 0 would mean "leave as it is"
        }
    }
    return setFile(file, FileBasicInformation, &basic, sizeof basic) >= 0;
}

NTSTATUS deleteByHandle(HANDLE file) {
    FILE_DISPOSITION_INFORMATION disposition{TRUE};
    const NTSTATUS status =
        setFile(file, FileDispositionInformation, &disposition, sizeof disposition);
    // A read-only file is deleted as well: it is the backup the user asked us to retire.
    if (status != STATUS_CANNOT_DELETE && status != STATUS_ACCESS_DENIED) {
        return status;
    }
    if (!changeReadOnlyMark(file, false)) {
        return status;
    }
    const NTSTATUS again =
        setFile(file, FileDispositionInformation, &disposition, sizeof disposition);
    if (again < 0) {
        changeReadOnlyMark(file, true);  // the file stays, and stays as it was
    }
    return again;
}
