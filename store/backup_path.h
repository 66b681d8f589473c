// Pure text operations on backup paths: every spelling a caller may give is turned once
// into the root it starts from and the names below it, which the file layer then opens
// one by one, each relative to the folder above. No system call here, so every rule can
// be tested on any platform.
#pragma once

#include <vector>

#include "store/path.h"

/// What a backup path turned out to be.
enum class RouteKind {
    /// Starts at a drive, a network share or a volume: a root whose every folder below can
    /// be opened and checked in turn.
    known,
    /// A rooted form we do not understand (a device path, "\\?\GLOBALROOT\…", Wine's
    /// "\\?\unix\…"): its folder can only be opened as given, never checked on the way.
    foreign,
    /// No file can have this name, so no backup can stand there: a character Windows
    /// refuses in names, "." or ".." in a form the system takes literally, a device (the
    /// system turns "C:\x\NUL" into "\\.\NUL"), a stream other than the file's own, or a
    /// root alone.
    noFile,
    /// A name that a file may have, but that this program does not use: a name ending in a
    /// dot or a space, which only a literal form can reach and Wine does not keep apart
    /// from the name without them; or a path the system could not make absolute.
    invalid,
};

struct BackupRoute {
    RouteKind kind = RouteKind::invalid;
    /// Where the walk starts, in the system's own form: "\??\C:\", "\??\UNC\server\share\",
    /// "\??\Volume{…}\"; for a foreign form, its whole folder ("\??\unix\tmp\x").
    Root root;
    /// The folders below the root, outermost first, then the backup's own name.
    std::vector<Name> folders;
    Name leaf;
    /// The path ends in a separator: it names a folder, where no backup may be made, though
    /// an earlier version made one under the last name.
    bool endsWithSeparator = false;
};

/// Whether the system takes `given` literally ("\\?\…", "\??\…"): such a path is not made
/// absolute first, or "\??\C:\x" would become "<current drive>:\??\C:\x".
bool isLiteralPath(const Path& given);

/// The route to `given`. `full` is its absolute form ("." and ".." resolved, "/" turned
/// into "\", relative to the working folder), asked of the system for every path that is
/// not literal; empty when the system could not make one.
BackupRoute routeOf(const Path& given, const Path& full);

/// The name a save writes before it renames: the backup's own name with ".tmp" appended.
Name temporaryNameFor(const Name& leaf);

/// How a root is shown where a failure names it: "\??\C:\" is "C:\", "\??\UNC\srv\s\" is
/// "\\srv\s\", anything else under "\??\" keeps the "\\?\" that reaches it.
Path shownRoot(const Root& root);
