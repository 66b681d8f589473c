// A load by bare name, as a driver library makes for helper libraries of its own, so the
// end-to-end tests can see which folders the calling process's search reaches.
#pragma once

#include <string>

/// Loads `name` as LoadLibraryW does, notes where the library came from and lets it go again.
/// Returns "loaded <path>" (UTF-8) or "error <code>" (the failed load's last error).
std::string loadByName(const std::wstring& name);

/// `text` as UTF-8, for log lines.
std::string toUtf8(const std::wstring& text);
