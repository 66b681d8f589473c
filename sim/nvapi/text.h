// Small text helpers of the simulated library's state file and log; the ones its
// configuration shares with the ADLX runtime come from sim/common/sim_text.h. Numbers are
// written the way the tool writes them ("0x" and eight digits).
#pragma once

#include <cstdint>
#include <string>

#include "sim/common/sim_text.h"

/// "0x" and eight upper-case hexadecimal digits.
std::string hex8(uint32_t value);

/// "0x" and the shortest upper-case hexadecimal form, for handles.
std::string hexHandle(const void* handle);
