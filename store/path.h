// The texts a backup path turns into, each of a type of its own, so that one cannot stand
// where another is meant: the whole path as the command line gave it, one name on disk,
// the root a walk starts from, and the key the lock between runs is named by.
#pragma once

#include <string>
#include <utility>

/// The backup path as the command line gave it, or a whole path as a failure shows it:
/// wide text on every platform.
using Path = std::wstring;

/// Wide text of one kind.
template <typename Kind>
class PathPart {
  public:
    PathPart() = default;
    explicit PathPart(std::wstring text) : text_(std::move(text)) {}

    const std::wstring& text() const { return text_; }
    bool empty() const { return text_.empty(); }

    friend bool operator==(const PathPart& a, const PathPart& b) { return a.text_ == b.text_; }
    friend bool operator!=(const PathPart& a, const PathPart& b) { return a.text_ != b.text_; }

  private:
    std::wstring text_;
};

/// One name inside a folder, as it stands on disk or is to be made there; never holds a
/// separator.
using Name = PathPart<struct NameKind>;
/// Where a walk starts, in the system's own form: "\??\C:\", "\??\UNC\server\share\".
using Root = PathPart<struct RootKind>;
/// What names one backup for the lock between runs, the same for every spelling of it.
using LockKey = PathPart<struct LockKeyKind>;
