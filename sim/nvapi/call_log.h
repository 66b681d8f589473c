// The call log: one line per call, appended with a single write each, so a process that
// is killed in the middle of a run still leaves only complete lines behind.
#pragma once

#include <string>
#include <string_view>

class CallLog {
  public:
    CallLog() = default;
    ~CallLog();
    CallLog(const CallLog&) = delete;
    CallLog& operator=(const CallLog&) = delete;

    /// Opens `path` for appending; an empty path leaves the log off.
    void open(const std::wstring& path);

    /// Writes `line` and CR LF straight to the file (no buffer of our own to lose).
    void write(std::string_view line);

  private:
    void* handle_ = nullptr;  // a HANDLE; void* keeps windows.h out of this header
};
