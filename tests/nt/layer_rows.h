// The tables that run the real layer, shared: what a row is, how it runs in each world, and the
// bytes the rows expect on disk.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "tests/nt/call_hooks.h"
#include "tests/nt/layer_run.h"
#include "tests/nt/rows.h"

/// A backup of ours, and what an apply of the stand-in backend (which adds "k=v") leaves from
/// it and from nothing.
constexpr char kOld[] = "format=1\r\nvendor=nvidia\r\nsetting.0x1057EB71=value:0x00000000\r\n";
constexpr char kNew[] =
    "format=1\r\nvendor=nvidia\r\nk=v\r\nsetting.0x1057EB71=value:0x00000000\r\n";
constexpr char kFresh[] = "format=1\r\nvendor=nvidia\r\nk=v\r\n";
/// A file that is not ours, which an attacker wants touched.
constexpr char kVictim[] = "not ours: must stay as it is\r\n";

struct LayerRow {
    const char* name;
    Shows shows;
    /// Elevated or not; nothing: as the process token says.
    std::optional<bool> elevated;
    const char* command;
    /// The backup path the command line gives: a name below the row's folder, or, for a path of
    /// another form, made from the world.
    std::function<Path(World&)> path;
    /// What stands there before, and the steps taken between two calls.
    std::function<void(World&, CallHooks&)> plant;
    /// The outcome and first failure (`described`).
    const char* expected;
    /// Further checks once the run ended.
    std::function<void(World&, CallHooks&, const RunResult&)> after = nullptr;
};

/// The backup path `name` below the row's folder.
std::function<Path(World&)> below(const Path& name);

/// Runs every row in each world it belongs to: plants, runs the command, checks the outcome,
/// that every step of the row ran, and the row's own checks.
void runLayerRows(const LayerRow* rows, size_t count);

template <size_t N>
void runLayerRows(const LayerRow (&rows)[N]) {
    runLayerRows(rows, N);
}
