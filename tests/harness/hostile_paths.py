"""Hostile backup paths and file states, end to end under Wine: one case table for both
programs, shared by tests/e2e/test_hostile_paths.py and scripts/campaign/paths.py.

A case is a backup path (non-ASCII names, more than 260 characters, relative, on a drive
Wine does not map, an 8.3 short name, a drive letter that is a link to a folder) and a list
of steps: runs of the real program, and things another program or the user does to the
file between runs (a directory standing at the path, the read-only mark, another process
holding the file open with no sharing, a file of 2 MiB), or that an attacker plants before
them: symbolic and hard links at the backup, at its "<backup>.tmp" or on the way, that
point into a "protected" folder of victims. Unix links under Z: stand in for Windows
links: Wine shows them to the programs as links. After every run `run_case` checks what a
front-end and the user rely on:

- the exact result line and exit code the case's table row gives;
- a refused run leaves whatever stood at the backup path byte for byte (or the directory
  with its content), and the driver as it found it; nothing in the case's folders changes,
  appears or goes: every file's bytes, mode bits and link count, every link's target;
- the victims in the protected folder end exactly as they were planted;
- a run that worked left the backup under its exact name (checked on the Linux side as
  UTF-8 bytes, so a wrong conversion of the argument shows) with the exact bytes expected;
- no run leaves a "<backup>.tmp" of its own behind;
- the case ends with the driver exactly as before the first apply.

`run_case` returns the problems found, one text each; an empty list means the case held.

What Wine cannot show is said at each such case (the unit tests in tests/store cover it
with the fake file system): Wine takes paths over MAX_PATH even without the "\\\\?\\" form,
replaces a read-only file, and lets root truncate a read-only file.
"""
import os
import pathlib
import shutil
import tempfile
import time
from dataclasses import dataclass, field

# What the kit's own checks (selftest/doccheck) do the same way: the paths, what is
# planted, what a run is held to, and the holder of a file.
from doccheck import hosts, places
from doccheck.places import LONG_PIECE, Target, long_dirs, with_dot_segments, with_forward_slashes
from doccheck.playing import exact_name_on_disk, snapshot, temporary_of, tree
from doccheck.world import (DIRECTORY_CONTENT, PADDING_LINE, PLANTED_TMP, SECRETS, VICTIM_TEXT,
                            padded_past_big, padding)

from . import wine  # noqa: E402
from . import amd  # noqa: E402
from . import nvidia as nv  # noqa: E402

# Wine turns the UTF-8 bytes of the command line into UTF-16 by the locale's character set;
# without a UTF-8 locale every non-ASCII character of a path would be lost on the way.
LOCALE = {"LANG": "C.UTF-8", "LC_ALL": "C.UTF-8"}

HOLDER = wine.BIN / "tests" / "tools" / "hold-file.exe"
NEAR_LIMIT = 1040000  # under it with LF line ends, over it with CR LF
# Files that are not backups: a hosts file, and the start of a program image.
HOSTS = b"# hosts\r\n127.0.0.1 localhost\r\n::1 localhost\r\n"
BINARY = b"MZ\x90\x00\x03\x00\x00\x00\x04\x00\x00\x00\xff\xff\x00\x00" + bytes(range(256))

# Name pieces: Portuguese accents, CJK, and a character outside the basic plane (two UTF-16
# units on Windows, four UTF-8 bytes on Linux).
ACCENTS = "configurações"
CJK = "設定"
EMOJI = "\U0001F3AE"


# -- the two programs ------------------------------------------------------------------------

class Nvidia:
    name = "nvidia"
    exe = nv.EXE
    library = "nvapi64.dll"

    def available(self):
        return self.exe.is_file() and nv.sim_dll().is_file()

    def install(self):
        wine.install_dll(nv.sim_dll(), self.library)

    def uninstall(self):
        wine.remove_dll(self.library)

    def prepare(self, world):
        world.state.write_bytes(nv.state_bytes(nv.ORIGINAL))

    def env(self, world):
        return {"SIM_NVAPI_STATE": wine.winpath(world.state),
                "SIM_NVAPI_LOG": wine.winpath(world.log)}

    def state(self, world):
        return nv.parse_state(world.state.read_bytes())

    def expected(self, outcome, preset, presets_before):
        """(line, exit code) of `outcome` for an apply of `preset` (None for a restore) after
        the applies `presets_before` that worked on this backup."""
        recorded = 8 if preset == "gamer" else 13
        if outcome == "applied":
            return nv.applied(recorded, recorded), 0
        if outcome == "unreadable":
            return nv.backup_failed(0), 20
        if outcome == "unsaved":
            return nv.backup_failed(recorded), 20
        if outcome == "restored":
            return nv.restored(13 if "extremo" in presets_before else 8), 0
        if outcome == "incomplete":
            return nv.restore_incomplete(0, 0), 22
        if outcome == "nothing":
            return nv.NOTHING, 0
        if outcome == "one-failed":  # one row neither recorded nor written
            return nv.applied_partly(recorded - 1, recorded - 1), 21
        raise ValueError(outcome)

    def backup(self, presets):
        return nv.EXTREMO_AFTER_GAMER_BACKUP if "extremo" in presets else nv.GAMER_BACKUP

    header = b"format=1\r\nvendor=nvidia\r\n"


