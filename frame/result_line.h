// The one line every run prints on standard output, and where it goes.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "store/failure_log.h"

namespace resultkind {
constexpr std::string_view kOk = "ok";
constexpr std::string_view kError = "error";
constexpr std::string_view kUnsupported = "unsupported";
constexpr std::string_view kNothing = "nothing";
}  // namespace resultkind

/// "result=<kind>;vendor=<vendor>;supported=<n>;changed=<n>;message=<message>", no line break.
std::string formatResultLine(std::string_view kind, std::string_view vendor, int32_t supported,
                             int32_t changed, std::string_view message);

/// Receives finished lines. The real one writes to standard output; tests keep them.
class LineSink {
  public:
    virtual ~LineSink() = default;
    /// Writes `line` and a line break, then flushes so a reader on a pipe sees it at once.
    virtual void writeLine(std::string_view line) = 0;
};

/// Standard output in text mode (so the line break is CR LF on Windows), flushed per line.
class StdoutSink : public LineSink {
  public:
    void writeLine(std::string_view line) override;
};

/// Standard error in text mode, flushed per line: where a run asked for its detail
/// explains its failures, apart from the result line.
class StderrSink : public LineSink {
  public:
    void writeLine(std::string_view line) override;
};

/// What a run tells its caller: result lines with the program's vendor word built in (and
/// whether it printed one), and every failure it met, which it explains line by line on
/// the detail sink when asked to.
class ResultPrinter {
  public:
    ResultPrinter(std::string_view vendor, LineSink& sink, LineSink* detail = nullptr)
        : vendor_(vendor), sink_(sink), detail_(detail) {}

    void printResultLine(std::string_view kind, int32_t supported, int32_t changed,
                         std::string_view message);

    int linesPrinted() const { return linesPrinted_; }
    std::string_view vendor() const { return vendor_; }

    FailureLog& failures() { return failures_; }
    /// One line per failure met, on the detail sink; nothing when none was met.
    void printDetail();

  private:
    std::string vendor_;
    LineSink& sink_;
    LineSink* detail_;
    int linesPrinted_ = 0;
    FailureLog failures_;
};
