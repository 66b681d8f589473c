// What each program's entry point does, written once: decide whether the run is elevated,
// harden the process, and run one command with the platform's output, files and lock.
#pragma once

#include <string_view>

#include "frame/backend.h"

/// Runs the command of `argv` against `backend`, printing its line with `vendorLine` and
/// keeping its backup with `vendorFile`; returns the process exit code.
int runProgram(int argc, wchar_t** argv, const Backend& backend, std::string_view vendorLine,
               std::string_view vendorFile);