AMD_IDS = ["7", "-2"]
AMD_GAMER = ["chill", "boost", "frtc", "sharpening", "mlaa", "aa-mode", "anisotropic",
             "tessellation-mode", "vsync-mode", "fsr", "frame-generation"]


class Amd:
    name = "amd"
    exe = amd.EXE
    library = amd.DLL_NAME

    def available(self):
        return self.exe.is_file() and amd.sim_dll().is_file()

    def install(self):
        wine.install_dll(amd.sim_dll(), self.library)

    def uninstall(self):
        wine.remove_dll(self.library)

    def prepare(self, world):
        pass  # the runtime starts at its defaults: switches on, modes 3

    def env(self, world):
        return {"SIM_ADLX_GPUS": 2, "SIM_ADLX_IDS": ",".join(AMD_IDS),
                "SIM_ADLX_STATE": wine.winpath(world.state),
                "SIM_ADLX_LOG": wine.winpath(world.log)}

    def state(self, world):
        return amd.read_state(world.state)

    def expected(self, outcome, preset, presets_before):
        # gamer: the 2 global settings and 11 per GPU; extremo adds enhanced-sync. After a
        # gamer, extremo changes only enhanced-sync and vsync-mode on each GPU.
        supported = 24 if preset == "gamer" else 26
        if outcome == "applied":
            changed = 4 if "gamer" in presets_before and preset == "extremo" else supported
            return amd.applied(supported, changed), 0
        if outcome in ("unreadable", "unsaved"):
            return amd.applied_partly(supported, 0), 21
        if outcome == "restored":
            return amd.restored(26 if "extremo" in presets_before else 24), 0
        if outcome == "incomplete":
            return amd.restore_incomplete(0, 0), 22
        if outcome == "nothing":
            return amd.NOTHING, 0
        if outcome == "one-failed":  # one setting recorded but not written
            return amd.applied_partly(supported, supported - 1), 21
        raise ValueError(outcome)

    def backup(self, presets):
        names = AMD_GAMER + (["enhanced-sync"] if "extremo" in presets else [])
        entries = {"global.rsr": "1", "global.afmf": "1"}
        for gpu in AMD_IDS:
            for name in names:
                entries["gpu.%s.%s" % (gpu, name)] = "3" if name in amd.MODES else "1"
        return amd.backup_bytes(entries)

    header = b"format=1\r\nvendor=amd\r\n"


VENDORS = [Nvidia(), Amd()]


# -- where a case puts its backup --------------------------------------------------------------

@dataclass
class World:
    """One case's own directory: driver state, call log, and whatever the case builds."""
    root: pathlib.Path
    cleanups: list = field(default_factory=list)  # undo what a case made outside `root`

    @property
    def protected(self):
        """The folder of the victims, which an attacker's links point into."""
        return self.root / "protected"

    def clean_up(self):
        while self.cleanups:
            self.cleanups.pop()()

    @property
    def state(self):
        return self.root / "state.txt"

    @property
    def log(self):
        return self.root / "calls.log"


def unmapped_drive():
    """A drive letter the prefix maps to nothing."""
    return hosts.free_wine_drive(wine.PREFIX)


def absolute(*parts):
    """A path of existing or new directories under the case's own directory."""
    def make(world):
        path = world.root.joinpath("b", *parts)
        return Target(wine.winpath(path), path)
    return make


def existing(*parts):
    """Like `absolute`, with the directories made before the first run."""
    def make(world):
        target = absolute(*parts)(world)
        target.file.parent.mkdir(parents=True, exist_ok=True)
        return target
    return make


def long_path(new_dirs, piece=LONG_PIECE, name="backup.txt", spelling=None):
    """A path of more than 260 characters (doccheck's long_target); `new_dirs` says whether
    its directories are to be made by the program."""
    def make(world):
        return places.long_target(world.root, wine.winpath, not new_dirs, piece, name, spelling)
    return make


def relative(text, cwd_parts=(), make_dirs=()):
    """`text` relative to a working directory under the case's own (made beforehand)."""
    def make(world):
        cwd = world.root.joinpath("cwd", *cwd_parts)
        cwd.mkdir(parents=True, exist_ok=True)
        for parts in make_dirs:
            cwd.joinpath(*parts).mkdir(parents=True, exist_ok=True)
        resolved = os.path.normpath(str(cwd.joinpath(*text.replace("\\", "/").split("/"))))
        return Target(text, pathlib.Path(resolved), cwd)
    return make


