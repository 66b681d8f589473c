// The status codes that code on every platform needs to name: those the Windows file layer
// classifies, which the fake file layer answers with too, and those our own checks give
// a refusal, so that each failure carries a code a support engineer can look up.
#pragma once

#include <cstdint>

#include "store/file_status.h"

namespace ntstatus {
constexpr int64_t kNoSuchFile = 0xC000000F;
constexpr int64_t kAccessDenied = 0xC0000022;
constexpr int64_t kObjectNameInvalid = 0xC0000033;
constexpr int64_t kObjectNameNotFound = 0xC0000034;
constexpr int64_t kObjectNameCollision = 0xC0000035;
constexpr int64_t kObjectPathInvalid = 0xC0000039;
constexpr int64_t kObjectPathNotFound = 0xC000003A;
constexpr int64_t kObjectPathSyntaxBad = 0xC000003B;
constexpr int64_t kSharingViolation = 0xC0000043;
constexpr int64_t kFileLockConflict = 0xC0000054;
constexpr int64_t kLockNotGranted = 0xC0000055;
constexpr int64_t kDeletePending = 0xC0000056;
constexpr int64_t kDiskFull = 0xC000007F;
constexpr int64_t kFileIsADirectory = 0xC00000BA;
constexpr int64_t kNotSupported = 0xC00000BB;
constexpr int64_t kBadNetworkPath = 0xC00000BE;
constexpr int64_t kBadNetworkName = 0xC00000CC;
constexpr int64_t kInvalidDeviceRequest = 0xC0000010;
constexpr int64_t kDirectoryNotEmpty = 0xC0000101;
constexpr int64_t kNotADirectory = 0xC0000103;
constexpr int64_t kCannotDelete = 0xC0000121;
constexpr int64_t kFileDeleted = 0xC0000123;
constexpr int64_t kReparsePointEncountered = 0xC000050B;
constexpr int64_t kFileTooLarge = 0xC0000904;
constexpr int64_t kIoDeviceError = 0xC0000185;
constexpr int64_t kTooManyLinks = 0xC0000265;
constexpr int64_t kUnsuccessful = 0xC0000001;
}  // namespace ntstatus

namespace win32error {
constexpr int64_t kAccessDenied = 5;
constexpr int64_t kInvalidData = 13;
constexpr int64_t kInvalidName = 123;
constexpr int64_t kDirectory = 267;
constexpr int64_t kWaitTimeout = 258;
}  // namespace win32error

inline SystemCode ntCode(int64_t status) {
    return SystemCode{CodeFamily::ntstatus, status};
}
inline SystemCode win32Code(int64_t error) {
    return SystemCode{CodeFamily::win32, error};
}
