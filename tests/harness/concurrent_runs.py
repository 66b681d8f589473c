"""Several runs of one program on one backup path at the same time, as a front-end that
does not wait for one run before it starts the next would cause.

Shared by tests/e2e/test_concurrent_runs.py and scripts/campaign/concurrency.py: a run
started in the background (its output goes to a file, never a pipe: see wine.run), a
target per program (simulated driver, its state and the backup in one directory), and a
round of runs started together, after which a restore must bring the driver back to where
it was before the round and leave no file behind.

Expected lines are literals on purpose: they are what a front-end sees.
"""
import pathlib
import re
import shutil
import subprocess
import tempfile
import time

from . import amd
from . import nvidia as nv
from . import wine

RESULT_LINE = re.compile(
    rb"result=(ok|error|unsupported|nothing);vendor=(NVIDIA|AMD);supported=(\d+);"
    rb"changed=(\d+);message=([^\r\n]*)\r\n")

# The programs wait this long for another run on the same backup path (kBackupLockWait).
LOCK_WAIT_S = 10.0


class Started:
    """A run of a Windows program under Wine, started and not yet waited for."""

    def __init__(self, exe, args, env=None, cwd=None):
        self.args = [str(a) for a in args]
        self._out = tempfile.TemporaryFile()
        self._err = tempfile.TemporaryFile()
        self.began = time.monotonic()
        self.ended = None
        self._proc = subprocess.Popen([wine.WINE, str(exe), *self.args],
                                      env=wine.base_env(env), cwd=cwd,
                                      stdin=subprocess.DEVNULL, stdout=self._out,
                                      stderr=self._err)

    def running(self):
        return self._proc.poll() is None

    def kill(self):
        """Ends the process at once, as a crash or a task manager would."""
        self._proc.kill()

    def stop(self):
        """Kills the run if it is still going and lets go of its output; for clean-ups."""
        if self.running():
            self._proc.kill()
        self._proc.wait()
        for stream in (self._out, self._err):
            if not stream.closed:
                stream.close()

    def wait(self, timeout=120):
        """(stdout bytes, exit code); the time taken is in `seconds` afterwards."""
        try:
            code = self._proc.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            self._proc.kill()
            self._proc.wait()
            raise
        self.ended = time.monotonic()
        self._out.seek(0)
        data = self._out.read()
        self._out.close()
        self._err.seek(0)
        written = self._err.read()
        self._err.close()
        # Without --detail the result line is the whole answer.
        if written and code not in wine.SIM_EXITS and not wine.asks_for_detail(self.args):
            raise AssertionError("%s wrote to standard error: %r" % (self.args, written))
        return data, code

    @property
    def seconds(self):
        return self.ended - self.began


def wait_until(condition, timeout, what):
    """Polls `condition` until it holds; fails with `what` after `timeout` seconds."""
    deadline = time.monotonic() + timeout
    while not condition():
        if time.monotonic() > deadline:
            raise AssertionError("timed out waiting until " + what)
        time.sleep(0.05)


def file_holds(path, text):
    try:
        return text in path.read_bytes()
    except FileNotFoundError:
        return False


# --- preset-nvidia ---------------------------------------------------------------------

NV_ROWS = {"gamer": 8, "competitivo": 10, "extremo": 13}
NV_APPLY_REFUSED = nv.backup_failed(0)
NV_RESTORE_REFUSED = nv.restore_incomplete(0, 0)


class Target:
    """A program, its simulated driver and a work directory with its state file and backup;
    the subclasses name the files and the faults."""

    def __init__(self, directory):
        self.dir = pathlib.Path(directory)
        self.state = self.dir / "state.txt"
        self.backup = self.dir / "backup.txt"

    @classmethod
    def available(cls):
        return cls.exe.is_file() and cls.dll.is_file()

    def install(self):
        wine.install_dll(self.dll, self.dll_name)

    def uninstall(self):
        wine.remove_dll(self.dll_name)

    def empty_directory(self):
        for path in self.dir.glob("*"):
            if path.is_dir() and not path.is_symlink():
                shutil.rmtree(path)
            else:
                path.unlink()

    def in_new_folder(self):
        """From now on the backup lies in a folder that no run has made yet."""
        self.backup = self.dir / "new" / "backup.txt"
        return self