def on_linked_drive(world):
    folder = world.root / "drive"
    folder.mkdir()
    letter = hosts.map_wine_drive(wine.PREFIX, folder, world.cleanups)
    return Target(letter + ":\\saves\\backup.txt", folder / "saves" / "backup.txt")


def short_name(path):
    """The 8.3 short form Wine gives an existing `path` (Windows text), from the system."""
    out, code = wine.run(HOLDER, ["--short-name", path])
    if code != 0 or not out:
        raise RuntimeError("no short name for %s (exit %d)" % (path, code))
    return out.decode()


UNIX_FORM = "\\\\?\\unix"  # Wine's own rooted form: a Unix path behind it


def spelled(prefix, make):
    """`make`'s path in another rooted form of the same place: `prefix` ("\\\\?\\",
    "\\\\.\\" or "\\??\\") before its drive path, or `UNIX_FORM` before its Unix path."""
    def spell(world):
        target = make(world)
        if prefix == UNIX_FORM:
            target.arg = prefix + str(target.file).replace("/", "\\")
        else:
            target.arg = prefix + target.arg
        return target
    return spell


def on_unmapped_drive(long=False):
    return lambda world: places.on_free_drive(unmapped_drive(), long)


# -- the table -----------------------------------------------------------------------------------

# Steps: ("apply", preset, outcome), ("restore", outcome), or an act between runs:
# ("mkdir",) a directory with a file in it at the backup path; ("readonly",) the read-only
# mark on the backup; ("plant-tmp", read_only) a "<backup>.tmp" left by someone else;
# ("hold", "backup" or "tmp"[, milliseconds]) another process opens it with no sharing
# (and lets go on its own, the milliseconds after the next run opened the driver);
# ("release",) it lets go, or has let go;
# ("plant", where, how, victim[, "read-only"]) an attacker's link (see `plant`) or a file;
# ("shorten", "folder" or "file") the path from now on names its folder, or the whole
# path, by their 8.3 short names; ("spell", text, name) the path from now on is `text`,
# with {dir} the backup's folder in Windows text, naming the file `name` there (None: no
# file Linux sees).
# Outcomes: applied, unreadable (something unreadable or unusable stands at the path: the
# line of a backup that cannot be read), unsaved (the backup could not be written),
# restored, incomplete, nothing.
ROUND_TRIP = [("apply", "gamer", "applied"), ("restore", "restored")]
FORM_ROUND_TRIP = [("restore", "nothing"), ("apply", "gamer", "applied"),
                   ("restore", "restored")]
ROUND_TRIP_TWICE = [("apply", "gamer", "applied"), ("apply", "extremo", "applied"),
                    ("restore", "restored")]


@dataclass
class Case:
    name: str
    group: str          # "names and lengths", "file states" or "hostile links"
    target: object      # World -> Target
    steps: list
    short: bool = True  # part of the campaign's short form
    why: str = ""       # what Wine does differently, where it matters
    # What stands at the path at the end: "absent", "directory", "file", "link".
    ends_with: str = "absent"


