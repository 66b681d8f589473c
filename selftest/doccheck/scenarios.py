"""Scenarios: a simulated driver set up, files put at the backup path, then a sequence of
runs of one program, with what other programs, the user or an attacker do between them.

A scenario is data: `cases.py` lists them, `describe` prints one as commands, and `execute`
plays it on a host in a folder of its own. The rows of the documents read the runs that
carry their label; every run, labelled or not, is also held to what holds for all runs:

- it prints one line that the integration guide's table of every line lists for its
  program, command and exit code (or it was meant to end without one);
- a run that changes nothing by its answer (exit 2, 3, 10, 20, a "nothing", a status, an
  exit 21 or 22 with changed 0) leaves the driver as it found it, and one that keeps the
  backup (exit 2, 3, 10, 20, 22, a "nothing") leaves what stands at the path byte for byte;
- an apply that answered 0 left the backup under exactly the name given;
- no run leaves a <backup>.tmp of its own behind.

At the end, a scenario marked `round_trip` has the driver back where it started and no
backup; the victims an attacker's links point at are as they were planted.
"""
import os
import pathlib
import shutil
import subprocess
import threading
import zlib
import time
from dataclasses import dataclass, field

from . import hosts
from . import lines as result_lines

# -- the simulated drivers' starting state ----------------------------------------------------

# preset-nvidia's 13 settings (id, preset value, lowest preset) and a base profile in which
# every one differs from its preset value, 0x0064B541 is absent, and one setting the
# program never manages stands by.
NV_TABLE = [
    (0x1057EB71, 0x00000001, 1), (0x0064B541, 0x00000001, 1), (0x00CE2691, 0x00000014, 1),
    (0x00198FFF, 0x00000001, 1), (0x00AC8497, 0xFFFFFFFF, 1), (0x10835002, 0x00000000, 1),
    (0x107EFC5B, 0x00000000, 1), (0x10D2BB16, 0x00000000, 1), (0x00A879CF, 0x08416747, 2),
    (0x20FDD1F9, 0x00000000, 2), (0x00E73211, 0x00000001, 3), (0x0084CD70, 0x00000001, 3),
    (0x002ECAF2, 0x00000001, 3),
]
NV_ORIGINAL = {
    0x1057EB71: 0x00000000, 0x00CE2691: 0x0000003C, 0x00198FFF: 0x00000000,
    0x00AC8497: 0x00000002, 0x10835002: 0x00000001, 0x107EFC5B: 0x00000001,
    0x10D2BB16: 0x00000005, 0x00A879CF: 0x00000000, 0x20FDD1F9: 0x00000001,
    0x00E73211: 0x00000000, 0x0084CD70: 0x00000000, 0x002ECAF2: 0x00000000,
    0x10F9DC81: 0x00000011,
}
# What a new driver might start with: every managed setting present, none at its original.
NV_NEW_DRIVER = {sid: 0x00000007 for sid, _, _ in NV_TABLE}

AMD_GLOBALS = ["rsr", "afmf"]
AMD_PER_GPU = ["chill", "boost", "frtc", "sharpening", "mlaa", "aa-mode", "anisotropic",
               "tessellation-mode", "enhanced-sync", "vsync-mode", "fsr", "frame-generation"]
AMD_MODES = {"aa-mode", "tessellation-mode", "vsync-mode"}


def amd_values(gpus, switch=1, mode=3, **by_name):
    """A full AMD state: switches `switch`, modes `mode`, names in `by_name` (with "_" for
    "-") as given."""
    named = {k.replace("_", "-"): v for k, v in by_name.items()}
    values = {name: named.get(name, switch) for name in AMD_GLOBALS}
    for gpu in range(gpus):
        for name in AMD_PER_GPU:
            values["gpu%d.%s" % (gpu, name)] = named.get(
                name, mode if name in AMD_MODES else switch)
    return values


