"""What every driver campaign shares: one run of a program under Wine (the one place where a
run Wine failed to start is repeated), its one result line, the invariant failures, and the
work directory every vendor's world builds on."""
import os
import pathlib
import re
import shutil
import time

from harness import wine

from . import REPO

# A prefix and work directory of our own, so the campaign never disturbs (or is disturbed
# by) the test suite's prefix, whose system32 other runs swap libraries in and out of.
PREFIX = pathlib.Path(os.environ.get("CAMPAIGN_WINEPREFIX", REPO / "build" / "campaign-prefix"))
WORK = pathlib.Path(os.environ.get("CAMPAIGN_WORK", REPO / "build" / "campaign-work"))
STARTS = 4  # a run that never got going is tried this often before the campaign stops
RETRIES = [0]  # runs repeated because Wine failed to start the program at all

RESULT_LINE = re.compile(
    rb"result=(ok|error|unsupported|nothing);vendor=(NVIDIA|AMD);supported=(\d+);"
    rb"changed=(\d+);message=([^\r\n]*)\r\n")
# Every exit code a run may end with, and which result kinds go with it.
KIND_EXITS = {b"ok": {0}, b"nothing": {0}, b"unsupported": {10},
              b"error": {1, 2, 3, 20, 21, 22}}
KILLED = 99  # the simulated libraries' "exit"/"crash" fault


class Broken(Exception):
    """An invariant did not hold; the message says which and how."""


class NotStarted(Exception):
    """Runs keep ending with no output and no driver call: Wine (or the program's start-up)
    fails before anything the campaign checks. Counting that as broken cases would bury
    the table, so the campaign stops and says so."""


class NotBuilt(Exception):
    """A build tree or program a row needs is missing; the message says which."""


def run_program(exe, args, env, log):
    """Runs `exe` once under Wine, and again when it never reached the driver and said
    nothing.

    That happens now and then on a loaded machine, when Wine itself fails to start the
    program; nothing can have changed, so the run is repeated (a fault of the program shows
    again every time, and then stops the campaign)."""
    for attempt in range(STARTS):
        out, code = wine.run(exe, args, env=env, starts=1)
        if out != b"" or code in (0, KILLED) or log.exists():
            return out, code
        RETRIES[0] += 1
        time.sleep(attempt + 1)
    raise NotStarted("%s %s: no output, no driver call, exit %d, four times" % (
        exe.name, " ".join(args), code))


def check(condition, message):
    if not condition:
        raise Broken(message)


def parse_result(out, code, killed_allowed):
    """(kind, supported, changed) of a run's one line; None for a run killed before its line.

    Both are part of what a front-end relies on, so a malformed line is a break too."""
    if code == KILLED and killed_allowed and out == b"":
        return None
    m = RESULT_LINE.fullmatch(out)
    check(m is not None, "output is not exactly one result line: %r (exit %d)" % (out, code))
    kind = m.group(1)
    if code == KILLED and killed_allowed:
        return kind.decode(), int(m.group(3)), int(m.group(4))
    check(code in KIND_EXITS[kind], "exit %d does not go with result=%s" % (code, kind.decode()))
    return kind.decode(), int(m.group(3)), int(m.group(4))


class WorldBase:
    """One work directory: the simulated driver's state file and call log, and the backup.

    A vendor's world adds `exe`, `env(faults)`, `log_lines`, `calls`, `fault_fired(rule)`,
    `changed_anything`, `snapshot` (what "unchanged" compares), `state_now`, `backup_now`,
    `user_change` and `check_clean`."""

    def __init__(self, directory, machine, log_name):
        """An emptied `directory` for `machine`; the subclass writes its state file."""
        self.dir = directory
        shutil.rmtree(directory, ignore_errors=True)
        directory.mkdir(parents=True)
        self.machine = machine
        self.state = directory / "state.txt"
        self.log = directory / log_name
        self.backup = directory / "backup.txt"
        self.tmp = directory / "backup.txt.tmp"

    def run(self, args, faults=None):
        """Runs the program with a fresh call log; "BACKUP" in `args` is the backup path."""
        if self.log.exists():
            self.log.unlink()
        args = [wine.winpath(self.backup) if a == "BACKUP" else a for a in args]
        return run_program(self.exe, args, self.env(faults), self.log)

    def restore_until_done(self):
        """Restore without faults until it reports ok or nothing, at most twice."""
        for _ in range(2):
            out, code = self.run(["restore", "BACKUP"])
            result = parse_result(out, code, killed_allowed=False)
            if result[0] in ("ok", "nothing"):
                return
        raise Broken("restore did not finish in two attempts")

    def check_files_gone(self):
        check(not self.backup.exists(), "a backup file is left after restore")
        check(not self.tmp.exists(), "a temporary backup file is left")


class Vendor:
    """A program with its simulated library, as the campaigns see it. Each vendor's module
    names its parts: `exe`, `dll` and the name `dll_name` the program looks for it by, and
    the rest the campaigns ask of it (`name`, `machines`, `World`, `Model`, `generate`,
    `fault_rule`, ...)."""

    # The commands the call-fault campaign runs.
    commands = ["apply gamer", "apply competitivo", "apply extremo", "restore after an apply"]

    @classmethod
    def available(cls):
        return cls.exe.is_file() and cls.dll.is_file()

    @classmethod
    def install(cls):
        wine.install_dll(cls.dll, cls.dll_name)
