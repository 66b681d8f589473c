// The commands the campaigns run against the fake drivers and the fake file system, with
// the state each starts from.
#pragma once

#include <vector>

#include "tests/file_faults/file_fault_case.h"

/// Every apply and restore of the file-fault table.
const std::vector<Scenario>& fileFaultScenarios();

/// The file-fault table's, and two states only a power cut leaves: folders on the way
/// that are not there yet, and a temporary file half written.
const std::vector<Scenario>& powerCutScenarios();