def amd_gamer_values(gpus):
    """The values `apply gamer` leaves: every setting 0 but vsync-mode 1, and enhanced-sync
    (which gamer leaves alone) on."""
    return amd_values(gpus, switch=0, mode=0, vsync_mode=1, enhanced_sync=1)


# -- backups as the programs write them ------------------------------------------------------

def backup_bytes(vendor, entries):
    text = "format=1\r\nvendor=%s\r\n" % vendor
    for key in sorted(entries, key=lambda k: k.encode()):
        text += "%s=%s\r\n" % (key, entries[key])
    return text.encode()


def nv_backup(level=1):
    entries = {}
    for sid, _, lowest in NV_TABLE:
        if lowest <= level:
            value = NV_ORIGINAL.get(sid)
            entries["setting.0x%08X" % sid] = ("missing" if value is None
                                               else "value:0x%08X" % value)
    return backup_bytes("nvidia", entries)


AMD_IDS = ["7", "-2"]


def amd_backup(level=1, ids=AMD_IDS):
    names = [n for n in AMD_PER_GPU if level > 1 or n != "enhanced-sync"]
    entries = {"global.rsr": "1", "global.afmf": "1"}
    for gpu in ids:
        for name in names:
            entries["gpu.%s.%s" % (gpu, name)] = "3" if name in AMD_MODES else "1"
    return backup_bytes("amd", entries)


def big_backup(vendor):
    head = nv_backup() if vendor == "nvidia" else amd_backup()
    line = 64
    count = (2 * 1024 * 1024 - len(head) + line - 1) // line
    return head + b"".join(b"zz.padding.%07d=%s\r\n" % (n, b"x" * (line - 21))
                           for n in range(count))


PLANTED_TMP = b"left behind by an earlier run\r\n"
DIRECTORY_CONTENT = b"keep"
VICTIM_TEXT = b"not the programs' file: must stay exactly as it is\r\n"
SECRETS = b"secret.password=hunter2\r\nsecret.token=0x5EC2E7\r\n"


def victim_bytes(vendor, victim):
    gamer = nv_backup() if vendor == "nvidia" else amd_backup()
    header = b"format=1\r\nvendor=%s\r\n" % vendor.encode()
    return {"text": VICTIM_TEXT, "backup": gamer, "secrets": header + SECRETS,
            "absent": None, "big": big_backup(vendor),
            "hosts": b"# hosts\r\n127.0.0.1 localhost\r\n",
            "empty": b""}[victim]


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
LONG_TOTAL = 300


def utf16_length(text):
    return len(text.encode("utf-16-le")) // 2