CASES = [
    Case("accents in directory and file name", "names and lengths",
         absolute(ACCENTS, "cópia de segurança.txt"), ROUND_TRIP),
    Case("CJK in directory and file name", "names and lengths",
         absolute(CJK, CJK + ".txt"), ROUND_TRIP),
    Case("emoji outside the basic plane in directory and file name", "names and lengths",
         absolute(EMOJI + " jogos", "backup " + EMOJI + ".txt"), ROUND_TRIP),
    Case("all three, nested directories that do not exist yet", "names and lengths",
         absolute(ACCENTS, CJK, EMOJI, "novo", ACCENTS + CJK + EMOJI + ".txt"),
         ROUND_TRIP_TWICE, short=False),
    Case("over 260 characters, directories exist", "names and lengths",
         long_path(new_dirs=False), ROUND_TRIP_TWICE,
         why="Wine takes plain paths over MAX_PATH; Windows needs the \\\\?\\ form, "
             "whose rules the unit tests of backup_path check"),
    Case("over 260 characters, directories made by the program", "names and lengths",
         long_path(new_dirs=True), ROUND_TRIP),
    Case("over 260 characters with . and .. on the way", "names and lengths",
         long_path(new_dirs=True, spelling=with_dot_segments), ROUND_TRIP),
    Case("over 260 characters with forward slashes", "names and lengths",
         long_path(new_dirs=True, spelling=with_forward_slashes), ROUND_TRIP, short=False),
    Case("over 260 characters of non-ASCII names", "names and lengths",
         long_path(new_dirs=True, piece=ACCENTS + " " + CJK + " " + EMOJI + " " + ACCENTS,
                   name=CJK + EMOJI + ".txt"), ROUND_TRIP),
    Case("relative to the working directory", "names and lengths",
         relative("sub\\rel backup.txt"), ROUND_TRIP),
    Case("relative with .. and forward slashes", "names and lengths",
         relative("a/../b/./rel.txt", make_dirs=[("a",)]), ROUND_TRIP, short=False),
    Case("relative and long, from a non-ASCII working directory", "names and lengths",
         relative("\\".join(long_dirs() + ["rel " + EMOJI + ".txt"]),
                  cwd_parts=(ACCENTS + " " + CJK + " " + EMOJI,)), ROUND_TRIP),
    # An elevated run often does not see the drives its user mapped: no volume is no proof
    # that no backup stands there, so restore keeps the front-end's path alive.
    Case("drive that does not exist", "names and lengths", on_unmapped_drive(),
         [("apply", "gamer", "unreadable"), ("restore", "incomplete")]),
    Case("long path on a drive that does not exist", "names and lengths",
         on_unmapped_drive(long=True),
         [("apply", "gamer", "unreadable"), ("restore", "incomplete")], short=False),
    # Every rooted form of a drive path names the same place and works the same way.
    Case("\\\\?\\ form", "names and lengths", spelled("\\\\?\\", absolute("ext", "backup.txt")),
         FORM_ROUND_TRIP),
    Case("\\\\.\\ form", "names and lengths", spelled("\\\\.\\", absolute("dev", "backup.txt")),
         FORM_ROUND_TRIP),
    Case("\\??\\ form", "names and lengths", spelled("\\??\\", absolute("nt", "backup.txt")),
         FORM_ROUND_TRIP),
    # Names no file can have: nothing can stand there, so a restore finds nothing and an
    # apply makes nothing, not even the folders on the way. The "spell" step gives the path
    # from then on, {dir} its folder in Windows text.
    Case("names no file can have", "names and lengths", absolute("nameless", "b.txt"),
         [step for spelling in ["{dir}\\b*.txt", "{dir}\\b|.txt", "{dir}\\b\x01.txt",
                                "\\\\?\\{dir}\\..\\b.txt", "\\??\\{dir}\\.\\b.txt",
                                "{dir}\\NUL", "{dir}\\com1.txt", "\\\\.\\NUL",
                                "{dir}\\b.txt:stream", "{dir}\\new\\b.txt:stream"]
          for step in [("spell", spelling, None), ("restore", "nothing"),
                       ("apply", "gamer", "unreadable")]]),
    # A path that ends in a separator names a folder: no backup is made there, yet one an
    # earlier version made under the last name is read and restored.
    Case("path that ends in a separator", "names and lengths", absolute("sep", "b.txt"),
         [("spell", "{dir}\\new\\", "new"), ("restore", "nothing"),
          ("apply", "gamer", "unreadable"), ("spell", "{dir}\\b.txt", "b.txt"),
          ("apply", "gamer", "applied"), ("spell", "{dir}\\b.txt\\", "b.txt"),
          ("apply", "extremo", "unreadable"), ("restore", "restored")]),
    # The file's own stream is the file.
    Case("the file's own stream spelt out", "names and lengths", existing("own", "b.txt"),
         [("spell", "{dir}\\b.txt::$DATA", "b.txt"), ("apply", "gamer", "applied"),
          ("spell", "\\\\?\\{dir}\\b.txt::$data", "b.txt"), ("restore", "restored")]),
    # Trailing dots and spaces: a plain or "\\.\" spelling names the file without them, as
    # the system drops them; a literal one would name a file no plain spelling reaches,
    # and both commands refuse it.
    *[Case("trailing %s in the %s form" % (what, form), "names and lengths",
           existing("trailing", "b.txt"),
           [("spell", prefix + "{dir}\\b.txt" + tail, "b.txt")] +
           (ROUND_TRIP if prefix in ("", "\\\\.\\") else
            [("restore", "incomplete"), ("apply", "gamer", "unreadable")]))
      for what, tail in [("dot", "."), ("space", " ")]
      for form, prefix in [("plain", ""), ("\\\\.\\", "\\\\.\\"), ("\\\\?\\", "\\\\?\\"),
                           ("\\??\\", "\\??\\")]],
    Case("a folder on the way with a trailing dot, taken literally", "names and lengths",
         absolute("dotted", "b.txt"),
         [("spell", "\\\\?\\{dir}\\d.\\b.txt", None), ("restore", "incomplete"),
          ("apply", "gamer", "unreadable")]),
    # A short name is a second spelling of the same folder and file, not a link.
    Case("8.3 short names of the folder, then of the whole path", "names and lengths",
         existing("a rather long folder name", "a rather long backup name.txt"),
         [("shorten", "folder"), ("apply", "gamer", "applied"), ("shorten", "file"),
          ("apply", "extremo", "applied"), ("restore", "restored")]),

    Case("directory standing at the backup path", "file states", existing("backup.txt"),
         [("mkdir",), ("apply", "gamer", "unreadable"), ("restore", "incomplete")],
         ends_with="directory"),
    Case("read-only backup", "file states", existing("ro", "backup.txt"),
         [("apply", "gamer", "applied"), ("readonly",), ("apply", "extremo", "applied"),
          ("readonly",), ("restore", "restored")],
         why="Wine replaces a read-only file, Windows refuses until the mark is cleared: "
             "backup_file_test covers that with the fake file system; Wine does refuse to "
             "delete one, so restore clears the mark here for real"),
    Case("backup held open by another process without sharing", "file states",
         existing("held", "backup.txt"),
         [("apply", "gamer", "applied"), ("hold", "backup"), ("apply", "extremo", "unreadable"),
          ("restore", "incomplete"), ("release",), ("restore", "restored")]),
    Case("temporary file held open by another process without sharing", "file states",
         existing("held tmp", "backup.txt"),
         [("plant-tmp", False), ("hold", "tmp"), ("apply", "gamer", "unsaved"), ("release",),
          ("apply", "gamer", "applied"), ("restore", "restored")]),
    Case("read-only temporary file left behind", "file states",
         existing("stale", "backup.txt"),
         [("plant-tmp", True), ("apply", "gamer", "applied"), ("restore", "restored")],
         short=False,
         why="root under Wine truncates a read-only file; on Windows the open is refused, "
             "and the save removes the stale file and opens it once more "
             "(backup_hostile_state_test)"),
    # An antivirus scanner or indexer that holds the backup for a moment: the run waits.
    Case("backup held without sharing for 300 ms, let go by the holder", "file states",
         existing("busy", "backup.txt"),
         [("apply", "gamer", "applied"), ("hold", "backup", 300),
          ("apply", "extremo", "applied"), ("release",), ("restore", "restored")]),
    Case("backup of 2 MiB", "file states", existing("big", "backup.txt"),
         [("plant", "backup", "file", "big"), ("apply", "gamer", "unreadable"),
          ("restore", "incomplete")], ends_with="file"),
    # A backup of ours that an apply would grow past the 1 MiB a backup may have: the save
    # fails before anything is written, and the file stays as it is.
    Case("backup near 1 MiB with LF line ends, too big once written with CR LF",
         "file states", existing("near limit", "backup.txt"),
         [("plant", "backup", "file", "near-limit"), ("apply", "gamer", "unsaved")],
         ends_with="file"),
    # Only a backup is ever replaced or deleted: an empty file, or one whose first line is
    # "format=1". Somebody else's file at the path is left alone, byte for byte.
    *[Case("not a backup: " + what, "file states", existing("not ours " + victim, "backup.txt"),
           [("plant", "backup", "file", victim), ("apply", "gamer", "unreadable"),
            ("restore", "incomplete")], ends_with="file")
      for what, victim in [("a hosts file", "hosts"), ("a program image", "binary"),
                           ("key=value lines without the header", "unkeyed")]],
    Case("an empty file is a backup", "file states", existing("empty", "backup.txt"),
         [("plant", "backup", "file", "empty"), ("apply", "gamer", "applied"),
          ("restore", "restored")]),
    *[Case("a backup of ours " + what, "file states", existing(victim, "backup.txt"),
           [("plant", "backup", "file", victim), ("restore", "restored")])
      for what, victim in [("with LF line ends", "lf"),
                           ("with a UTF-8 byte-order mark before the header", "bom")]],

    # What an attacker plants before an elevated run. Every run must refuse the path with
    # the line of an unreadable backup and touch nothing, here or at a link's target.
    Case("symbolic link at <backup>.tmp to a victim", "hostile links",
         existing("tmp symlink", "backup.txt"),
         [("plant", "tmp", "symlink", "text"), ("apply", "gamer", "unreadable"),
          ("restore", "incomplete")]),
    Case("hard link at <backup>.tmp to a victim", "hostile links",
         existing("tmp hard link", "backup.txt"),
         [("plant", "tmp", "hard link", "text"), ("apply", "gamer", "unreadable"),
          ("restore", "incomplete")]),
    Case("dangling symbolic link at <backup>.tmp", "hostile links",
         existing("tmp dangling", "backup.txt"),
         [("plant", "tmp", "symlink", "absent"), ("apply", "gamer", "unreadable"),
          ("restore", "incomplete")]),
    # Wine's DeleteFileW on a symbolic link deletes its target: the victim must survive.
    Case("folder link on the way, backup name is a victim's backup", "hostile links",
         absolute("linked folder", "victim.txt"),
         [("plant", "folder", "symlink", "backup"), ("apply", "gamer", "unreadable"),
          ("restore", "incomplete")], ends_with="file"),
    Case("folder link on the way, backup name new there", "hostile links",
         absolute("linked folder", "new.txt"),
         [("plant", "folder", "symlink", "text"), ("apply", "gamer", "unreadable"),
          ("restore", "incomplete")]),
    Case("symbolic link at the backup path to a victim of key=value lines", "hostile links",
         existing("backup symlink", "backup.txt"),
         [("plant", "backup", "symlink", "secrets"), ("apply", "gamer", "unreadable"),
          ("restore", "incomplete")], ends_with="link"),
    Case("hard link at the backup path to a read-only victim's backup", "hostile links",
         existing("backup hard link", "backup.txt"),
         [("plant", "backup", "hard link", "backup", "read-only"),
          ("restore", "incomplete"), ("apply", "gamer", "unreadable"),
          ("restore", "incomplete")], ends_with="file"),
    # A form the programs do not understand is refused when elevated, whatever stands on
    # the way: here Wine's own, which stands in for "\\\\?\\GLOBALROOT\\" and for volume
    # GUIDs, which Wine cannot open.
    Case("\\\\?\\unix\\ form with a folder link on the way to a victim's backup",
         "hostile links", spelled(UNIX_FORM, absolute("unix linked", "victim.txt")),
         [("plant", "folder", "symlink", "backup"), ("apply", "gamer", "unreadable"),
          ("restore", "incomplete")], ends_with="file"),
    # The root of a drive is where a path starts: a drive mapped to a folder is a link
    # there, and works.
    Case("drive letter mapped to a folder, its root a link", "hostile links",
         on_linked_drive, ROUND_TRIP),
]


