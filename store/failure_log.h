// Every failure a run met, in the order met, each with the step it was in, the call that
// answered, the code it answered with and the path or key it was about: what a support
// engineer reads when a run is asked for its detail. The result line never shows any of it.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "store/file_status.h"

class FailureLog {
  public:
    /// Keeps `status` under `step` when it is a failure; true when it is not.
    bool note(std::string_view step, FileStatus status);
    /// Keeps a driver call that failed: its status, the status's name as the driver's
    /// contract gives it, and the key it was for (empty when none).
    void noteDriver(std::string step, std::string_view call, SystemCode code,
                    std::string_view codeName, std::string_view key = {});

    const std::vector<Failure>& all() const { return failures_; }

  private:
    std::vector<Failure> failures_;
};

/// "<step>: <call>: <code name> (<code>): <path or key>", UTF-8; a part that is not known
/// is left out with its separator.
std::string detailLine(const Failure& failure);

/// UTF-8 of a wide path, a surrogate pair as one character; an unpaired half as U+FFFD.
std::string utf8(const Path& text);

/// The code with its name where known: "STATUS_SHARING_VIOLATION (0xC0000043)",
/// "ERROR_INVALID_NAME (123)", "NVAPI_ERROR (-1)" (with `known` the name to give it).
std::string codeText(SystemCode code, std::string_view known = {});
