// The few Win32 services the simulated runtime needs, kept out of its logic.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>

/// The whole file, or nothing when it cannot be read.
std::optional<std::string> readWholeFile(const std::wstring& path);

/// Writes `bytes` to "<path>.tmp" and renames it over `path` in one step (no flush).
bool replaceFileAtomically(const std::wstring& path, const std::string& bytes);

/// Appends one line (a line feed is added) and hands it to the system at once, so a
/// reader sees it even if the process ends right after.
void appendLine(const std::wstring& path, const std::string& line);

/// Writes `text` straight to the standard output handle, past any buffering.
void writeStdout(const std::string& text);

/// Waits `ms` milliseconds.
void sleepMilliseconds(uint32_t ms);

/// Ends the process at once, as a crash would: no clean-up, no DLL detach.
[[noreturn]] void crashProcess();

/// The exit code crashProcess ends with.
constexpr unsigned kCrashExitCode = 99;

/// Writes `line` and CR LF to standard error, then ends the process at once with
/// kConfigExitCode, before the program can go on with a half-configured runtime.
[[noreturn]] void refuseConfiguration(const std::string& line);

/// The exit code refuseConfiguration ends with; the NVIDIA library uses the same.
constexpr unsigned kConfigExitCode = 98;