# -- running a case ------------------------------------------------------------------------------

def case_tree(world):
    """The folders a case makes for its backups and victims (not the driver's state)."""
    return {name: tree(world.root / name) for name in ("b", "cwd", "drive", "protected")}


def tree_changes(before, after):
    """What differs between two `case_tree`s, one text per path."""
    changes = []
    for top in before:
        for key in sorted(set(before[top]) | set(after[top])):
            old, new = before[top].get(key), after[top].get(key)
            if old != new:
                changes.append("%s/%s %s -> %s" % (top, key, brief(old), brief(new)))
    return changes


def brief(entry):
    if entry is None:
        return "absent"
    if entry[0] == "file":
        data = entry[3]
        return "file %s links=%d %r" % (entry[1], entry[2],
                                        data if len(data) <= 80 else data[:80] + b"...")
    return " ".join(entry)


def plant(vendor, world, target, where, how, victim, *flags):
    """Plants what an attacker (or, for a plain file, anyone) puts there before a run.

    `victim` is what the protected folder holds as "victim.txt": "text", "backup" (a
    readable backup of the vendor, so a naive restore would use and delete it), "secrets"
    (a readable backup of the vendor holding lines an attacker wants to read), "absent"
    (nothing: a link to it dangles), or "big" (for `how` "file": a readable backup padded
    past 2 MiB with entries the programs carry along). `how` is "symlink", "hard link" or
    "file"; `where` is "tmp" (<backup>.tmp), "backup" (the backup path) or "folder" (the
    backup's folder becomes a link to the protected folder)."""
    gamer = vendor.backup(["gamer"])
    content = {"text": lambda: VICTIM_TEXT, "backup": lambda: gamer,
               "secrets": lambda: vendor.header + SECRETS, "absent": lambda: None,
               "big": lambda: big_backup(vendor), "hosts": lambda: HOSTS,
               "binary": lambda: BINARY, "unkeyed": lambda: gamer.split(b"\r\n", 2)[2],
               "empty": lambda: b"", "lf": lambda: gamer.replace(b"\r\n", b"\n"),
               "bom": lambda: b"\xef\xbb\xbf" + gamer,
               "near-limit": lambda: near_limit_backup(vendor)}[victim]()
    if how == "file":
        target.file.write_bytes(content)
        return
    world.protected.mkdir(exist_ok=True)
    victim_file = world.protected / "victim.txt"
    if content is not None:
        victim_file.write_bytes(content)
        if "read-only" in flags:
            victim_file.chmod(0o444)
    at = {"tmp": temporary_of(target.file), "backup": target.file,
          "folder": target.file.parent}[where]
    at.parent.mkdir(parents=True, exist_ok=True)
    if how == "symlink":
        at.symlink_to(world.protected if where == "folder" else victim_file)
    elif how == "hard link":
        os.link(victim_file, at)
    else:
        raise ValueError(how)


