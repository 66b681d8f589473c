// What a file operation came to, and, when it did not go through, why: the system call that
// answered, the code it answered with and the whole path it acted on. A failure that keeps
// its cause can be explained later to whoever has to find out what went wrong.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "store/path.h"

/// The family a code belongs to: the same number means different things in each.
enum class CodeFamily : uint8_t { none, win32, ntstatus, nvapi, adlx };

/// A status code as a system call or a driver answered it.
struct SystemCode {
    CodeFamily family = CodeFamily::none;
    int64_t value = 0;

    friend bool operator==(const SystemCode& a, const SystemCode& b) {
        return a.family == b.family && a.value == b.value;
    }
};

/// `absent` only when nothing stands at the name (or a folder on the way is missing);
/// `busy` when another program holds or locks it for the moment (virus scanners,
/// indexers); `failed` for anything else, a refusal by our own checks among them.
enum class FileOutcome : uint8_t { ok, absent, busy, failed };

struct FileStatus {
    FileOutcome outcome = FileOutcome::ok;
    /// The call that answered, as the system names it; empty when all went well.
    std::string_view call;
    SystemCode code;
    /// The whole path the call acted on, as the walk spelt it.
    Path path;
    /// The code's name, where the one who noted it knows it (a driver's own statuses);
    /// system codes are named by the failure log itself.
    std::string_view codeName;

    bool ok() const { return outcome == FileOutcome::ok; }
};

inline FileStatus fileOk() {
    return FileStatus{};
}

inline FileStatus fileFailure(FileOutcome outcome, std::string_view call, SystemCode code,
                              Path path) {
    return FileStatus{outcome, call, code, std::move(path), {}};
}

/// A failure as a run met it: the step it was in ("saving the backup", "reading setting
/// 0x1057EB71"), and what ended that step. For a driver call, `status.path` holds the key.
struct Failure {
    std::string step;
    FileStatus status;
};
