"""Where a scenario's backup path points: each Place makes the path as the command line
gives it (in any spelling the host knows), the same file as this process reaches it, and
the working folder of the runs.
"""
from dataclasses import dataclass

# -- where the backup path points ----------------------------------------------------------------

@dataclass
class Target:
    arg: str                  # the path as the command line gives it
    file: object = None       # the same file as this process reaches it, or None
    cwd: object = None        # the working folder of the runs, or None


class Place:
    """How a scenario's backup path is made: `make(host, root)` gives the Target; `needs`
    are the host's acts it takes; `text` is how --list shows it."""

    def __init__(self, text, make, needs=()):
        self.text, self.make, self.needs = text, make, tuple(needs)

    def __repr__(self):
        return self.text


def plain(*parts, made=False):
    def make(host, root):
        path = root.joinpath("b", *parts)
        if made:
            path.parent.mkdir(parents=True, exist_ok=True)
        return Target(host.to_program(path), path)
    return Place("<work>\\b\\" + "\\".join(parts), make)


LONG_PIECE = "p" * 60
LONG_TOTAL = 300  # UTF-16 units the folders of a long path add up to, at least


def utf16_length(text):
    return len(text.encode("utf-16-le")) // 2


def long_dirs(piece=LONG_PIECE):
    """Folders named `piece`, enough of them to pass MAX_PATH on their own."""
    return [piece] * (LONG_TOTAL // (utf16_length(piece) + 1) + 1)


def long_target(root, to_program, made=False, piece=LONG_PIECE, name="backup.txt",
                spelling=None):
    """A path of more than 260 characters below `root`, as `to_program` spells it for the
    program and `spelling` rewrites it (".." on the way, "/"); `made`: its folders are made
    beforehand, else the program is to make them."""
    path = root.joinpath("b", *long_dirs(piece), name)
    if made:
        path.parent.mkdir(parents=True, exist_ok=True)
    arg = to_program(path)
    if spelling:
        arg = spelling(arg)
    if utf16_length(arg) <= 260:
        raise AssertionError("not a long path: %d characters" % utf16_length(arg))
    return Target(arg, path)


def long_path(made=False, piece=LONG_PIECE, name="backup.txt", spelling=None, text=""):
    """A path of more than 260 characters (long_target)."""
    def make(host, root):
        return long_target(root, host.to_program, made, piece, name, spelling)
    return Place("<work>\\b\\" + (text or "<folders past 260 characters>") + "\\" + name, make)


def with_dot_segments(arg):
    """The same file reached through "." and a detour over "..": the system resolves them
    before the extended-length form, which would take them literally."""
    head, name = arg.rsplit("\\", 1)
    return head + "\\.\\detour\\..\\" + name


def with_forward_slashes(arg):
    return arg.replace("\\", "/")


def resolve(base, text):
    """`text` (relative, "\\" or "/") below the folder `base`, "." and ".." taken out."""
    path = base
    for part in text.replace("\\", "/").split("/"):
        if part in ("", "."):
            continue
        path = path.parent if part == ".." else path / part
    return path


def relative(text, cwd_parts=(), make_dirs=()):
    def make(host, root):
        cwd = root.joinpath("cwd", *cwd_parts)
        cwd.mkdir(parents=True, exist_ok=True)
        for parts in make_dirs:
            cwd.joinpath(*parts).mkdir(parents=True, exist_ok=True)
        return Target(text, resolve(cwd, text), cwd)
    return Place("%s (from <work>\\cwd%s)" % (text, "".join("\\" + p for p in cwd_parts)), make)


def root_relative(name):
    """\\<folder below the drive's root>\\name: relative to the working folder's drive."""
    def make(host, root):
        cwd = root / "cwd"
        cwd.mkdir(parents=True, exist_ok=True)
        path = root / "b" / name
        return Target(host.program_root(path), path, cwd)
    return Place("\\<work without drive>\\b\\" + name, make)


def drive_relative(name):
    """C:name: relative to the working folder of that drive."""
    def make(host, root):
        cwd = root / "cwd"
        cwd.mkdir(parents=True, exist_ok=True)
        return Target(host.to_program(cwd)[:2] + name, cwd / name, cwd)
    return Place("C:" + name + " (from <work>\\cwd)", make)


def spelled(prefix, inner):
    def make(host, root):
        target = inner.make(host, root)
        target.arg = prefix + target.arg
        return target
    return Place(prefix + inner.text, make, inner.needs)


def unc(prefix, inner):
    """`inner`'s share path (\\\\server\\share\\...) behind `prefix` ("\\\\?\\UNC\\" or
    "\\\\.\\UNC\\") in place of its two leading separators."""
    def make(host, root):
        target = inner.make(host, root)
        target.arg = prefix + target.arg[2:]
        return target
    return Place(prefix + inner.text, make, inner.needs)


def formed(form, need, inner):
    """`inner`'s path in a form only the host knows: "share", "volume", "globalroot", "unix"."""
    def make(host, root):
        target = inner.make(host, root)
        target.arg = getattr(host, form + "_form")(target.file)
        return target
    return Place("<%s form of %s>" % (form, inner.text), make, inner.needs + (need,))


def on_free_drive(letter, long=False):
    """backup.txt on a drive that maps to nothing, in "saves" or past 260 characters."""
    dirs = long_dirs() if long else ["saves"]
    return Target(letter + ":\\" + "\\".join(dirs + ["backup.txt"]), None)


def unmapped(long=False):
    def make(host, root):
        return on_free_drive(host.free_drive(), long)
    return Place("<free drive>:\\%s\\backup.txt" % ("<folders past 260>" if long else "saves"),
                 make)


def mapped_drive():
    def make(host, root):
        folder = root / "drive"
        folder.mkdir()
        return Target(host.map_drive(folder) + ":\\saves\\backup.txt",
                      folder / "saves" / "backup.txt")
    return Place("<drive mapped to <work>\\drive>:\\saves\\backup.txt", make, ["map-drive"])


def through_mount(name):
    """<work>\\b\\mounted\\<the protected folder below its drive's root>\\name: reached
    through a mount point of the volume at <work>\\b\\mounted (made by a plant step)."""
    def make(host, root):
        below = host.program_root(root / "protected").lstrip("\\").split("\\")
        return Target(None, root.joinpath("b", "mounted", *below, name))
    return Place("<work>\\b\\mounted\\<protected folder>\\" + name, make, ["mount-point"])


def written(template):
    """`template` as the command line gives it, {dir} the program's spelling of <work>\\b:
    a path under which no file can stand (so none this process could look at)."""
    def make(host, root):
        return Target(template.format(dir=host.to_program(root / "b")), None)
    return Place(template.format(dir="<work>\\b"), make)


def drive_root():
    """The root of the work folder's drive, alone."""
    return Place("<drive>:\\", lambda host, root: Target(host.to_program(root)[:3], None))


EMPTY = Place('""', lambda host, root: Target("", None))


DEFAULT_PLACE = plain("backup.txt")
