// The few Win32 services both simulated libraries need, kept out of their logic: whole
// files read and replaced, lines appended to a call log, standard output, waits, and the
// two ways a library ends the process on purpose.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

/// The whole file, or nothing when it cannot be read; `error`, when given, then receives
/// the system's error code (2 for a file that is not there).
std::optional<std::string> readWholeFile(const std::wstring& path, uint32_t* error = nullptr);

/// Writes `bytes` to "<path>.tmp" and renames it over `path` in one step (no flush), so the
/// file holds the old bytes or the new ones however the process ends. Returns 0, or the
/// system's error code of the step that failed; no temporary file is left behind then.
uint32_t replaceFileAtomically(const std::wstring& path, const std::string& bytes);

/// Appends `text` with one write and hands it to the system at once, so a reader sees it
/// even if the process ends right after and lines of processes sharing the file never mix.
/// An empty path writes nothing.
void appendToFile(const std::wstring& path, const std::string& text);

/// Writes `text` straight to the standard output handle, past any buffering.
void writeStdout(const std::string& text);

/// Waits `ms` milliseconds.
void sleepMilliseconds(uint32_t ms);

/// The exit code of a process a "crash" or "exit" fault ended, clear of the tools' own.
constexpr unsigned kCrashExitCode = 99;

/// Ends the process at once with kCrashExitCode, as a crash would: no clean-up, no DLL
/// detach.
[[noreturn]] void crashProcess();

/// The exit code of a process whose library refused its configuration.
constexpr unsigned kConfigExitCode = 98;

/// Writes `line` and CR LF to standard error, then ends the process at once with
/// kConfigExitCode, before the program can go on with a half-configured library.
[[noreturn]] void refuseConfiguration(const std::string& line);
