// Keeps the lines a program would have printed; given a call log, also marks there when
// each line came, so a test can assert it among the driver's and the file layer's calls.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "frame/result_line.h"

class RecordingSink : public LineSink {
  public:
    RecordingSink() = default;
    /// Appends `marker` to `log` for every line written.
    RecordingSink(std::vector<std::string>& log, std::string marker)
        : log_(&log), marker_(std::move(marker)) {}

    void writeLine(std::string_view line) override {
        lines.emplace_back(line);
        if (log_ != nullptr) {
            log_->push_back(marker_);
        }
    }
    std::vector<std::string> lines;

  private:
    std::vector<std::string>* log_ = nullptr;
    std::string marker_;
};
