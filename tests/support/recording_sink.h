// Keeps the lines a program would have printed.
#pragma once

#include <string>
#include <vector>

#include "common/result_line.h"

class RecordingSink : public LineSink {
  public:
    void writeLine(std::string_view line) override { lines.emplace_back(line); }
    std::vector<std::string> lines;
};
