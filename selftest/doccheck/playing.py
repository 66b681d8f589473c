"""Playing a scenario on a host in a folder of its own, and what every run is held to (see
scenarios.py): one Record a run, the problems found, or why the host could not play it.
"""
import os
import pathlib
import shutil
import subprocess
import threading
import time
import zlib
from dataclasses import dataclass, field

from . import hosts
from . import lines as result_lines
from .places import DEFAULT_PLACE
from .scenarios import Run, Scenario
from .world import (DIRECTORY_CONTENT, NV_ORIGINAL, PLANTED_TMP, amd_values,
                    victim_bytes)

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
    err: bytes = b""         # standard error

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
    """What stands at `path`, comparable across runs: a link with its target and what
    stands there, a folder with its files, a file with its bytes."""
    if path is None or not os.path.lexists(path):
        return ("absent",)
    path = pathlib.Path(path)
    if path.is_symlink():
        return ("link", os.readlink(path), snapshot(path.resolve()))
    if path.is_dir():
        return ("directory", sorted((p.name, p.read_bytes() if p.is_file() else None)
                                    for p in path.iterdir()))
    return ("file", path.read_bytes())


def tree(root):
    """Everything under `root`, links not followed: each file's bytes, mode bits and link
    count, each folder's mode bits, each link's target."""
    found = {}
    for folder, dirs, files in os.walk(root):
        for name in dirs + files:
            path = os.path.join(folder, name)
            info = os.lstat(path)
            key = os.path.relpath(path, root)
            if os.path.islink(path):
                found[key] = ("link", os.readlink(path))
            elif name in dirs:
                found[key] = ("folder", oct(info.st_mode))
            else:
                with open(path, "rb") as f:
                    found[key] = ("file", oct(info.st_mode), info.st_nlink, f.read())
    return found


def temporary_of(path):
    return None if path is None else path.with_name(path.name + ".tmp")


def exact_name_on_disk(path, top):
    """True when every component of `path` below `top` stands on disk under exactly its
    bytes: a file made under a mangled name (a wrong conversion on the way) fails this."""
    while path != top and path.parent != path:
        if os.fsencode(path.name) not in os.listdir(os.fsencode(path.parent)):
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
        """The step's arguments, "{backup}" in them the backup path as the command line gives
        it."""
        return [a.replace("{backup}", self.target.arg) if "{backup}" in a else a
                for a in step.args]

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
        record.err = getattr(ran, "err", b"")
        if self.classify is not None:
            record.outcome = self.classify(self.scenario.program, record)
        self.check_run(step, record)
        with self.lock:
            self.played.records.append(record)
        return record

    def client_run(self, exe, args, env, timeout):
        import preset_client
        for attempt in range(hosts.STARTS):
            ran = preset_client.run_preset(
                self.host.to_program(exe) if self.host.windows else exe, *args,
                timeout=timeout, env=self.host.environment(env),
                launcher=self.host.client_launcher())
            # Started through a launcher, a program Wine failed to start looks like one that
            # ended with no line and exit 1, which the programs never do: tried again, as
            # the host's own runs are.
            if (ran.ended is not None or (ran.output, ran.exit_code) != hosts.NOT_STARTED
                    or attempt == hosts.STARTS - 1):
                break
            time.sleep(attempt + 1)
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
        # Without --detail the result line is the whole answer; the simulated drivers' own
        # reasons (exit 98) are theirs.
        if (r.err and r.code != 98 and not step.client
                and not any(str(a).lower() == "--detail" for a in r.args)):
            self.problem("%s: wrote to standard error: %r" % (what, r.err))
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


