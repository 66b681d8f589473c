"""Where the programs run: under Wine, started from Linux, or on Windows itself.

A host starts a program the way a front-end does (no console window, standard output to a
file, the environment given), says how a folder of ours is spelled for the program, puts
the simulated NVIDIA library into the system folder, and does what other programs, the user
or an attacker do between runs (hold a file with no sharing, map a drive letter, plant
links and junctions, mount a volume in a folder). Each act a host cannot do has a reason
instead (`lacks`), and the checks that need it are skipped with that reason.

Everything a host makes outside its own folder it undoes in `clean_up`, newest first.
"""
import os
import pathlib
import shutil
import stat
import subprocess
import sys
import tempfile
import threading
import time

NVAPI = "nvapi64.dll"
ADLX = "amdadlx64.dll"

# Wine starts a program now and then without running it (no output, exit 1, seen on a
# loaded machine); the programs never end that way, so such a run is tried again.
NOT_STARTED = (b"", 1)
STARTS = 4

# What only Windows itself offers, by need.
WINDOWS_ONLY = {
    "junction": "a junction (mklink /J) needs Windows",
    "mount-point": "a volume mount point (mountvol) needs Windows",
    "share": "a share path (\\\\localhost\\C$) needs Windows",
    "volume": "a volume GUID path (mountvol) needs Windows",
    "globalroot": "a \\\\?\\GLOBALROOT\\ path needs Windows",
    "runas": "a run that is not elevated (runas /trustlevel:0x20000) needs Windows",
}


class Ran:
    """One run: standard output, exit code (None when it did not end by itself), how it
    ended when it did not ("timed-out", "not-started"), and standard error."""

    def __init__(self, out, code, ended=None, err=b""):
        self.out, self.code, self.ended, self.err = out, code, ended, err


class Host:
    """What both hosts share; a subclass provides the platform's own acts."""

    windows = False
    elevated = True

    def __init__(self, programs, kit_sim):
        # {"nvidia": path, "amd": path}, and the folder holding nvapi/ and adlx/ with the
        # simulated DLLs; absolute, since runs start in folders of their own.
        self.programs = {k: pathlib.Path(v).resolve() for k, v in programs.items()}
        self.kit_sim = pathlib.Path(kit_sim).resolve()
        self.undo = []
        self.made_base = None
        self.keep_base = False
        self.lock = threading.Lock()

    # -- folders -----------------------------------------------------------------------------
    @property
    def base(self):
        """The work folder of this session, made at first use."""
        with self.lock:
            if self.made_base is None:
                self.made_base = self.make_base()
            return self.made_base

    def new_folder(self, name):
        folder = self.base / name
        folder.mkdir(parents=True)
        return folder

    def later(self, action):
        """Undo `action` at clean_up (newest first)."""
        with self.lock:
            self.undo.append(action)

    def clean_up(self):
        while self.undo:
            try:
                self.undo.pop()()
            except OSError:
                pass
        if self.made_base is not None and not self.keep_base:
            remove_tree(self.made_base)

    # -- simulated drivers ---------------------------------------------------------------------
    def nvapi(self, variant=""):
        return self.kit_sim / "nvapi" / ("nvapi64-%s.dll" % variant if variant else NVAPI)

    def adlx(self, variant=""):
        return self.kit_sim / "adlx" / ("amdadlx64-%s.dll" % variant if variant else ADLX)

    def put_nvapi(self, variant):
        """Puts a variant of the simulated library into the system folder as nvapi64.dll,
        or takes it out (None)."""
        target = self.system32() / NVAPI
        if variant is None:
            if target.exists():
                target.unlink()
            return
        shutil.copyfile(self.nvapi(variant), target)

    # -- what a host may lack ------------------------------------------------------------------
    def lacks(self, need):
        """None when this host can do `need`, else why not."""
        if need == "no-system-runtime" and (self.system32() / ADLX).exists():
            return ("%s holds a simulated %s, which preset-amd would find: the rows without "
                    "a runtime need it gone" % (self.system32(), ADLX))
        return None

    def environment(self, extra):
        env = {k: v for k, v in os.environ.items()
               if not k.upper().startswith(("SIM_NVAPI_", "SIM_ADLX_"))}
        env.update({k: str(v) for k, v in extra.items()})
        return env


FILE_ATTRIBUTE_DIRECTORY = 0x10
FILE_ATTRIBUTE_REPARSE_POINT = 0x400