def near_limit_backup(vendor):
    """A backup of the vendor's with LF line ends, under 1 MiB, padded with entries the
    programs carry along: written back with CR LF it would be over 1 MiB."""
    head = vendor.header.replace(b"\r\n", b"\n")
    return head + padding((NEAR_LIMIT - len(head)) // PADDING_LINE, end=b"\n")


def big_backup(vendor):
    return padded_past_big(vendor.backup(["gamer"]))


def hold(world, path, for_ms=None):
    """hold-file.exe holding `path` open with no sharing until released. With `for_ms` it
    lets go on its own that long after the next run's driver call log appears: both
    programs open the driver just before they read the backup, so the hold is still on
    when they first try, however long Wine takes to start them."""
    if for_ms and world.log.exists():
        world.log.unlink()
    return hosts.WineHolder([wine.WINE, str(HOLDER)], wine.winpath, wine.base_env(LOCALE),
                            world.root, path, for_ms, world.log)


STARTS = 4  # a run that Wine fails to start at all is tried this often


def run_program(vendor, world, target, args):
    """One run, repeated when Wine failed to start the program: no output, and the driver
    library never reached (its call log not even created). On a loaded machine Wine does
    that now and then; nothing can have happened, and a fault of the program itself shows
    again every time. The only repeat: wine.run is asked to start it once."""
    for attempt in range(STARTS):
        if world.log.exists():
            world.log.unlink()
        result = wine.run(vendor.exe, args, env={**vendor.env(world), **LOCALE}, cwd=target.cwd,
                          starts=1)
        if result[0] != b"" or world.log.exists() or attempt == STARTS - 1:
            return result
        time.sleep(attempt + 1)
    return result


def run_case(vendor, case, base_dir):
    """Runs `case` for `vendor` in a fresh directory under `base_dir`; returns the problems."""
    world = World(pathlib.Path(tempfile.mkdtemp(prefix="hostile-", dir=base_dir)))
    holder = None
    problems = []
    try:
        vendor.prepare(world)
        original = vendor.state(world)
        target = case.target(world)
        tmp = temporary_of(target.file)
        planted = None
        victims = None  # the protected folder as planted
        applied = []
        spelt_in = None  # the folder "spell" steps name their paths in
        for step in case.steps:
            what = " ".join(str(s) for s in step)
            act = step[0]
            if act in ("apply", "restore"):
                preset = step[1] if act == "apply" else None
                outcome = step[-1]
                before_path = snapshot(target.file)
                before_tree = case_tree(world)
                before_state = vendor.state(world)
                args = ["apply", preset, target.arg] if preset else ["restore", target.arg]
                result = run_program(vendor, world, target, args)
                expected = vendor.expected(outcome, preset, applied)
                if result != expected:
                    problems.append("%s: got %r, expected %r" % (what, result, expected))
                    break
                if outcome == "applied":
                    applied.append(preset)
                    planted = None  # a temporary file left there was taken over and renamed
                    if target.file is not None:
                        if not exact_name_on_disk(target.file, world.root):
                            problems.append("%s: no file under the exact name %s"
                                            % (what, target.file))
                        elif target.file.read_bytes() != vendor.backup(applied):
                            problems.append("%s: backup bytes %r" % (
                                what, target.file.read_bytes()))
                    if vendor.state(world) == before_state and len(applied) == 1:
                        problems.append("%s: the driver was not changed" % what)
                elif outcome == "restored":
                    applied = []
                    if snapshot(target.file) != ("absent",):
                        problems.append("%s: the backup is still there" % what)
                    if vendor.state(world) != original:
                        problems.append("%s: the driver is not back where it was" % what)
                else:  # refused: nothing may have changed
                    if snapshot(target.file) != before_path:
                        problems.append("%s: what stood at the backup path changed" % what)
                    if vendor.state(world) != before_state:
                        problems.append("%s: the driver was changed" % what)
                    for change in tree_changes(before_tree, case_tree(world)):
                        problems.append("%s: %s" % (what, change))
                if tmp is not None and snapshot(tmp) != (planted or ("absent",)):
                    problems.append("%s: %s is %r" % (what, tmp.name, snapshot(tmp)[0]))
            elif act == "mkdir":
                target.file.mkdir(parents=True)
                (target.file / "inside.txt").write_bytes(DIRECTORY_CONTENT)
            elif act == "readonly":
                target.file.chmod(0o444)
            elif act == "plant-tmp":
                tmp.write_bytes(PLANTED_TMP)
                if step[1]:
                    tmp.chmod(0o444)
                planted = ("file", PLANTED_TMP)
            elif act == "hold":
                holder = hold(world, target.file if step[1] == "backup" else tmp, *step[2:])
            elif act == "release":
                held = holder.release()
                holder = None
                if not held:
                    problems.append("hold-file did not hold to the end")
                if planted is not None:
                    if snapshot(tmp) != planted:
                        problems.append("the held %s was changed" % tmp.name)
                    tmp.unlink()  # the holder's file, not the program's
                    planted = None
            elif act == "plant":
                plant(vendor, world, target, *step[1:])
                if tmp is not None and os.path.lexists(tmp):
                    planted = snapshot(tmp)
                victims = tree(world.protected)
            elif act == "spell":
                folder = spelt_in = spelt_in or target.file.parent
                target.arg = step[1].format(dir=wine.winpath(folder))
                target.file = folder / step[2] if step[2] else None
            elif act == "shorten":
                if step[1] == "folder":
                    target.arg = short_name(wine.winpath(target.file.parent)) + "\\" + \
                        target.file.name
                else:
                    target.arg = short_name(wine.winpath(target.file))
            else:
                raise ValueError(step)
        else:
            if vendor.state(world) != original:
                problems.append("the driver is not back where it was at the end")
            end = snapshot(target.file)[0]
            if end != case.ends_with:
                problems.append("at the end the backup path holds: %s" % end)
            if case.ends_with == "directory" and snapshot(target.file) != (
                    "directory", [("inside.txt", DIRECTORY_CONTENT)]):
                problems.append("the directory at the backup path was changed")
            if victims is not None:
                for change in tree_changes({"protected": victims},
                                           {"protected": tree(world.protected)}):
                    problems.append("at the end: %s" % change)
    finally:
        if holder is not None:
            holder.stop()
        world.clean_up()
        shutil.rmtree(world.root, ignore_errors=True)
    return problems


def available_vendors():
    return [v for v in VENDORS if v.available()]


def holder_available():
    return HOLDER.is_file()


def base_directory():
    """A short base directory, so that "long" is our choice and not the system's."""
    return tempfile.mkdtemp(prefix="hp-")


# -- what a failure explains -----------------------------------------------------------------------

@dataclass
class DetailCase:
    """A failed run and what it explains with --detail: each (step, call, code name, path or
    key) once, in any order and with repeats (an AMD apply saves once per pass)."""
    name: str
    plant: object       # (vendor, folder) -> None: what stands in the case's folder
    args: list          # the command line after the program, {path} the backup path
    outcome: str        # as in the CASES steps
    detail: list        # (step, call, code name, path or key), {dir} the case's folder
    path: str = "{dir}\\b.txt"
    vendors: tuple = ("nvidia", "amd")
    env: dict = field(default_factory=dict)


def _file(name, content):
    def plant(vendor, folder):
        (folder / name).parent.mkdir(parents=True, exist_ok=True)
        (folder / name).write_bytes(content(vendor) if callable(content) else content)
    return plant


def _folder(name):
    return lambda vendor, folder: (folder / name).mkdir(parents=True)


def _nothing(vendor, folder):
    pass


DETAIL_CASES = [
    DetailCase("a file where a folder on the way should be", _file("x", b"x"),
               ["apply", "gamer", "{path}"], "unsaved",
               [("making folder", "NtCreateFile", "STATUS_NOT_A_DIRECTORY", "{dir}\\x")],
               path="{dir}\\x\\b.txt"),
    DetailCase("a folder at <backup>.tmp", _folder("b.txt.tmp"), ["apply", "gamer", "{path}"],
               "unsaved",
               [("removing a stale temporary file", "NtQueryInformationFile",
                 "STATUS_FILE_IS_A_DIRECTORY", "{dir}\\b.txt.tmp"),
                ("saving the backup", "NtCreateFile", "STATUS_OBJECT_NAME_COLLISION",
                 "{dir}\\b.txt.tmp")]),
    *[DetailCase(what + ", " + args[0], plant, args, outcome, detail)
      for what, plant, detail in [
          ("a backup over 1 MiB", _file("b.txt", big_backup),
           [("reading the backup", "NtQueryInformationFile", "STATUS_FILE_TOO_LARGE",
             "{dir}\\b.txt")]),
          ("a file without the format=1 header", _file("b.txt", HOSTS),
           [("reading the backup", "format check", "ERROR_INVALID_DATA", "{dir}\\b.txt")]),
          ("a folder at the backup's name", _folder("b.txt"),
           [("reading the backup", "NtQueryInformationFile", "STATUS_FILE_IS_A_DIRECTORY",
             "{dir}\\b.txt")])]
      for args, outcome in [(["apply", "gamer", "{path}"], "unreadable"),
                            (["restore", "{path}"], "incomplete")]],
    DetailCase("a name no file can have, apply", _nothing, ["apply", "gamer", "{path}"],
               "unreadable",
               [("walking to the backup", "name check", "ERROR_INVALID_NAME", "{dir}\\b|.txt")],
               path="{dir}\\b|.txt"),
    DetailCase("a setting the driver will not read", _nothing, ["apply", "gamer", "{path}"],
               "one-failed",
               [("reading setting 0x00CE2691", "NvAPI_DRS_GetSetting", "NVAPI_ERROR",
                 "setting.0x00CE2691")],
               vendors=("nvidia",), env={"SIM_NVAPI_FAULTS": "GetSetting:0x00CE2691=-1"}),
    DetailCase("a setting the driver will not write", _nothing, ["apply", "gamer", "{path}"],
               "one-failed",
               [("writing setting gpu.7.boost", "SetEnabled", "ADLX_FAIL", "gpu.7.boost")],
               vendors=("amd",), env={"SIM_ADLX_FAULTS": "SetEnabled:gpu0.boost=3"}),
]
