// What the tables share: running a row in each world it belongs to, labelled, and writing a
// status the way the tables expect it.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

#include "tests/nt/world.h"

/// Where a row runs: on the model only (Wine cannot show it; the row says why), or on the
/// model and then on Wine's own calls, which must give the same answers.
enum class Shows { modelOnly, both };

/// Runs `body` in a new world of each kind `shows` names, every failure labelled with `row`
/// and the world; the model's world must end with no handle of the program's left open.
void inEachWorld(Shows shows, const std::string& row, const std::function<void(World&)>& body);

/// "C0000034": an NTSTATUS as eight hex digits.
std::string hex(NTSTATUS status);