def remove_tree(path):
    """Removes a folder of ours, read-only files included. A link, junction or mount point
    in it is removed itself and never entered: what it leads to is not ours."""
    try:
        info = os.lstat(path)
    except OSError:
        return
    attributes = getattr(info, "st_file_attributes", 0)
    try:
        if stat.S_ISLNK(info.st_mode) or attributes & FILE_ATTRIBUTE_REPARSE_POINT:
            if attributes & FILE_ATTRIBUTE_DIRECTORY:
                os.rmdir(path)
            else:
                os.unlink(path)
            return
        os.chmod(path, 0o700 if stat.S_ISDIR(info.st_mode) else 0o600)
        if stat.S_ISDIR(info.st_mode):
            for name in os.listdir(path):
                remove_tree(os.path.join(path, name))
            os.rmdir(path)
        else:
            os.unlink(path)
    except OSError:
        pass


class WineHost(Host):
    """Windows programs run by Wine's loader (`launcher`) in the prefix `prefix`; folders of
    ours live in the prefix's drive C:. `helper` is the test tools' hold-file.exe, which
    holds a file with no sharing and gives 8.3 short names; without it those checks are
    skipped."""

    def __init__(self, programs, kit_sim, launcher, prefix, helper=None):
        super().__init__(programs, kit_sim)
        self.launcher = str(launcher)
        self.prefix = pathlib.Path(prefix)
        self.helper = helper if helper and pathlib.Path(helper).is_file() else None

    def make_base(self):
        return pathlib.Path(tempfile.mkdtemp(prefix="presets-doccheck-",
                                             dir=self.prefix / "drive_c"))

    def system32(self):
        return self.prefix / "drive_c" / "windows" / "system32"

    def lacks(self, need):
        if need in WINDOWS_ONLY:
            return WINDOWS_ONLY[need]
        if need == "no-system-runtime":
            return super().lacks(need)
        if need == "holder" and self.helper is None:
            return ("holding a file with no sharing needs Windows (or the test tools' "
                    "hold-file.exe under Wine): the self-test holds it itself there")
        if need == "short-names" and self.helper is None:
            return ("8.3 short names need Windows (or the test tools' hold-file.exe under "
                    "Wine): the self-test asks the system for them there")
        return None

    def to_program(self, path):
        """The Windows spelling of a path of ours: drive C: is the prefix's drive_c, Z: is /."""
        path = pathlib.Path(path)
        drive_c = self.prefix / "drive_c"
        try:
            return "C:\\" + str(path.relative_to(drive_c)).replace("/", "\\")
        except ValueError:
            return "Z:" + str(path).replace("/", "\\")

    def program_root(self, path):
        """The path of `path` below its drive's root, as the program spells it, without the
        drive: "\\presets-doccheck-...\\x"."""
        return self.to_program(path)[2:]

    def environment(self, extra):
        env = super().environment(extra)
        env.update(WINEPREFIX=str(self.prefix), WINEDEBUG="-all",
                   LANG="C.UTF-8", LC_ALL="C.UTF-8")
        return env

    def command(self, exe, args):
        return [self.launcher, str(exe), *[str(a) for a in args]]

    def client_launcher(self):
        return [self.launcher]

    def run(self, exe, args, env, cwd=None, timeout=60):
        for attempt in range(STARTS):
            ran = run_to_file(self.command(exe, args), self.environment(env), cwd, timeout)
            if (ran.out, ran.code) != NOT_STARTED or attempt == STARTS - 1:
                return ran
            time.sleep(attempt + 1)
        return ran

    def start(self, exe, args, env, cwd=None):
        return Started(self.command(exe, args), self.environment(env), cwd)

    # -- acts ------------------------------------------------------------------------------------
    def hold(self, path, ms=None, start_marker=None):
        return WineHolder([self.launcher, self.helper], self.to_program, self.environment({}),
                          self.base, path, ms, start_marker)

    def short_name(self, path):
        ran = run_to_file([self.launcher, self.helper, "--short-name", self.to_program(path)],
                          self.environment({}), None, 60)
        if ran.code != 0 or not ran.out:
            raise RuntimeError("no short name for %s (exit %s)" % (path, ran.code))
        return ran.out.decode()

    def free_drive(self):
        return free_wine_drive(self.prefix)

    def map_drive(self, folder):
        with self.lock:
            return map_wine_drive(self.prefix, folder, self.undo)

    def symlink(self, at, target, folder):
        os.symlink(target, at)

    def hardlink(self, at, target):
        os.link(target, at)

    def unix_form(self, path):
        return "\\\\?\\unix" + str(path).replace("/", "\\")