class NvidiaTarget(Target):
    """preset-nvidia and the simulated nvapi64.dll, state and backup in `directory`."""

    name = "nvidia"
    exe = nv.EXE
    dll = nv.sim_dll()
    restore_refused = NV_RESTORE_REFUSED, 22
    # A fault that keeps a run inside its first driver call, and the log text saying so.
    sleep_fault = "Initialize=sleep:%d"
    sleep_mark = b"-> sleep %d (injected)"
    # A fault that stops an apply after it loaded the driver's settings and before it reads
    # the backup.
    between_reads_fault = "GetBaseProfile=sleep:%d"
    between_reads_mark = sleep_mark
    # A fault that stops an apply in its first read of a setting, after it read the backup.
    setting_read_fault = "GetSetting#1=sleep:%d"
    setting_read_mark = b"-> sleep"
    crash_fault = "SetSetting#3=exit"
    killed_exit = 99

    dll_name = "nvapi64.dll"

    def reset(self):
        """Puts the machine at the NVIDIA tests' ORIGINAL profile, with no backup and no logs."""
        self.empty_directory()
        self.state.write_bytes(nv.state_bytes(nv.ORIGINAL))

    def driver_now(self):
        return self.state.read_bytes()

    def start(self, args, log, faults=None, env=None, cwd=None):
        extra = {"SIM_NVAPI_STATE": wine.winpath(self.state), "SIM_NVAPI_LOG": wine.winpath(log)}
        if faults:
            extra["SIM_NVAPI_FAULTS"] = faults
        extra.update(env or {})
        return Started(self.exe, args, env=extra, cwd=cwd)

    def apply_refused_for(self, command):
        return NV_APPLY_REFUSED, 20

    def allowed(self, command):
        """Every (line, exit) a run of `command` may end with while others run beside it."""
        if command == "restore":
            return ({(nv.restored(n), 0) for n in set(NV_ROWS.values())}
                    | {(nv.NOTHING, 0), self.restore_refused})
        rows = NV_ROWS[command]
        return {(nv.applied(rows, rows), 0), self.apply_refused_for(command)}

    def wrote_driver(self, log):
        """Whether the run logged in `log` changed or committed anything."""
        return any(b"SetSetting" in l or b"DeleteProfileSetting" in l or b"SaveSettings" in l
                   for l in _lines(log))

    def touched_driver(self, log):
        return bool(_lines(log))


# --- preset-amd ------------------------------------------------------------------------

AMD_SUPPORTED = {"gamer": 24, "competitivo": 26, "extremo": 26}
AMD_GPUS = 2
# Starting values unlike the presets' where a preset touches them.
AMD_INITIAL = {"gpu0.vsync-mode": 2, "gpu1.aa-mode": 1, "gpu1.sharpening": 0,
               "gpu0.enhanced-sync": 0, "gpu1.enhanced-sync": 0}
AMD_RESTORE_REFUSED = amd.restore_incomplete(0, 0)


class AmdTarget(Target):
    """preset-amd and the simulated amdadlx64.dll (two GPUs), state and backup in
    `directory`."""

    name = "amd"
    exe = amd.EXE
    dll = amd.sim_dll()
    restore_refused = AMD_RESTORE_REFUSED, 22
    sleep_fault = "Initialize=sleep:%d"
    sleep_mark = b"SLEEP Initialize ADLXInitialize2 %d"
    # A fault that stops an apply after the runtime took its snapshot of the settings (at
    # its first call) and before the backup is read.
    between_reads_fault = sleep_fault
    between_reads_mark = sleep_mark
    setting_read_fault = "IsEnabled#1=sleep:%d"
    setting_read_mark = b"SLEEP IsEnabled"
    crash_fault = "SetMode@2=crash"  # extremo after gamer changes two modes
    killed_exit = 99

    dll_name = amd.DLL_NAME

    def reset(self):
        self.empty_directory()

    def driver_now(self):
        """Every setting's value: the state file over the runtime's starting values."""
        values = amd.default_state(AMD_GPUS)
        values.update(AMD_INITIAL)
        if self.state.exists():
            for raw in self.state.read_text().splitlines():
                key, value = raw.split("=", 1)
                values[key] = int(value)
        return values

    def start(self, args, log, faults=None, env=None, cwd=None):
        extra = {"SIM_ADLX_GPUS": AMD_GPUS, "SIM_ADLX_IDS": "7,-2",
                 "SIM_ADLX_INITIAL": ",".join("%s=%d" % kv for kv in AMD_INITIAL.items()),
                 "SIM_ADLX_STATE": wine.winpath(self.state), "SIM_ADLX_LOG": wine.winpath(log)}
        if faults:
            extra["SIM_ADLX_FAULTS"] = faults
        extra.update(env or {})
        return Started(self.exe, args, env=extra, cwd=cwd)

    def apply_refused_for(self, command):
        return amd.applied_partly(AMD_SUPPORTED[command], 0), 21

    def allowed(self, command):
        if command == "restore":
            return ({(amd.restored(n), 0) for n in set(AMD_SUPPORTED.values())}
                    | {(amd.NOTHING, 0), self.restore_refused})
        supported = AMD_SUPPORTED[command]
        return ({(amd.applied(supported, c), 0) for c in range(supported + 1)}
                | {self.apply_refused_for(command)})

    def wrote_driver(self, log):
        return any(l.startswith((b"SetEnabled", b"SetMode")) for l in _lines(log))

    def touched_driver(self, log):
        return b"DLL attached" in _lines(log)


