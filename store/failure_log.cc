#include "store/failure_log.h"

#include <cstdio>

#include "store/system_codes.h"

namespace {

struct CodeName {
    int64_t value;
    const char* name;
};

// The codes the file layer classifies or answers with, and those our own checks give.
constexpr CodeName kNtStatusNames[] = {
    {ntstatus::kNoSuchFile, "STATUS_NO_SUCH_FILE"},
    {ntstatus::kInvalidDeviceRequest, "STATUS_INVALID_DEVICE_REQUEST"},
    {ntstatus::kAccessDenied, "STATUS_ACCESS_DENIED"},
    {ntstatus::kObjectNameInvalid, "STATUS_OBJECT_NAME_INVALID"},
    {ntstatus::kObjectNameNotFound, "STATUS_OBJECT_NAME_NOT_FOUND"},
    {ntstatus::kObjectNameCollision, "STATUS_OBJECT_NAME_COLLISION"},
    {ntstatus::kObjectPathInvalid, "STATUS_OBJECT_PATH_INVALID"},
    {ntstatus::kObjectPathNotFound, "STATUS_OBJECT_PATH_NOT_FOUND"},
    {ntstatus::kObjectPathSyntaxBad, "STATUS_OBJECT_PATH_SYNTAX_BAD"},
    {ntstatus::kSharingViolation, "STATUS_SHARING_VIOLATION"},
    {ntstatus::kFileLockConflict, "STATUS_FILE_LOCK_CONFLICT"},
    {ntstatus::kLockNotGranted, "STATUS_LOCK_NOT_GRANTED"},
    {ntstatus::kDeletePending, "STATUS_DELETE_PENDING"},
    {ntstatus::kDiskFull, "STATUS_DISK_FULL"},
    {ntstatus::kFileIsADirectory, "STATUS_FILE_IS_A_DIRECTORY"},
    {ntstatus::kNotSupported, "STATUS_NOT_SUPPORTED"},
    {ntstatus::kBadNetworkPath, "STATUS_BAD_NETWORK_PATH"},
    {ntstatus::kBadNetworkName, "STATUS_BAD_NETWORK_NAME"},
    {ntstatus::kDirectoryNotEmpty, "STATUS_DIRECTORY_NOT_EMPTY"},
    {ntstatus::kNotADirectory, "STATUS_NOT_A_DIRECTORY"},
    {ntstatus::kCannotDelete, "STATUS_CANNOT_DELETE"},
    {ntstatus::kFileDeleted, "STATUS_FILE_DELETED"},
    {ntstatus::kIoDeviceError, "STATUS_IO_DEVICE_ERROR"},
    {ntstatus::kReparsePointEncountered, "STATUS_REPARSE_POINT_ENCOUNTERED"},
    {ntstatus::kFileTooLarge, "STATUS_FILE_TOO_LARGE"},
    {ntstatus::kTooManyLinks, "STATUS_TOO_MANY_LINKS"},
    {ntstatus::kUnsuccessful, "STATUS_UNSUCCESSFUL"},
};

constexpr CodeName kWin32Names[] = {
    {win32error::kInvalidData, "ERROR_INVALID_DATA"},
    {win32error::kInvalidName, "ERROR_INVALID_NAME"},
    {win32error::kDirectory, "ERROR_DIRECTORY"},
    {win32error::kWaitTimeout, "WAIT_TIMEOUT"},
    {win32error::kAccessDenied, "ERROR_ACCESS_DENIED"},
};

template <size_t N>
const char* nameIn(const CodeName (&names)[N], int64_t value) {
    for (const CodeName& entry : names) {
        if (entry.value == value) {
            return entry.name;
        }
    }
    return nullptr;
}

/// UTF-8 of a wide path, a surrogate pair as one character; an unpaired half as U+FFFD.
std::string utf8(const Path& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        uint32_t c = static_cast<uint32_t>(text[i]);
        if (sizeof(wchar_t) == 2 && c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() &&
            text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (static_cast<uint32_t>(text[++i]) - 0xDC00);
        } else if ((c >= 0xD800 && c <= 0xDFFF) || c > 0x10FFFF) {
            c = 0xFFFD;
        }
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

}  // namespace

bool FailureLog::note(std::string_view step, FileStatus status) {
    if (status.ok()) {
        return true;
    }
    failures_.push_back(Failure{std::string(step), std::move(status)});
    return false;
}

void FailureLog::noteDriver(std::string step, std::string_view call, SystemCode code,
                            std::string_view codeName, std::string_view key) {
    FileStatus status = fileFailure(FileOutcome::failed, call, code, Path(key.begin(), key.end()));
    status.codeName = codeName;
    failures_.push_back(Failure{std::move(step), std::move(status)});
}

std::string codeText(SystemCode code, std::string_view known) {
    const char* name = nullptr;
    char number[32];
    switch (code.family) {
        case CodeFamily::none:
            return "";
        case CodeFamily::ntstatus:
            name = nameIn(kNtStatusNames, code.value);
            std::snprintf(number, sizeof number, "0x%08llX",
                          static_cast<unsigned long long>(code.value) & 0xFFFFFFFFull);
            break;
        case CodeFamily::win32:
            name = nameIn(kWin32Names, code.value);
            std::snprintf(number, sizeof number, "%lld", static_cast<long long>(code.value));
            break;
        case CodeFamily::nvapi:
        case CodeFamily::adlx:
            std::snprintf(number, sizeof number, "%lld", static_cast<long long>(code.value));
            break;
    }
    if (!known.empty()) {
        return std::string(known) + " (" + number + ")";
    }
    return name != nullptr ? std::string(name) + " (" + number + ")" : std::string(number);
}

std::string detailLine(const Failure& failure) {
    std::string line = failure.step;
    for (const std::string& part :
         {std::string(failure.status.call), codeText(failure.status.code, failure.status.codeName),
          utf8(failure.status.path)}) {
        if (!part.empty()) {
            line.append(": ").append(part);
        }
    }
    return line;
}
