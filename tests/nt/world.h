// Where a row runs: the model of NT, or Wine's own system calls on a real folder of the test's.
// A row plants what it needs, acts as other programs would, and looks at what stands there
// afterwards through this one interface, so the same row runs on both and the two can be
// held to the same answers.
#pragma once

#include <windows.h>

#include <memory>
#include <optional>
#include <string>

#include "store/path.h"
#include "windows/nt_calls.h"

namespace ntmodel {
class Model;
}

enum class Where { model, wine };

class World {
  public:
    virtual ~World() = default;
    virtual Where where() const = 0;
    /// The table of system calls the layer runs on here.
    virtual NtCalls calls() = 0;
    /// The model behind this world; null under Wine.
    virtual ntmodel::Model* model() { return nullptr; }

    /// The whole path of `name` below the row's own folder; the folder itself for "".
    virtual Path at(const Path& name) const = 0;

    // -- What stands there before the run --------------------------------------------------
    /// Makes the folder and every one missing above it.
    virtual void folder(const Path& name) = 0;
    virtual void file(const Path& name, const std::string& bytes) = 0;
    virtual void readOnly(const Path& name, bool on) = 0;

    // -- What another program does, by the rules Windows holds it to -----------------------
    /// Gives the file at `existing` the further name `name`; false when refused.
    virtual bool hardLink(const Path& existing, const Path& name) = 0;
    /// Renames `from` to `to` (no replacing); false when refused.
    virtual bool rename(const Path& from, const Path& to) = 0;
    /// Keeps `name` open with `access`, sharing only `share`, until `release`.
    virtual int hold(const Path& name, ACCESS_MASK access, ULONG share) = 0;
    virtual void release(int hold) = 0;

    // -- The lock of another run -----------------------------------------------------------
    /// Another run takes the mutex `name` and keeps it, until it crashes: ends without
    /// letting go.
    virtual void anotherRunHolds(const Path& mutex) = 0;
    virtual void anotherRunCrashes() = 0;
    /// Another run opens the mutex `name` to wait for it; later it takes it, waiting for
    /// nothing more, and tells the wait's answer.
    virtual void anotherRunWaitsFor(const Path& mutex) = 0;
    virtual DWORD anotherRunTakes() = 0;

    // -- What stands there now -------------------------------------------------------------
    /// The 8.3 name the file system gave `name`'s last part; empty when it has none.
    virtual Path shortName(const Path& name) = 0;
    /// The file's bytes; nothing when no file stands there.
    virtual std::optional<std::string> bytes(const Path& name) = 0;
    virtual bool exists(const Path& name) = 0;
    virtual bool isFolder(const Path& name) = 0;
    virtual unsigned names(const Path& name) = 0;
    virtual bool isReadOnly(const Path& name) = 0;
};

/// A world of the kind `where` for one row, in its own new folder.
std::unique_ptr<World> makeWorld(Where where);

/// The folder under which the Wine rows make their own; given on the command line.
void setDiskFolder(const Path& folder);