def _lines(log):
    try:
        return log.read_bytes().splitlines()
    except FileNotFoundError:
        return []


# --- rounds ----------------------------------------------------------------------------

COMMANDS = ["gamer", "competitivo", "extremo", "restore"]


def command_args(target, command):
    backup = wine.winpath(target.backup)
    return ["restore", backup] if command == "restore" else ["apply", command, backup]


def restore_until_done(target, problems):
    """Restores (at most twice) until the program says everything is back or nothing is
    there; a refusal now would mean a lock left behind."""
    for attempt in range(2):
        run = target.start(command_args(target, "restore"), target.dir / "final.log")
        out, code = run.wait()
        if code == 0 and (out.startswith(b"result=ok;") or out.startswith(b"result=nothing;")):
            return
        if attempt == 1:
            problems.append("final restore: %r exit %d" % (out, code))


def check_clean(target, before, problems):
    """The driver is back to `before` and nothing but the state file and logs is left in
    the backup's folder."""
    after = target.driver_now()
    if after != before:
        problems.append("driver not back after the final restore: %s" % describe(before, after))
    folder = target.backup.parent
    leftovers = sorted(p.name for p in folder.iterdir()
                       if p.name != target.state.name and not p.name.endswith(".log"))
    if leftovers:
        problems.append("files left behind: %s" % ", ".join(leftovers))


def describe(before, after):
    if isinstance(before, dict):
        diff = ["%s %r->%r" % (k, before.get(k), after.get(k))
                for k in sorted(set(before) | set(after)) if before.get(k) != after.get(k)]
        return "; ".join(diff[:6])
    return "%r -> %r" % (before[:200], after[:200])


def concurrent_round(target, commands, pauses=None):
    """Starts one run per command at once on one backup path, waits for all, then restores
    and checks the driver is back where it was. Returns (problems, lines by run).

    `pauses` gives each run a pause in milliseconds (0: none) at the point between reading
    the driver and reading the backup, where an unserialised restore or apply beside it
    does the most harm."""
    problems = []
    target.reset()
    before = target.driver_now()
    pauses = pauses or [0] * len(commands)
    runs = [target.start(command_args(target, c), target.dir / ("run%d.log" % i),
                         faults=target.between_reads_fault % ms if ms else None)
            for i, (c, ms) in enumerate(zip(commands, pauses))]
    results = []
    for command, run in zip(commands, runs):
        try:
            out, code = run.wait()
        except subprocess.TimeoutExpired:
            problems.append("%s: still running after two minutes" % command)
            continue
        results.append((command, out, code))
        if not RESULT_LINE.fullmatch(out):
            problems.append("%s: not one well-formed line: %r exit %d" % (command, out, code))
        elif (out, code) not in target.allowed(command):
            problems.append("%s: unexpected %r exit %d" % (command, out, code))
    restore_until_done(target, problems)
    check_clean(target, before, problems)
    return problems, results


# Pauses stay short: the runs of a round queue behind each other, and the whole queue must
# fit well within the programs' wait for the lock.
PAUSE_CHANCE = 0.4
PAUSE_MS = (100, 500)


def mixed_commands(rng, count):
    """`count` commands with every preset and at least one restore among them, shuffled,
    and a pause for some of them (see concurrent_round)."""
    commands = list(COMMANDS)
    while len(commands) < count:
        commands.append(rng.choice(COMMANDS))
    rng.shuffle(commands)
    pauses = [rng.randint(*PAUSE_MS) if rng.random() < PAUSE_CHANCE else 0 for _ in commands]
    return commands, pauses


def new_directory(prefix):
    path = pathlib.Path(tempfile.mkdtemp(prefix=prefix))
    return path, lambda: shutil.rmtree(path, ignore_errors=True)
