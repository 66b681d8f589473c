// The environment as both simulated libraries read it: every variable of their own prefix,
// so a misspelt one can be refused instead of silently configuring nothing.
#pragma once

#include <map>
#include <string>
#include <string_view>

/// Every environment variable whose name begins with `prefix`, keyed by its name with ASCII
/// letters in upper case: Windows finds a variable whatever the case of its name.
std::map<std::string, std::wstring> variablesStartingWith(std::string_view prefix);
