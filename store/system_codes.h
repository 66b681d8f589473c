// The status codes that code on every platform needs to name: those the Windows file layer
// classifies, which the fake file layer answers with too, and those our own checks give
// a refusal, so that each failure carries a code a support engineer can look up.
#pragma once

#include <cstdint>

#include "store/file_status.h"

// Each code once, with the name it is looked up by: the constants below and the names
// the failure log writes are both made from this one list, so they cannot drift apart.
#define PRESETS_SYSTEM_CODES(NT_CODE, WIN32_CODE)                                     \
    NT_CODE(kUnsuccessful, 0xC0000001, "STATUS_UNSUCCESSFUL")                         \
    NT_CODE(kNoSuchFile, 0xC000000F, "STATUS_NO_SUCH_FILE")                           \
    NT_CODE(kInvalidDeviceRequest, 0xC0000010, "STATUS_INVALID_DEVICE_REQUEST")       \
    NT_CODE(kAccessDenied, 0xC0000022, "STATUS_ACCESS_DENIED")                        \
    NT_CODE(kObjectNameInvalid, 0xC0000033, "STATUS_OBJECT_NAME_INVALID")             \
    NT_CODE(kObjectNameNotFound, 0xC0000034, "STATUS_OBJECT_NAME_NOT_FOUND")          \
    NT_CODE(kObjectNameCollision, 0xC0000035, "STATUS_OBJECT_NAME_COLLISION")         \
    NT_CODE(kObjectPathInvalid, 0xC0000039, "STATUS_OBJECT_PATH_INVALID")             \
    NT_CODE(kObjectPathNotFound, 0xC000003A, "STATUS_OBJECT_PATH_NOT_FOUND")          \
    NT_CODE(kObjectPathSyntaxBad, 0xC000003B, "STATUS_OBJECT_PATH_SYNTAX_BAD")        \
    NT_CODE(kSharingViolation, 0xC0000043, "STATUS_SHARING_VIOLATION")                \
    NT_CODE(kFileLockConflict, 0xC0000054, "STATUS_FILE_LOCK_CONFLICT")               \
    NT_CODE(kLockNotGranted, 0xC0000055, "STATUS_LOCK_NOT_GRANTED")                   \
    NT_CODE(kDeletePending, 0xC0000056, "STATUS_DELETE_PENDING")                      \
    NT_CODE(kDiskFull, 0xC000007F, "STATUS_DISK_FULL")                                \
    NT_CODE(kFileIsADirectory, 0xC00000BA, "STATUS_FILE_IS_A_DIRECTORY")              \
    NT_CODE(kNotSupported, 0xC00000BB, "STATUS_NOT_SUPPORTED")                        \
    NT_CODE(kBadNetworkPath, 0xC00000BE, "STATUS_BAD_NETWORK_PATH")                   \
    NT_CODE(kBadNetworkName, 0xC00000CC, "STATUS_BAD_NETWORK_NAME")                   \
    NT_CODE(kDirectoryNotEmpty, 0xC0000101, "STATUS_DIRECTORY_NOT_EMPTY")             \
    NT_CODE(kNotADirectory, 0xC0000103, "STATUS_NOT_A_DIRECTORY")                     \
    NT_CODE(kCannotDelete, 0xC0000121, "STATUS_CANNOT_DELETE")                        \
    NT_CODE(kFileDeleted, 0xC0000123, "STATUS_FILE_DELETED")                          \
    NT_CODE(kIoDeviceError, 0xC0000185, "STATUS_IO_DEVICE_ERROR")                     \
    NT_CODE(kTooManyLinks, 0xC0000265, "STATUS_TOO_MANY_LINKS")                       \
    NT_CODE(kReparsePointEncountered, 0xC000050B, "STATUS_REPARSE_POINT_ENCOUNTERED") \
    NT_CODE(kFileTooLarge, 0xC0000904, "STATUS_FILE_TOO_LARGE")                       \
    WIN32_CODE(kAccessDenied, 5, "ERROR_ACCESS_DENIED")                               \
    WIN32_CODE(kInvalidData, 13, "ERROR_INVALID_DATA")                                \
    WIN32_CODE(kInvalidName, 123, "ERROR_INVALID_NAME")                               \
    WIN32_CODE(kWaitTimeout, 258, "WAIT_TIMEOUT")                                     \
    WIN32_CODE(kDirectory, 267, "ERROR_DIRECTORY")

#define PRESETS_CODE_CONSTANT(constant, value, name) constexpr int64_t constant = value;
#define PRESETS_CODE_SKIPPED(constant, value, name)

namespace ntstatus {
PRESETS_SYSTEM_CODES(PRESETS_CODE_CONSTANT, PRESETS_CODE_SKIPPED)
}  // namespace ntstatus

namespace win32error {
PRESETS_SYSTEM_CODES(PRESETS_CODE_SKIPPED, PRESETS_CODE_CONSTANT)
}  // namespace win32error

#undef PRESETS_CODE_CONSTANT
#undef PRESETS_CODE_SKIPPED

inline SystemCode ntCode(int64_t status) {
    return SystemCode{CodeFamily::ntstatus, status};
}
inline SystemCode win32Code(int64_t error) {
    return SystemCode{CodeFamily::win32, error};
}