def free_wine_drive(prefix):
    """A drive letter the Wine prefix maps to nothing, from Q to Y."""
    devices = prefix / "dosdevices"
    for letter in "QRSTUVWXY":
        if not os.path.lexists(devices / (letter.lower() + ":")):
            return letter
    raise RuntimeError("every drive letter from Q to Y is mapped in %s" % devices)


def map_wine_drive(prefix, folder, undo):
    """A free drive letter made to name `folder`, as `subst` does: under Wine the drive is a
    link in the prefix's dosdevices (Wine's subst does not outlive its process), so its
    root is itself a link. From G to P, so that `free_wine_drive` never races for the same
    one; what takes it back goes on the list `undo`."""
    devices = prefix / "dosdevices"
    for letter in "PONMLKJIHG":
        link = devices / (letter.lower() + ":")
        try:
            os.symlink(folder, link)
        except FileExistsError:
            continue
        undo.append(link.unlink)
        return letter
    raise RuntimeError("every drive letter from G to P is mapped in %s" % devices)


def run_to_file(command, env, cwd, timeout):
    """Runs `command` with standard output in a file (a pipe may stay open after the program
    ended, held by processes it handed it on to); kills it past `timeout` seconds."""
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
        try:
            proc = subprocess.Popen(command, env=env, cwd=cwd, stdin=subprocess.DEVNULL,
                                    stdout=out, stderr=err, creationflags=no_window())
        except OSError:
            return Ran(b"", None, "not-started")
        try:
            code = proc.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            proc.kill()
            proc.wait()
            return Ran(b"", None, "timed-out")
        out.seek(0)
        err.seek(0)
        return Ran(out.read(), code, None, err.read())


def no_window():
    return subprocess.CREATE_NO_WINDOW if sys.platform == "win32" else 0


class Started:
    """A run going on in the background; `wait` gives its Ran."""

    def __init__(self, command, env, cwd):
        self.out = tempfile.TemporaryFile()
        self.proc = subprocess.Popen(command, env=env, cwd=cwd, stdin=subprocess.DEVNULL,
                                     stdout=self.out, stderr=subprocess.DEVNULL,
                                     creationflags=no_window())

    def running(self):
        return self.proc.poll() is None

    def wait(self, timeout=120):
        try:
            code = self.proc.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            self.stop()
            return Ran(b"", None, "timed-out")
        self.out.seek(0)
        data = self.out.read()
        self.out.close()
        return Ran(data, code)

    def stop(self):
        if self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait()


HOLD_WAIT_S = 30


class WineHolder:
    """hold-file.exe under Wine, holding one file with no sharing until released, or for
    `ms` milliseconds counted from when `start_marker` (the next run's call log) appears.
    `command` starts it (Wine and the helper), `to_program` spells a path for it, `env` is
    its environment; its markers go in a folder of their own under `base`."""

    def __init__(self, command, to_program, env, base, path, ms=None, start_marker=None):
        self.ms = ms
        folder = pathlib.Path(tempfile.mkdtemp(prefix="holder-", dir=base))
        self.ready, self.release_marker = folder / "ready", folder / "release"
        paths = [to_program(p) for p in (path, self.ready, self.release_marker)]
        timed = [str(ms), to_program(start_marker)] if ms else []
        # The holder's own refusals exit 2 and 3; exit 1 is also how Wine ends a program it
        # did not run, so that one is tried again (a usage fault fails every time).
        for attempt in range(STARTS):
            self.proc = subprocess.Popen(command + paths + timed, env=env,
                                         stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                         stderr=subprocess.DEVNULL)
            deadline = time.monotonic() + HOLD_WAIT_S
            while not self.ready.exists():
                if self.proc.poll() is not None or time.monotonic() > deadline:
                    self.stop()
                    break
                time.sleep(0.02)
            if self.ready.exists() or self.proc.returncode != NOT_STARTED[1]:
                break
            time.sleep(attempt + 1)
        if not self.ready.exists():
            raise RuntimeError("hold-file did not take %s (exit %s)"
                               % (path, self.proc.returncode))

    def release(self):
        """Lets go (or waits until it let go on its own); True when it held to the end."""
        if not self.ms:
            self.release_marker.touch()
        try:
            return self.proc.wait(timeout=HOLD_WAIT_S) == 0
        except subprocess.TimeoutExpired:
            self.stop()
            return False

    def stop(self):
        if self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait()
