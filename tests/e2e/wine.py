"""Runs the Windows programs under Wine the way a front-end starts them.

Shared by the end-to-end test scripts: one Wine prefix for the whole suite, helpers to put
a driver library into its system32 or take it out, and a runner that returns the exact
bytes of standard output and the exit code.
"""
import os
import pathlib
import shutil
import subprocess
import tempfile
import time
import unittest

WINE = os.environ.get("WINE64", "/usr/lib/wine/wine64")
WINESERVER = os.path.join(os.path.dirname(WINE), "wineserver")
REPO = pathlib.Path(__file__).resolve().parents[2]
BIN = pathlib.Path(os.environ.get("PRESETS_WIN_BIN", REPO / "build" / "windows"))
PREFIX = pathlib.Path(os.environ.get("E2E_WINEPREFIX", REPO / "build" / "native" / "wineprefix"))


def base_env(extra=None):
    """The environment of a run: the suite's own prefix, no Wine chatter, plus `extra`."""
    env = {k: v for k, v in os.environ.items() if not k.startswith(("SIM_NVAPI_", "SIM_ADLX_"))}
    env["WINEPREFIX"] = str(PREFIX)
    env["WINEDEBUG"] = "-all"
    if extra:
        env.update({k: str(v) for k, v in extra.items()})
    return env


def ensure_prefix():
    """Creates the prefix once; later calls return at once."""
    ready = PREFIX / ".presets-ready"
    if ready.exists():
        return
    PREFIX.parent.mkdir(parents=True, exist_ok=True)
    subprocess.run([WINE, "wineboot", "-i"], env=base_env(), stdin=subprocess.DEVNULL,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=300, check=False)
    # A new prefix goes on setting itself up in the background; a program started meanwhile
    # can fail to start at all. Wait until the server has nothing left to run.
    subprocess.run([WINESERVER, "-w"], env=base_env(), stdin=subprocess.DEVNULL,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=300, check=False)
    if not system32().is_dir():
        raise RuntimeError(f"Wine prefix {PREFIX} has no system32")
    ready.touch()


def system32():
    return PREFIX / "drive_c" / "windows" / "system32"


def install_dll(source, name):
    """Copies a built library into system32 under `name` (for example "nvapi64.dll")."""
    shutil.copyfile(source, system32() / name)


def remove_dll(name):
    try:
        (system32() / name).unlink()
    except FileNotFoundError:
        pass


# A library no run may load; loading it leaves PLANTED_MARKER beside it (tests/tools).
PLANTED = BIN / "tests" / "tools" / "planted.dll"
PLANTED_MARKER = "planted-loaded.txt"


def plant_library(base, where):
    """Plants "planted.dll" where a library search must not reach: the working folder
    ("cwd") or a folder on PATH ("path"), both made new under `base`. Returns the working
    folder, the environment that puts the other folder on PATH, and the marker path."""
    work, on_path = base / "work", base / "on-path"
    work.mkdir(parents=True)
    on_path.mkdir()
    folder = work if where == "cwd" else on_path
    shutil.copyfile(PLANTED, folder / PLANTED.name)
    return work, {"WINEPATH": winpath(on_path)}, folder / PLANTED_MARKER


def winpath(path):
    """The Windows form of a Unix path, as Wine maps it (drive Z: is the root)."""
    return "Z:" + str(path).replace("/", "\\")


# What a run ends with when Wine itself failed to start the program: no output and exit 1.
# Our programs never end that way (exit 1 always comes with its "Falha inesperada" line),
# so such a run did nothing and is started again; it happens now and then on a loaded
# machine.
NOT_STARTED = (b"", 1)
STARTS = 4


def run(exe, args, env=None, cwd=None, timeout=60, stderr=None, starts=STARTS):
    """Runs `exe` with `args`; returns (stdout bytes, exit code). With a list as `stderr`,
    the bytes of standard error are appended to it (Wine's own messages included).
    `starts`: how often a run Wine failed to start is tried; a caller that repeats such
    runs itself passes 1, so that the repeats do not multiply.

    Standard output goes to a file, not a pipe: a run that has to start Wine's server and
    services hands its descriptors on to them, and a pipe would then stay open (and the
    caller waiting) until they exit, seconds after the program itself has ended."""
    for attempt in range(starts):
        with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
            proc = subprocess.run([WINE, str(exe), *args], env=base_env(env), cwd=cwd,
                                  stdin=subprocess.DEVNULL, stdout=out,
                                  stderr=subprocess.DEVNULL if stderr is None else err,
                                  timeout=timeout, check=False)
            out.seek(0)
            result = out.read(), proc.returncode
            if stderr is not None and (result != NOT_STARTED or attempt == starts - 1):
                err.seek(0)
                stderr.append(err.read())
        if result != NOT_STARTED or attempt == starts - 1:
            return result
        time.sleep(attempt + 1)
    return result


class WineCase(unittest.TestCase):
    """A test under Wine in a new folder of its own (`self.dir`, named `folder_prefix`...);
    the class is skipped when `needs`, a built file, is missing."""

    needs = None
    folder_prefix = "e2e-"

    @classmethod
    def setUpClass(cls):
        if cls.needs is not None and not cls.needs.is_file():
            raise unittest.SkipTest("no %s in %s" % (cls.needs.name, cls.needs.parent))
        ensure_prefix()

    def setUp(self):
        self.dir = pathlib.Path(tempfile.mkdtemp(prefix=self.folder_prefix))
        self.addCleanup(shutil.rmtree, self.dir, ignore_errors=True)
