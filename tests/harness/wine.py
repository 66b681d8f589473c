"""Runs the Windows programs under Wine the way a front-end starts them.

Shared by the end-to-end test scripts: the Wine prefix a script runs in, helpers to put a
driver library into its system32 or take it out, and a runner that returns the exact bytes
of standard output and the exit code.

A script swaps driver libraries in its prefix's system32 and maps drive letters in it, so
no two scripts may share a prefix at once. The suite has a few prefixes side by side, the
ids of wine_prefixes.json under E2E_WINEPREFIX; ctest hands each script one of them (its
resource "wineprefix"), so scripts run in parallel. A script started by hand takes the
first. Each process also locks its prefix, so two that were given the same one (ctest
without the resource file, or by hand) take turns instead of spoiling each other's runs.
"""
import fcntl
import json
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
PREFIXES_FILE = REPO / "tests" / "e2e" / "wine_prefixes.json"
PREFIX_BASE = pathlib.Path(os.environ.get("E2E_WINEPREFIX",
                                          REPO / "build" / "native" / "wineprefix"))


def prefix_ids():
    """The ids of the suite's prefixes, as the resource file lists them."""
    resources = json.loads(PREFIXES_FILE.read_text())
    return [slot["id"] for slot in resources["local"][0]["wineprefix"]]


def given_prefix():
    """The prefix ctest gave this process ("id:b,slots:1"), or else the first."""
    given = os.environ.get("CTEST_RESOURCE_GROUP_0_WINEPREFIX", "")
    fields = dict(f.split(":", 1) for f in given.split(",") if ":" in f)
    return PREFIX_BASE / fields.get("id", prefix_ids()[0])


PREFIX = given_prefix()


def base_env(extra=None):
    """The environment of a run: the suite's own prefix, no Wine chatter, plus `extra`."""
    env = {k: v for k, v in os.environ.items() if not k.startswith(("SIM_NVAPI_", "SIM_ADLX_"))}
    env["WINEPREFIX"] = str(PREFIX)
    env["WINEDEBUG"] = "-all"
    if extra:
        env.update({k: str(v) for k, v in extra.items()})
    return env


def ensure_prefix():
    """Claims the prefix for this process, creates it once and keeps its server warm; later
    calls return at once."""
    claim_prefix()
    create_prefix(PREFIX)
    keep_server_warm()


# Wine's server and the services it starts with a prefix's first program end soon after its
# last program has; the run that finds them gone starts them again, which costs it about a
# second (the first run of each script took 1.1 to 2.1 s, the others 0.03 to 0.1 s). A
# server told to stay this long after the last program carries them from one run, and one
# script, to the next.
SERVER_LINGER_S = 30


def keep_server_warm():
    """Starts the prefix's server to stay SERVER_LINGER_S seconds after its last program.
    Where a server is running already (a warm one, as a rule) this does nothing."""
    subprocess.run([WINESERVER, "-p%d" % SERVER_LINGER_S], env=base_env(),
                   stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL, timeout=60, check=False)


def create_prefix(prefix):
    """Creates `prefix` unless it is there already and whole (a new one takes seconds)."""
    ready = prefix / ".presets-ready"
    kernel32 = prefix / "drive_c" / "windows" / "system32" / "kernel32.dll"
    if ready.exists() and kernel32.exists():
        return
    if ready.exists():
        # A prefix whose set-up was cut short starts no program at all: made anew.
        shutil.rmtree(prefix, ignore_errors=True)
    prefix.parent.mkdir(parents=True, exist_ok=True)
    quiet = dict(env=dict(base_env(), WINEPREFIX=str(prefix)), stdin=subprocess.DEVNULL,
                 stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=300, check=False)
    subprocess.run([WINE, "wineboot", "-i"], **quiet)
    # A new prefix goes on setting itself up in the background; a program started meanwhile
    # can fail to start at all. Wait until the server has nothing left to run.
    subprocess.run([WINESERVER, "-w"], **quiet)
    if not kernel32.exists():
        raise RuntimeError(f"Wine prefix {prefix} has no system32\\kernel32.dll")
    ready.touch()


_claims = {}


def claim_prefix():
    """Locks PREFIX for the rest of this process, waiting while another process holds it."""
    if PREFIX in _claims:
        return
    PREFIX.parent.mkdir(parents=True, exist_ok=True)
    lock = open(PREFIX.parent / (PREFIX.name + ".lock"), "w")
    fcntl.flock(lock, fcntl.LOCK_EX)
    _claims[PREFIX] = lock


def system32():
    return PREFIX / "drive_c" / "windows" / "system32"


def install_dll(source, name):
    """Copies a built library into system32 under `name` (for example "nvapi64.dll")."""
    claim_prefix()
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


# What the simulated libraries end a run with by their own choice, saying why on standard
# error when it is their configuration: not the program's output.
SIM_EXITS = (98, 99)


def asks_for_detail(args):
    return any(str(a).lower() == "--detail" for a in args)


def run(exe, args, env=None, cwd=None, timeout=60, stderr=None, starts=STARTS):
    """Runs `exe` with `args`; returns (stdout bytes, exit code). With a list as `stderr`,
    the bytes of standard error are appended to it (Wine's own messages included). Without
    one, a run of either program that was not asked for its detail must leave standard
    error empty: the result line is the whole answer.
    `starts`: how often a run Wine failed to start is tried; a caller that repeats such
    runs itself passes 1, so that the repeats do not multiply.

    Standard output goes to a file, not a pipe: a run that has to start Wine's server and
    services hands its descriptors on to them, and a pipe would then stay open (and the
    caller waiting) until they exit, seconds after the program itself has ended."""
    claim_prefix()
    for attempt in range(starts):
        with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
            proc = subprocess.run([WINE, str(exe), *args], env=base_env(env), cwd=cwd,
                                  stdin=subprocess.DEVNULL, stdout=out, stderr=err,
                                  timeout=timeout, check=False)
            out.seek(0)
            result = out.read(), proc.returncode
            if (stderr is None and pathlib.Path(str(exe)).name.startswith("preset-")
                    and not asks_for_detail(args) and result[1] not in SIM_EXITS):
                err.seek(0)
                written = err.read()
                if written:
                    raise AssertionError("%s %s wrote to standard error: %r"
                                         % (pathlib.Path(str(exe)).name, args, written))
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