def long_dirs(piece=LONG_PIECE):
    return [piece] * (LONG_TOTAL // (utf16_length(piece) + 1) + 1)


def long_path(made=False, piece=LONG_PIECE, name="backup.txt", spelling=None, text=""):
    """A path of more than 260 characters; `spelling` rewrites the program's text."""
    def make(host, root):
        path = root.joinpath("b", *long_dirs(piece), name)
        if made:
            path.parent.mkdir(parents=True, exist_ok=True)
        arg = host.to_program(path)
        if spelling:
            arg = spelling(arg)
        if utf16_length(arg) <= 260:
            raise AssertionError("not a long path: %d characters" % utf16_length(arg))
        return Target(arg, path)
    return Place("<work>\\b\\" + (text or "<folders past 260 characters>") + "\\" + name, make)


def with_dot_segments(arg):
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


def unmapped(long=False):
    def make(host, root):
        dirs = long_dirs() if long else ["saves"]
        return Target(host.free_drive() + ":\\" + "\\".join(dirs + ["backup.txt"]), None)
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


EMPTY = Place('""', lambda host, root: Target("", None))


# -- steps ---------------------------------------------------------------------------------------

@dataclass
class Run:
    """One run of the scenario's program. "{backup}" in `args` is the backup path as the
    command line gives it. `label`: what the documents' rows read of this run. `exit`: the
    exit code a set-up run must end with. `crash`: it ends without a line on purpose.
    `client`: started through clients/preset_client.py, with its time limit `timeout`.
    `missing`: the program file named is not there. `unelevated`: at the Basic User trust
    level (runas), never elevated."""
    args: tuple
    label: str = None
    env: dict = field(default_factory=dict)
    exit: int = None
    crash: bool = False
    client: bool = False
    timeout: float = 60
    missing: bool = False
    unelevated: bool = False


def run(*args, **kwargs):
    return Run(tuple(args), **kwargs)


@dataclass
class Act:
    """Something done between runs (see Workspace.act_*)."""
    name: str
    params: tuple = ()


def act(name, *params):
    return Act(name, tuple(params))


@dataclass
class Scenario:
    name: str
    program: str                 # "nvidia" or "amd"
    steps: list
    place: Place = None          # the backup path; default <work>\b\backup.txt
    library: object = ""         # the simulated driver's variant; None: none installed
    gpus: int = 2                # AMD: GPUs in the list, and their ids
    ids: str = "7,-2"
    state: object = None         # the driver's values at the start (None: the usual)
    env: dict = field(default_factory=dict)  # SIM_* for every run
    needs: tuple = ()
    round_trip: bool = False
    keeps_written: bool = False  # what a "write" step put at the path is there at the end

    def all_needs(self):
        needs = set(self.needs) | set((self.place or DEFAULT_PLACE).needs)
        if self.program == "nvidia":
            needs.add("nvidia-library" if self.library is not None else "nvidia-absent")
        elif self.library is None:
            needs.add("no-system-runtime")
        for one in flat_steps(self.steps):
            if isinstance(one, Run) and one.unelevated:
                needs.add("runas")
            if isinstance(one, Act):
                words = tuple(x for x in one.params[:2] if isinstance(x, str))
                needs.update(ACT_NEEDS.get((one.name,) + words, ()))
                needs.update(ACT_NEEDS.get((one.name,), ()))
        return needs

    def waits(self):
        """Whether playing it is mostly waiting: for another run's lock, a holder, or a
        client's time limit."""
        return any(isinstance(one, Act) and one.name in ("hold-lock", "hold")
                   or isinstance(one, Run) and one.timeout < 60 for one in flat_steps(self.steps))


def flat_steps(steps):
    """Every step, the runs of a "together" step included."""
    for step in steps:
        yield step
        if isinstance(step, Act) and step.name == "together":
            yield from step.params


DEFAULT_PLACE = plain("backup.txt")
ACT_NEEDS = {
    ("hold",): ["holder"],
    ("shorten",): ["short-names"],
    ("plant", "tmp", "symlink"): ["symlinks", "elevated"],
    ("plant", "backup", "symlink"): ["symlinks", "elevated"],
    ("plant", "folder", "symlink"): ["symlinks", "elevated"],
    ("plant", "tmp", "hard link"): ["elevated"],
    ("plant", "backup", "hard link"): ["elevated"],
    ("plant", "folder", "junction"): ["junction", "elevated"],
    ("plant", "folder", "mount point"): ["mount-point", "elevated"],
    ("write",): [],
}


# -- what a run left ------------------------------------------------------------------------------

@dataclass
class Record:
    label: str
    args: tuple
    out: bytes
    code: object
    ended: object            # None, "timed-out" or "not-started"
    state_before: dict
    state_after: dict
    path_before: tuple
    path_after: tuple
    log: str
    outcome: object = None   # the client's classification, when the client is at hand

    @property
    def line(self):
        return result_lines.parse(self.out)

    @property
    def supported(self):
        return self.line[2] if self.line else None

    @property
    def changed(self):
        return self.line[3] if self.line else None

    def command(self):
        if not self.args:
            return "(none)"
        word = str(self.args[0]).lower()
        return word if word in ("status", "apply", "restore") else "other"


@dataclass
class Played:
    scenario: Scenario
    records: list = field(default_factory=list)
    problems: list = field(default_factory=list)
    skipped: str = None

    def labelled(self, label):
        return [r for r in self.records if r.label == label]


def snapshot(path):
    if path is None or not os.path.lexists(path):
        return ("absent",)
    if os.path.islink(path):
        return ("link", os.readlink(path))
    if os.path.isdir(path):
        return ("directory", sorted((p.name, p.read_bytes() if p.is_file() else None)
                                    for p in pathlib.Path(path).iterdir()))
    return ("file", pathlib.Path(path).read_bytes())


def tree(root):
    """Everything under `root`, links not followed: bytes, read-only mark, link count."""
    found = {}
    if not os.path.isdir(root):
        return found
    for folder, dirs, files in os.walk(root):
        for name in dirs + files:
            path = os.path.join(folder, name)
            info = os.lstat(path)
            key = os.path.relpath(path, root)
            if os.path.islink(path):
                found[key] = ("link", os.readlink(path))
            elif name in dirs:
                found[key] = ("folder",)
            else:
                with open(path, "rb") as f:
                    found[key] = ("file", bool(info.st_mode & 0o200), info.st_nlink, f.read())
    return found


def temporary_of(path):
    return None if path is None else path.with_name(path.name + ".tmp")


def exact_name_on_disk(path, top):
    """True when every component of `path` below `top` stands under exactly its name."""
    while path != top and path.parent != path:
        if path.name not in os.listdir(path.parent):
            return False
        path = path.parent
    return True


# -- playing a scenario -----------------------------------------------------------------------------

HOLD_LOCK_STARTS = 3
HOLD_LOCK_WAIT_S = 20


class Workspace:
    """One scenario played in a folder of its own."""

    def __init__(self, host, scenario, root, known_line, classify):
        self.host, self.scenario, self.root = host, scenario, root
        self.known_line, self.classify = known_line, classify
        self.played = Played(scenario)
        self.state_file = root / "state.txt"
        self.count = 0
        self.planted_tmp = None
        self.written = None
        self.victims = None
        self.holder = None
        self.lock_holder = None
        self.start_state = None
        self.lock = threading.Lock()
        if scenario.program == "amd":
            app = root / "app"
            app.mkdir()
            self.exe = app / "preset-amd.exe"
            shutil.copyfile(host.programs["amd"], self.exe)
            if scenario.library is not None:
                shutil.copyfile(host.adlx(scenario.library), app / hosts.ADLX)
        else:
            self.exe = host.programs["nvidia"]
        self.target = (scenario.place or DEFAULT_PLACE).make(host, root)
        self.tmp = temporary_of(self.target.file)

    # -- the driver ------------------------------------------------------------------------
    def write_state(self, values):
        if self.scenario.program == "nvidia":
            text = "".join("0x%08X=0x%08X\r\n" % (k, values[k]) for k in sorted(values))
        else:
            text = "".join("%s=%d\n" % (k, v) for k, v in sorted(values.items()))
        self.state_file.write_bytes(text.encode("ascii"))

    def read_state(self):
        if not self.state_file.exists():
            return {}
        values = {}
        for raw in self.state_file.read_text(encoding="ascii").splitlines():
            if "=" not in raw:
                continue
            key, value = raw.split("=", 1)
            if self.scenario.program == "nvidia":
                values[int(key, 16)] = int(value.split()[0], 16)
            else:
                values[key] = int(value)
        return values

    def sim_env(self, log):
        s = self.scenario
        if s.program == "nvidia":
            env = {"SIM_NVAPI_STATE": self.host.to_program(self.state_file),
                   "SIM_NVAPI_LOG": self.host.to_program(log)}
        else:
            env = {"SIM_ADLX_GPUS": s.gpus, "SIM_ADLX_IDS": s.ids,
                   "SIM_ADLX_STATE": self.host.to_program(self.state_file),
                   "SIM_ADLX_LOG": self.host.to_program(log)}
        env.update(s.env)
        return env

    def next_log(self):
        with self.lock:
            self.count += 1
            return self.root / ("calls-%d.log" % self.count)

    # -- runs ------------------------------------------------------------------------------
    def arguments(self, step):
        return [self.target.arg if a == "{backup}" else a for a in step.args]

    def do_run(self, step):
        log = self.next_log()
        env = dict(self.sim_env(log), **step.env)
        args = self.arguments(step)
        exe = self.root / "not here" / self.exe.name if step.missing else self.exe
        path_before = snapshot(self.target.file)
        state_before = self.read_state()
        if step.unelevated:
            ran = self.host.run_unelevated(exe, args, env, self.target.cwd, step.timeout)
        elif step.client:
            ran = self.client_run(exe, args, env, step.timeout)
        else:
            ran = self.host.run(exe, args, env, self.target.cwd, step.timeout)
        record = Record(step.label, tuple(args), ran.out, ran.code, ran.ended, state_before,
                        self.read_state(), path_before, snapshot(self.target.file),
                        log.read_text(errors="replace") if log.exists() else "")
        if self.classify is not None:
            record.outcome = self.classify(self.scenario.program, record)
        self.check_run(step, record)
        with self.lock:
            self.played.records.append(record)
        return record

    def client_run(self, exe, args, env, timeout):
        import preset_client
        ran = preset_client.run_preset(self.host.to_program(exe) if self.host.windows else exe,
                                       *args, timeout=timeout, env=self.host.environment(env),
                                       launcher=self.host.client_launcher())
        return hosts.Ran(ran.output, ran.exit_code,
                         None if ran.ended is None else ran.ended.value)

    def problem(self, text):
        with self.lock:
            self.played.problems.append(text)

    def check_run(self, step, r):
        what = " ".join(str(a) for a in r.args) or "(no arguments)"
        line = r.line
        program = self.scenario.program
        if line is None:
            if not (step.crash or r.ended in ("timed-out", "not-started")):
                self.problem("%s: no result line: %r, exit %r" % (what, r.out, r.code))
        elif not self.known_line(program, r.command(), r.out, r.code):
            self.problem("%s: %r, exit %s is not a line the guide lists for %s %s"
                         % (what, r.out, r.code, result_lines.PROGRAMS[program], r.command()))
        if r.command() == "apply" and r.code == 0:
            self.planted_tmp = None  # a temporary file left there was taken over
        if step.exit is not None and r.code != step.exit:
            self.problem("%s: exit %r, expected %d (%r)" % (what, r.code, step.exit, r.out))
        if line is not None:
            kind, _, _, changed, _ = line
            if (r.code in (2, 3, 10, 20) or kind == "nothing" or r.command() == "status"
                    or (r.code in (21, 22) and changed == 0)) and r.state_after != r.state_before:
                self.problem("%s: answered %s but changed the driver" % (what, r.code))
            if ((r.code in (2, 3, 10, 20, 22) or kind == "nothing")
                    and r.path_after != r.path_before):
                self.problem("%s: answered %s but changed what stands at the backup path"
                             % (what, r.code))
            if (r.command() == "apply" and r.code == 0 and self.target.file is not None
                    and not exact_name_on_disk(self.target.file, self.root)):
                self.problem("%s: no backup under the exact name %s" % (what, self.target.file))
        if self.tmp is not None and snapshot(self.tmp) != (self.planted_tmp or ("absent",)):
            self.problem("%s: left %s behind" % (what, self.tmp.name))

    # -- acts ------------------------------------------------------------------------------
    def act_mkdir(self):
        self.target.file.mkdir(parents=True)
        (self.target.file / "inside.txt").write_bytes(DIRECTORY_CONTENT)

    def act_readonly(self):
        os.chmod(self.target.file, 0o444)

    def act_write(self, victim):
        self.target.file.parent.mkdir(parents=True, exist_ok=True)
        self.written = victim_bytes(self.scenario.program, victim)
        self.target.file.write_bytes(self.written)

    def act_remove(self):
        if os.path.lexists(self.target.file):
            os.chmod(self.target.file, 0o600)
            os.unlink(self.target.file)

    def act_plant_tmp(self, read_only):
        self.tmp.parent.mkdir(parents=True, exist_ok=True)
        self.tmp.write_bytes(PLANTED_TMP)
        if read_only:
            os.chmod(self.tmp, 0o444)
        self.planted_tmp = ("file", PLANTED_TMP)

    def act_hold(self, which, ms=None):
        path = self.target.file if which == "backup" else self.tmp
        marker = self.root / ("calls-%d.log" % (self.count + 1))
        self.holder = self.host.hold(path, ms, marker)

    def act_release(self):
        holder, self.holder = self.holder, None
        if not holder.release():
            self.problem("the holder did not hold to the end")
        if self.planted_tmp is not None:
            os.chmod(self.tmp, 0o600)
            self.tmp.unlink()  # the holder's file, not the program's
            self.planted_tmp = None

    def act_plant(self, where, how, victim, *flags):
        protected = self.root / "protected"
        protected.mkdir(exist_ok=True)
        victim_file = protected / "victim.txt"
        content = victim_bytes(self.scenario.program, victim)
        if content is not None:
            victim_file.write_bytes(content)
            if "read-only" in flags:
                os.chmod(victim_file, 0o444)
        at = {"tmp": self.tmp, "backup": self.target.file,
              "folder": self.target.file.parent if self.target.file else None}[where]
        if how == "mount point":
            at = self.root / "b" / "mounted"
            self.host.mount_point(at)
            self.target.arg = self.host.to_program(self.target.file)
        else:
            at.parent.mkdir(parents=True, exist_ok=True)
            if how == "symlink":
                self.host.symlink(at, protected if where == "folder" else victim_file,
                                  where == "folder")
            elif how == "hard link":
                self.host.hardlink(at, victim_file)
            elif how == "junction":
                self.host.junction(at, protected)
            else:
                raise ValueError(how)
        if self.tmp is not None and os.path.lexists(self.tmp):
            self.planted_tmp = snapshot(self.tmp)
        self.victims = tree(protected)

    def act_shorten(self, what):
        if what == "folder":
            self.target.arg = (self.host.short_name(self.target.file.parent) + "\\"
                               + self.target.file.name)
        else:
            self.target.arg = self.host.short_name(self.target.file)

    def act_state(self, values):
        self.write_state(values)

    def act_hold_lock(self, args, fault, mark):
        """A run that holds the backup path's lock, asleep in its first driver call."""
        variable = "SIM_NVAPI_FAULTS" if self.scenario.program == "nvidia" else "SIM_ADLX_FAULTS"
        for _ in range(HOLD_LOCK_STARTS):
            log = self.next_log()
            env = dict(self.sim_env(log), **{variable: fault})
            started = self.host.start(self.exe, [self.target.arg if a == "{backup}" else a
                                                 for a in args], env, self.target.cwd)
            deadline = time.monotonic() + HOLD_LOCK_WAIT_S
            while time.monotonic() < deadline and started.running():
                if log.exists() and mark in log.read_text(errors="replace"):
                    self.lock_holder = started
                    return
                time.sleep(0.02)
            started.stop()
            # A run that reached the driver and still did not sleep is not Wine's doing;
            # one that never reached it was not started, and another is.
            if log.exists():
                break
        raise RuntimeError("the run meant to hold the lock never slept in its driver call")

    def act_together(self, *runs):
        threads = [threading.Thread(target=self.do_run, args=(one,)) for one in runs]
        for thread in threads:
            thread.start()
        for thread in threads:
            thread.join()

    def act_join_lock(self, exit_code):
        ran = self.lock_holder.wait()
        self.lock_holder = None
        if ran.code != exit_code:
            self.problem("the run holding the lock ended with %r, %r" % (ran.code, ran.out))

    def act(self, step):
        getattr(self, "act_" + step.name.replace("-", "_"))(*step.params)

    # -- the whole -------------------------------------------------------------------------
    def play(self):
        s = self.scenario
        if s.state is not None:
            self.write_state(s.state)
        elif s.program == "nvidia":
            self.write_state(NV_ORIGINAL)
        else:
            self.write_state(amd_values(s.gpus))
        self.start_state = self.read_state()
        for step in s.steps:
            if isinstance(step, Run):
                self.do_run(step)
            else:
                self.act(step)
        if s.round_trip:
            if self.read_state() != self.start_state:
                self.problem("the driver is not back where it started")
            if snapshot(self.target.file) != ("absent",):
                self.problem("the backup is still there after the round trip")
        if self.victims is not None and tree(self.root / "protected") != self.victims:
            self.problem("the protected folder changed")
        if s.keeps_written and self.written is not None and (
                snapshot(self.target.file) != ("file", self.written)):
            self.problem("what stood at the backup path changed")

    def stop(self):
        if self.holder is not None:
            self.holder.stop()
        if self.lock_holder is not None:
            self.lock_holder.stop()


def lacking(host, scenario):
    """Why `host` cannot play `scenario`, or None."""
    for need in sorted(scenario.all_needs()):
        reason = host.lacks(need)
        if reason:
            return reason
    return None


def execute(host, scenario, known_line, classify=None):
    """Plays `scenario` on `host`; returns what it Played."""
    reason = lacking(host, scenario)
    if reason:
        return Played(scenario, skipped=reason)
    root = host.new_folder(safe_name(scenario.name))
    workspace = None
    try:
        workspace = Workspace(host, scenario, root, known_line, classify)
        workspace.play()
        return workspace.played
    except (OSError, RuntimeError, AssertionError, ValueError,
            subprocess.SubprocessError) as error:
        played = workspace.played if workspace else Played(scenario)
        played.problems.append("could not play it: %s: %s" % (type(error).__name__, error))
        return played
    finally:
        if workspace is not None:
            workspace.stop()


def safe_name(name):
    """A short folder name of plain letters for a scenario, the same in every run."""
    return "".join(c if c.isascii() and c.isalnum() else "-" for c in name)[:32].strip("-") + \
        "-%08x" % zlib.crc32(name.encode())


def describe(scenario):
    """The scenario as commands, for --list."""
    s = scenario
    exe = "preset-nvidia.exe" if s.program == "nvidia" else "<work>\\app\\preset-amd.exe"
    out = []
    if s.program == "nvidia":
        out.append("copy sim\\nvapi\\%s %%SystemRoot%%\\System32\\nvapi64.dll"
                   % ("nvapi64-%s.dll" % s.library if s.library else "nvapi64.dll")
                   if s.library is not None else "del %SystemRoot%\\System32\\nvapi64.dll")
        env = {"SIM_NVAPI_STATE": "<work>\\state.txt"}
    else:
        out.append("copy preset-amd.exe <work>\\app\\" + (
            " & copy sim\\adlx\\%s <work>\\app\\amdadlx64.dll"
            % ("amdadlx64-%s.dll" % s.library if s.library else "amdadlx64.dll")
            if s.library is not None else ""))
        env = {"SIM_ADLX_GPUS": s.gpus, "SIM_ADLX_IDS": s.ids,
               "SIM_ADLX_STATE": "<work>\\state.txt"}
    env.update(s.env)
    out.append("set " + " ".join("%s=%s" % kv for kv in env.items()))
    place = s.place or DEFAULT_PLACE
    for step in s.steps:
        for one in (list(step.params) if isinstance(step, Act) and step.name == "together"
                    else [step]):
            if isinstance(one, Run):
                args = " ".join('"%s"' % place.text if a == "{backup}" else
                                ('""' if a == "" else a) for a in one.args)
                prefix = "runas /trustlevel:0x20000 " if one.unelevated else ""
                extra = "".join("%s=%s " % kv for kv in one.env.items())
                out.append("%s%s%s %s%s" % (extra and "set " + extra + "& ", prefix,
                                            exe, args, "   [%s]" % one.label if one.label else ""))
            else:
                out.append("(%s %s)" % (one.name, " ".join(map(str, one.params))))
    return out
