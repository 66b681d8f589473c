// The real layer run as a program runs it, for one command: the entry, the backup store, the
// lock and the platform's file system, on whatever system-call table is in force. The backend
// is a stand-in that uses the store as apply and restore do, with no driver behind it.
#pragma once

#include <optional>
#include <string>

#include "store/path.h"

struct RunResult {
    /// "applied", "unreadable", "unsaved", "restored", "nothing" or "incomplete".
    std::string outcome;
    /// The first failure the store met, as "<call> <code>" ("NtQueryObject C000050B",
    /// "link check win32:1142"); empty when there was none.
    std::string failure;
    /// The path that failure names.
    Path failurePath;
};

/// Runs `command` ("apply" or "restore") on `path`, elevated or not as `elevated` says, or
/// as the process token says when it says nothing.
RunResult runCommand(const std::string& command, const Path& path, std::optional<bool> elevated);

/// The outcome and the first failure, in one text ("unreadable NtQueryObject C000050B").
std::string described(const RunResult& result);
