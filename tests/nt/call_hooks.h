// Between two calls of the layer. While a test runs, the layer's system-call table wraps the
// model's table or the system's own: it logs each call with the name it acted on, and runs
// the steps the test put there ("right after the first NtFlushBuffersFile of the temporary
// file, give it a second name"). A race is such a step: exact, with no timing.
#pragma once

#include <windows.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "store/path.h"
#include "windows/nt_calls.h"

class CallHooks {
  public:
    /// Puts the wrapped `inner` table in force for the layer until this goes. With
    /// `shortWaits`, Sleep is only logged, and a mutex wait asks the system for no wait at all:
    /// what would end a wait is a step of the test, never the passing of time.
    CallHooks(const NtCalls& inner, bool shortWaits);
    ~CallHooks();
    CallHooks(const CallHooks&) = delete;
    CallHooks& operator=(const CallHooks&) = delete;

    /// Runs `act` once, right after the `nth` call of `function` (as the log names it, e.g.
    /// "NtCreateFile") that acted on `name`, or on a whole path ending in it (any name when
    /// empty).
    void after(const std::string& function, const Path& name, int nth, std::function<void()> act);
    /// The same, right before that call.
    void before(const std::string& function, const Path& name, int nth, std::function<void()> act);

    /// Every call, in order: its function, then the name it acted on ("NtCreateFile saves",
    /// "NtSetInformationFile rename backup.txt.tmp", "Sleep 25").
    const std::vector<std::string>& log() const { return log_; }
    /// The log entries that start with `function`, in order.
    std::vector<std::string> calls(const std::string& function) const;
    /// Steps that never ran: a row whose race did not happen proves nothing.
    int stepsLeft() const;

    // What the wrapped functions use.
    void enter(const std::string& function, const Path& name);
    void leave(const std::string& function, const Path& name);
    void remember(HANDLE handle, const Path& name) { names_[handle] = name; }
    Path nameOf(HANDLE handle) const;
    const NtCalls& inner() const { return inner_; }
    bool shortWaits() const { return shortWaits_; }

  private:
    struct Step {
        std::string function;
        Path name;
        int nth;
        bool before;
        std::function<void()> act;
        int seen = 0;
        bool done = false;
    };
    void run(bool before, const std::string& function, const Path& name);

    NtCalls inner_;
    NtCalls wrapped_;
    bool shortWaits_;
    std::vector<std::string> log_;
    std::vector<Step> steps_;
    std::map<HANDLE, Path> names_;
};
