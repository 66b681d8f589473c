#!/usr/bin/env python3
"""A campaign that tries to leave the driver changed with no way back.

It drives the real Windows programs under Wine against the simulated driver libraries and
checks one promise after every run: whatever happened to a run (a failing driver call, the
process killed mid-way, the user changing settings in the driver's panel between runs),
restore brings every setting back to what it was before the first apply and leaves no
backup or temporary file behind; and a run that changed nothing leaves the driver as it
found it.

Prints one table: campaign, cases run, cases that broke an invariant. Exit status 1 when
any case broke, 0 otherwise. See docs/campaign.md.

Python 3 standard library only.
"""
import argparse
import fcntl
import importlib
import os
import pathlib
import random
import re
import shutil
import sys
import time

REPO = pathlib.Path(__file__).resolve().parents[1]
sys.path.insert(0, str(REPO / "tests" / "e2e"))
import wine  # noqa: E402
import nvidia_harness as nvidia_common  # noqa: E402
import campaign_amd_model as amd_model  # noqa: E402

# A prefix and work directories of our own, so the campaign never disturbs (or is disturbed
# by) the test suite's prefix, whose system32 other runs swap libraries in and out of.
wine.PREFIX = pathlib.Path(os.environ.get("CAMPAIGN_WINEPREFIX",
                                          REPO / "build" / "campaign-prefix"))
WORK = pathlib.Path(os.environ.get("CAMPAIGN_WORK", REPO / "build" / "campaign-work"))
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


def run_program(exe, args, env, log):
    """wine.run, repeated when the program never reached the driver and said nothing.

    That happens now and then on a loaded machine, when Wine itself fails to start the
    program; nothing can have changed, so the run is repeated (a fault of the program shows
    again every time, and then stops the campaign)."""
    for attempt in range(4):
        out, code = wine.run(exe, args, env=env)
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


# --------------------------------------------------------------------------------------
# NVIDIA: the simulated nvapi64.dll

NV_EXE = wine.BIN / "nvidia" / "preset-nvidia.exe"
NV_DLL = wine.BIN / "sim" / "nvapi" / "nvapi64.dll"

# The 13 managed settings: (id, preset value, lowest preset level that writes it). Written
# out here rather than taken from the product: the campaign checks the product against
# what a front-end is told, not against itself.
NV_TABLE = [
    (0x1057EB71, 0x00000001, 1), (0x0064B541, 0x00000001, 1), (0x00CE2691, 0x00000014, 1),
    (0x00198FFF, 0x00000001, 1), (0x00AC8497, 0xFFFFFFFF, 1), (0x10835002, 0x00000000, 1),
    (0x107EFC5B, 0x00000000, 1), (0x10D2BB16, 0x00000000, 1), (0x00A879CF, 0x08416747, 2),
    (0x20FDD1F9, 0x00000000, 2), (0x00E73211, 0x00000001, 3), (0x0084CD70, 0x00000001, 3),
    (0x002ECAF2, 0x00000001, 3),
]
NV_IDS = [row[0] for row in NV_TABLE]
NV_PRESET_VALUE = {row[0]: row[1] for row in NV_TABLE}
NV_LEVEL = {"gamer": 1, "competitivo": 2, "extremo": 3}
NV_PRESET_IDS = {name: [sid for sid, _, lowest in NV_TABLE if lowest <= level]
                 for name, level in NV_LEVEL.items()}
NV_FOREIGN = [0x10F9DC81, 0x00000001]  # settings the tool never manages
MISSING = None  # a backup entry "missing" / a setting the profile has no value for


class NvMachine:
    """A simulated machine: its base profile (id -> value) and the settings that carry a
    non-zero settingType (id -> type), which the tool cannot record."""

    def __init__(self, name, settings, types=None):
        self.name, self.settings, self.types = name, dict(settings), dict(types or {})

    def type_variable(self):
        return ",".join("0x%08X=%d" % item for item in sorted(self.types.items()))


def nv_machines(full):
    base = {sid: (0x10 + i) for i, sid in enumerate(NV_IDS)}
    base[0x00AC8497] = 0x00000002
    base.update({NV_FOREIGN[0]: 0x11, NV_FOREIGN[1]: 0xDEADBEEF})
    some_absent = {k: v for k, v in base.items() if k not in (0x0064B541, 0x00A879CF, 0x002ECAF2)}
    some_absent[0x00198FFF] = NV_PRESET_VALUE[0x00198FFF]  # already at its preset value
    machines = [
        NvMachine("all 13 present", base),
        NvMachine("3 absent", some_absent),
        NvMachine("2 typed", base, {0x00CE2691: 1, 0x0084CD70: 2}),
    ]
    if full:
        machines.append(NvMachine("empty profile", {}))
    return machines


def nv_state_bytes(settings, types):
    return nvidia_common.state_bytes(settings, types)


def nv_parse_state(data):
    """The e2e suite's reader of the state file, failing as a break of the campaign."""
    try:
        return nvidia_common.parse_state(data)
    except (AssertionError, UnicodeDecodeError) as error:
        raise Broken("state file: %s" % error)


def nv_parse_backup(data):
    """The NVIDIA entries of a backup file: id -> value or MISSING."""
    lines = data.decode("latin-1").split("\r\n")
    check(lines[:2] == ["format=1", "vendor=nvidia"] and lines[-1] == "",
          "backup header or line ends unexpected: %r" % data)
    entries = {}
    for line in lines[2:-1]:
        m = re.fullmatch(r"setting\.0x([0-9A-F]{8})=(missing|value:0x([0-9A-F]{8}))", line)
        check(m is not None, "unexpected backup line %r" % line)
        entries[int(m.group(1), 16)] = MISSING if m.group(2) == "missing" else int(m.group(3), 16)
    return entries


class WorldBase:
    """What every vendor's work directory offers the campaigns."""

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
        self.history = []  # what was run, for reports

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


class NvWorld(WorldBase):
    """One work directory: state file, call log, backup; runs preset-nvidia against them."""

    def __init__(self, directory, machine):
        super().__init__(directory, machine, "calls.log")
        self.state.write_bytes(nv_state_bytes(machine.settings, machine.types))

    def run(self, args, faults=None):
        if self.log.exists():
            self.log.unlink()
        env = {"SIM_NVAPI_STATE": wine.winpath(self.state),
               "SIM_NVAPI_LOG": wine.winpath(self.log)}
        if self.machine.types:
            env["SIM_NVAPI_SETTING_TYPE"] = self.machine.type_variable()
        if faults:
            env["SIM_NVAPI_FAULTS"] = faults
        args = [a if a not in ("BACKUP",) else wine.winpath(self.backup) for a in args]
        out, code = run_program(NV_EXE, args, env, self.log)
        self.history.append("%s%s -> exit %d %s" % (
            " ".join(a if not a.startswith("Z:") else "<backup>" for a in args),
            " [%s]" % faults if faults else "", code, out.decode("latin-1").strip()))
        return out, code

    def log_lines(self):
        if not self.log.exists():
            return []
        return self.log.read_bytes().decode("latin-1").split("\r\n")[:-1]

    def calls(self):
        """Driver calls of the last run; hook lines and library notes are not calls."""
        return [l for l in self.log_lines() if not l.startswith(("hook.", "sim."))]

    def fault_fired(self, rule=None):
        return any(l.endswith("(injected)") for l in self.calls())

    def changed_anything(self):
        """True when the last run both changed a setting and committed it."""
        calls = self.calls()
        wrote = any(re.match(r"NvAPI_DRS_(SetSetting|DeleteProfileSetting) .* -> 0$", l)
                    for l in calls)
        saved = any(re.match(r"NvAPI_DRS_SaveSettings .* -> 0( |$)", l) for l in calls)
        return wrote and saved

    def snapshot(self):
        """The driver state to compare: the state file byte for byte (types included)."""
        return self.state.read_bytes()

    def state_now(self):
        return nv_parse_state(self.state.read_bytes()) if self.state.exists() else {}

    def backup_now(self):
        return nv_parse_backup(self.backup.read_bytes()) if self.backup.exists() else None

    def user_change(self, sid, value):
        """The user changes one setting in the driver's panel: the profile changes, nothing
        else does."""
        settings = self.state_now()
        if value is MISSING:
            settings.pop(sid, None)
        else:
            settings[sid] = value
        self.state.write_bytes(nv_state_bytes(settings, self.machine.types))
        self.history.append("user sets 0x%08X to %s" % (
            sid, "no value" if value is MISSING else "0x%08X" % value))

    def check_clean(self, expected_bytes=None, expected_values=None):
        if expected_bytes is not None:
            now = self.state.read_bytes()
            check(now == expected_bytes,
                  "driver state after restore differs from before the first apply: %s" % (
                      describe_difference(nv_parse_state(expected_bytes), nv_parse_state(now))
                      or "types %r, before %r" % (now, expected_bytes)))
        if expected_values is not None:
            now = self.state_now()
            check(now == expected_values, "driver state after restore differs: %s"
                  % describe_difference(expected_values, now))
        self.check_files_gone()


def describe_difference(expected, actual):
    parts = []
    for sid in sorted(set(expected) | set(actual)):
        if expected.get(sid) != actual.get(sid):
            parts.append("0x%08X expected %s got %s" % (sid, fmt(expected.get(sid)),
                                                        fmt(actual.get(sid))))
    return "; ".join(parts)


def fmt(value):
    return "no value" if value is MISSING else "0x%08X" % value


class Nvidia:
    name = "nvidia"
    failing_status = "-1"
    short_points = 30  # every edge: a command makes at most 33 calls

    @staticmethod
    def available():
        return NV_EXE.is_file() and NV_DLL.is_file()

    @staticmethod
    def install():
        wine.install_dll(NV_DLL, "nvapi64.dll")

    machines = staticmethod(nv_machines)
    World = NvWorld
    commands = ["apply gamer", "apply competitivo", "apply extremo", "restore after an apply"]

    @staticmethod
    def fault_rule(calls, k, outcome):
        return "*#%d=%s" % (k, outcome)


# --------------------------------------------------------------------------------------
# AMD: the simulated ADLX runtime

AMD_EXE = wine.BIN / "amd" / "preset-amd.exe"
AMD_DLL = wine.BIN / "sim" / "adlx" / "amdadlx64.dll"
AMD_GLOBALS = ["rsr", "afmf"]
AMD_PER_GPU = ["chill", "boost", "frtc", "sharpening", "mlaa", "aa-mode", "anisotropic",
               "tessellation-mode", "enhanced-sync", "vsync-mode", "fsr", "frame-generation"]
AMD_MODES = {"aa-mode", "tessellation-mode", "vsync-mode"}
AMD_FAILING = "3"
# Log words of the calls a fault can name, and how the fault names them.
AMD_ENTRY_CALLS = {"ADLXQueryFullVersion": "QueryFullVersion", "ADLXQueryVersion": "QueryVersion",
                   "ADLXTerminate": "Terminate", "GetGPUs": "GetGPUs",
                   "Get3DSettingsServices": "Get3DSettingsServices"}
AMD_SUBJECT_CALLS = {"Get", "IsSupported", "IsEnabled", "GetMode", "SetEnabled", "SetMode",
                     "UniqueId"}


class AmdMachine:
    """GPUs with ids, starting values (ref -> number) and the runtime's other knobs;
    `fault_calls` narrows the random round trips' faults to those calls."""

    def __init__(self, name, gpus, ids, values=None, extra=None, fault_calls=None):
        self.name, self.gpus, self.ids = name, gpus, ids
        self.fault_calls = fault_calls
        self.values = {}
        for ref in AMD_GLOBALS:
            self.values[ref] = 1
        for gpu in range(gpus):
            for setting in AMD_PER_GPU:
                self.values["gpu%d.%s" % (gpu, setting)] = 3 if setting in AMD_MODES else 1
        self.values.update(values or {})
        self.extra = dict(extra or {})


def amd_machines(full):
    machines = [
        AmdMachine("2 GPUs", 2, "7,-2"),
        AmdMachine("1 GPU, some absent or unsupported", 1, "5",
                   {"gpu0.vsync-mode": 0, "gpu0.aa-mode": -1, "gpu0.boost": 0, "afmf": 0},
                   {"SIM_ADLX_ABSENT": "gpu0.fsr", "SIM_ADLX_UNSUPPORTED": "rsr,gpu0.chill"}),
    ]
    if full:
        machines.append(AmdMachine("1 GPU, no extended services", 1, "-3", None,
                                   {"SIM_ADLX_MISSING_SERVICES": "1,3"}))
        # One id for both: the second GPU's own values must survive every round trip.
        machines.append(AmdMachine(
            "2 GPUs sharing one id", 2, "4,4",
            {"gpu1.aa-mode": 2, "gpu1.chill": 0, "gpu1.vsync-mode": -1, "gpu1.boost": 0,
             "gpu1.enhanced-sync": 0, "gpu0.mlaa": 0},
            fault_calls=["At", "UniqueId", "IsSupported", "read"]))
    return machines


def amd_fault_subject(line):
    """(call, target) a fault rule uses for one log line; None for a line no fault names."""
    words = line.split(" ")
    name = words[0]
    if name in AMD_ENTRY_CALLS:
        return AMD_ENTRY_CALLS[name], None
    if name.startswith("ADLXInitialize"):
        return "Initialize", name
    if name == "At" and len(words) > 2:
        return "At", words[2]
    if name == "QueryInterface" and len(words) > 2:
        return "QueryInterface", words[2][-1]
    if name in AMD_SUBJECT_CALLS and len(words) > 1:
        return name, words[1].split("#", 1)[0]
    return None


class AmdWorld(WorldBase):
    def __init__(self, directory, machine):
        super().__init__(directory, machine, "adlx.log")
        self.write_values(machine.values)
        self.last_fault = None

    def write_values(self, values):
        self.state.write_bytes("".join("%s=%d\n" % item for item in values.items())
                              .encode("ascii"))

    def run(self, args, faults=None):
        if self.log.exists():
            self.log.unlink()
        env = {"SIM_ADLX_GPUS": self.machine.gpus, "SIM_ADLX_IDS": self.machine.ids,
               "SIM_ADLX_STATE": wine.winpath(self.state), "SIM_ADLX_LOG": wine.winpath(self.log)}
        env.update(self.machine.extra)
        if faults:
            env["SIM_ADLX_FAULTS"] = faults
        self.last_fault = faults
        args = [wine.winpath(self.backup) if a == "BACKUP" else a for a in args]
        out, code = run_program(AMD_EXE, args, env, self.log)
        return out, code

    def log_lines(self):
        return self.log.read_text("latin-1").splitlines() if self.log.exists() else []

    def calls(self):
        """The calls of the last run that a fault rule can name, in order."""
        return [l for l in self.log_lines() if amd_fault_subject(l) is not None]

    def fault_fired(self, rule):
        lines = self.log_lines()
        if any(l.startswith("CRASH ") for l in lines):
            return True
        m = re.fullmatch(r"(\w+)(?::(\S+))?@(\d+)=.*", rule)
        call, target, n = m.group(1), m.group(2), int(m.group(3))
        seen = 0
        for line in lines:
            if amd_fault_subject(line) == (call, target):
                seen += 1
                if seen == n:
                    code = re.match(r"-?\d+", rule.rsplit("=", 1)[1])
                    return code is not None and \
                        line.rsplit(" -> ", 1)[-1].split(" ")[0] == code.group(0)
        return False

    def changed_anything(self):
        return any(re.match(r"Set(Enabled|Mode) .* -> [012]( |$)", l) for l in self.log_lines())

    def snapshot(self):
        """Every setting's value: the state file over the starting values."""
        values = dict(self.machine.values)
        if self.state.exists():
            for raw in self.state.read_text("latin-1").splitlines():
                if "=" in raw:
                    key, value = raw.split("=", 1)
                    values[key] = int(value)
        return values

    def state_now(self):
        return self.snapshot()

    def backup_now(self):
        """The backup's entries but the header; None when there is no file."""
        if not self.backup.exists():
            return None
        entries = {}
        for raw in self.backup.read_bytes().decode("latin-1").splitlines():
            if "=" in raw:
                key, value = raw.split("=", 1)
                entries[key] = value
        entries.pop("format", None)
        entries.pop("vendor", None)
        return entries

    def user_change(self, ref, value):
        """The user changes one setting in the driver's panel."""
        values = self.snapshot()
        values[ref] = value
        self.write_values(values)

    def check_clean(self, expected_bytes=None, expected_values=None):
        """The settings equal `expected_values` (a snapshot, ref -> value) and no backup
        file is left. The state file's bytes are not compared: the runtime rewrites it
        in an order of its own."""
        expected_bytes = expected_values if expected_values is not None else expected_bytes
        now = self.snapshot()
        check(now == expected_bytes, "settings after restore differ from before the first "
              "apply: %s" % "; ".join("%s %s -> %s" % (k, expected_bytes.get(k), now.get(k))
                                      for k in sorted(set(now) | set(expected_bytes))
                                      if now.get(k) != expected_bytes.get(k)))
        self.check_files_gone()


class Amd:
    name = "amd"
    failing_status = AMD_FAILING
    short_points = 6  # of about 120 calls per command; the full campaign takes them all
    machines = staticmethod(amd_machines)
    World = AmdWorld
    commands = ["apply gamer", "apply competitivo", "apply extremo", "restore after an apply"]

    @staticmethod
    def available():
        return AMD_EXE.is_file() and AMD_DLL.is_file()

    @staticmethod
    def install():
        wine.install_dll(AMD_DLL, "amdadlx64.dll")

    @staticmethod
    def fault_rule(calls, k, outcome):
        """The k-th nameable call of the baseline run, as a rule of its own: the runtime
        has no "k-th call of the process" form, so name the call and its occurrence."""
        subject = amd_fault_subject(calls[k - 1])
        n = sum(1 for l in calls[:k] if amd_fault_subject(l) == subject)
        target = subject[0] + (":" + subject[1] if subject[1] is not None else "")
        return "%s@%d=%s" % (target, n, "crash" if outcome == "exit" else outcome)


# --------------------------------------------------------------------------------------
# Campaign 1: every driver call fails / the process is killed at call k

def command_args(command):
    if command.startswith("apply"):
        return ["apply", command.split()[1], "BACKUP"]
    return ["restore", "BACKUP"]


def prepare(vendor, directory, machine, command):
    """A fresh world ready for `command`; a restore is preceded by a clean apply extremo."""
    world = vendor.World(directory, machine)
    world.first = world.snapshot()  # the state before the first apply
    if command.startswith("restore"):
        out, code = world.run(["apply", "extremo", "BACKUP"])
        check(parse_result(out, code, False)[0] in ("ok", "error"), "setting-up apply failed")
        check(world.backup.exists(), "setting-up apply left no backup")
    return world


def call_points(world, short, most):
    """The k to try: every call in full mode; in short mode the first and last call of
    each run of equal function names (the edges where one step hands over to the next)."""
    names = [l.split(" ", 1)[0] for l in world.calls()]
    if not short:
        return list(range(1, len(names) + 1))
    points = set()
    for i, name in enumerate(names):
        if i == 0 or names[i - 1] != name or i == len(names) - 1 or names[i + 1] != name:
            points.add(i + 1)
    points = sorted(points)
    if len(points) > most:
        # A long run of interleaved calls (one setting after another) has edges everywhere;
        # an even sample of them, with the last call, keeps the short campaign short.
        step = -(-len(points) // most)
        points = sorted(set(points[::step]) | {points[-1]})
    return points


def fault_case(vendor, directory, machine, command, rule, outcome):
    """One case; raises Broken with the reason when an invariant does not hold."""
    world = prepare(vendor, directory, machine, command)
    before_run = world.snapshot()
    out, code = world.run(command_args(command), faults=rule)
    check(world.fault_fired(rule), "the fault %s did not fire (calls differ from the count)" % rule)
    result = parse_result(out, code, killed_allowed=(outcome == "exit"))
    if outcome == "exit":
        check(code == KILLED, "the process was not killed (exit %d)" % code)
    if not world.changed_anything():
        check(world.snapshot() == before_run,
              "a run that changed nothing left the driver state changed")
    if result and result[0] == "ok" and command.startswith("restore"):
        check(world.snapshot() == world.first and not world.backup.exists(),
              "restore said ok but the state or the backup is not back")
    if result and result[0] == "nothing":
        check(not command.startswith("restore"), "restore said nothing with a backup there")
    world.restore_until_done()
    world.check_clean(expected_bytes=world.first)
    return world


def run_fault_campaigns(vendor, short, table, breaks):
    root = WORK / vendor.name / "faults"
    for command in vendor.commands:
        rows = {}
        for outcome, title in ((vendor.failing_status, "every driver call fails"),
                               ("exit", "process killed at call k")):
            rows[outcome] = table.row("%s: %s: %s" % (vendor.name, title, command))
        for machine in vendor.machines(full=not short):
            directory = root / "case"
            try:
                baseline = prepare(vendor, directory, machine, command)
                out, code = baseline.run(command_args(command))
                parse_result(out, code, killed_allowed=False)
            except Broken as error:
                breaks.append("%s / %s / no fault: %s" % (machine.name, command, error))
                continue
            points = call_points(baseline, short, vendor.short_points)
            calls = baseline.calls()
            for outcome, row in rows.items():
                for k in points:
                    row.cases += 1
                    rule = vendor.fault_rule(calls, k, outcome)
                    label = "%s / %s / machine %r / fault %s" % (
                        vendor.name, command, machine.name, rule)
                    try:
                        fault_case(vendor, directory, machine, command, rule, outcome)
                    except Broken as error:
                        row.broken += 1
                        breaks.append(label + ": " + str(error))
                    except NotStarted:
                        raise
                    except Exception as error:  # a harness failure still counts, loudly
                        row.broken += 1
                        breaks.append(label + ": campaign error " + repr(error))


# --------------------------------------------------------------------------------------
# Campaign 2: random round trips against a model of the driver and the backup

class NvModel:
    """What the profile and the backup must be.

    `state`: id -> value of the base profile. `backup`: None (no file) or id -> original
    (a value, or MISSING). The backup holds, for every setting an apply ever recorded, the
    value from before the first apply that recorded it; a user change in the panel changes
    only `state`, so a later restore puts the recorded value back over the user's change,
    while a setting never recorded keeps whatever the user set."""

    def __init__(self, machine):
        self.machine = machine
        self.state = dict(machine.settings)
        self.backup = None

    def typed_now(self, sid):
        return sid in self.machine.types and sid in self.state

    def after_restore(self):
        """The state a complete restore must leave."""
        state = dict(self.state)
        for sid, value in (self.backup or {}).items():
            if value is MISSING:
                state.pop(sid, None)
            else:
                state[sid] = value
        return state

    def apply(self, preset):
        """Exact effect of a run without faults: (exit, kind, supported, changed)."""
        ids = NV_PRESET_IDS[preset]
        backup = dict(self.backup or {})
        writable = []
        for sid in ids:
            if sid in backup:
                writable.append(sid)
            elif not self.typed_now(sid):
                # A setting without a value of its own is recorded as "missing".
                backup[sid] = self.state.get(sid, MISSING)
                writable.append(sid)
        if not writable:
            return 20, "error", 0, 0
        self.backup = backup
        for sid in writable:
            self.state[sid] = NV_PRESET_VALUE[sid]
        failed = len(ids) - len(writable)
        return (21 if failed else 0), ("error" if failed else "ok"), len(writable), len(writable)

    def restore(self):
        if self.backup is None:
            return 0, "nothing", 0, 0
        count = len(self.backup)
        self.state = self.after_restore()
        self.backup = None
        return 0, "ok", count, count

    def check_faulty_apply(self, preset, state, backup):
        """What any apply may do, however it ended: add originals of this preset's settings
        as they stood before the run (never replace one), and change only settings of the
        preset, only to the preset's value, and only once their original is on disk."""
        ids = NV_PRESET_IDS[preset]
        if self.backup is not None:
            check(backup is not None, "apply removed the backup")
            for sid, value in self.backup.items():
                check(backup.get(sid, "gone") == value,
                      "apply replaced or dropped the recorded original of 0x%08X" % sid)
        for sid, value in (backup or {}).items():
            if self.backup is None or sid not in self.backup:
                check(sid in ids, "apply recorded 0x%08X, not in the preset" % sid)
                check(not self.typed_now(sid), "apply recorded typed setting 0x%08X" % sid)
                check(value == self.state.get(sid, MISSING),
                      "apply recorded 0x%08X as %s, but it was %s" % (
                          sid, fmt(value), fmt(self.state.get(sid, MISSING))))
        for sid in set(state) | set(self.state):
            if state.get(sid) != self.state.get(sid):
                check(sid in ids and state.get(sid) == NV_PRESET_VALUE[sid],
                      "apply changed 0x%08X to %s" % (sid, fmt(state.get(sid))))
                check(backup is not None and sid in backup,
                      "apply changed 0x%08X without its original on disk" % sid)

    def check_faulty_restore(self, state, backup):
        """What any restore may do: put recorded originals back, and give up the backup
        only once every one of them is back."""
        check(backup is None or backup == self.backup, "restore rewrote the backup")
        if backup is None and self.backup is not None:
            check(state == self.after_restore(), "restore removed the backup before every "
                  "setting was back: %s" % describe_difference(self.after_restore(), state))
        for sid in set(state) | set(self.state):
            if state.get(sid) != self.state.get(sid):
                check(self.backup is not None and sid in self.backup
                      and state.get(sid, MISSING) == self.backup[sid],
                      "restore changed 0x%08X to %s, not its original" % (sid, fmt(state.get(sid))))


def generate(seed, machines):
    """A sequence of steps from a seed: ("apply", preset, fault), ("restore", fault),
    ("user", id, value). A fault is None or (k, outcome)."""
    rng = random.Random(seed)
    machine = rng.choice(machines)
    steps = []
    for _ in range(rng.randint(2, 9)):
        roll = rng.random()
        if roll < 0.45:
            preset = rng.choice(sorted(NV_LEVEL))
            fault = None
            if rng.random() < 0.5:
                # 4 to open, a read and a write per setting, commit, 2 to close.
                fault = (rng.randint(1, 7 + 2 * len(NV_PRESET_IDS[preset])),
                         rng.choice(["-1", "exit"]))
            steps.append(("apply", preset, fault))
        elif roll < 0.75:
            fault = None
            if rng.random() < 0.5:
                fault = (rng.randint(1, 7 + len(NV_IDS)), rng.choice(["-1", "exit"]))
            steps.append(("restore", fault))
        else:
            sid = rng.choice(NV_IDS + NV_FOREIGN[:1])
            value = rng.choice([MISSING, 0, 1, 2, NV_PRESET_VALUE.get(sid, 0), 0xFFFFFFFF,
                                rng.getrandbits(32)])
            steps.append(("user", sid, value))
    return machine, steps


def describe_step(step):
    if step[0] == "apply":
        return "apply %s%s" % (step[1], " with *#%d=%s" % step[2] if step[2] else "")
    if step[0] == "restore":
        return "restore%s" % (" with *#%d=%s" % step[1] if step[1] else "")
    return "user sets 0x%08X to %s" % (step[1], fmt(step[2]))


def run_sequence(directory, machine, steps):
    """Runs the steps and a final restore; raises Broken at the first wrong step."""
    world = NvWorld(directory, machine)
    model = NvModel(machine)
    for number, step in enumerate(steps, 1):
        where = "step %d (%s): " % (number, describe_step(step))
        try:
            if step[0] == "user":
                world.user_change(step[1], step[2])
                if step[2] is MISSING:
                    model.state.pop(step[1], None)
                else:
                    model.state[step[1]] = step[2]
                continue
            before = world.state.read_bytes()
            fault = step[2] if step[0] == "apply" else step[1]
            args = ["apply", step[1], "BACKUP"] if step[0] == "apply" else ["restore", "BACKUP"]
            out, code = world.run(args, faults=("*#%d=%s" % fault) if fault else None)
            if fault and world.fault_fired():
                parse_result(out, code, killed_allowed=(fault[1] == "exit"))
                state, backup = world.state_now(), world.backup_now()
                if step[0] == "apply":
                    model.check_faulty_apply(step[1], state, backup)
                else:
                    model.check_faulty_restore(state, backup)
                if not world.changed_anything():
                    check(world.state.read_bytes() == before,
                          "a run that changed nothing left the driver state changed")
                model.state, model.backup = state, backup  # what actually happened, now checked
            else:
                expected = model.apply(step[1]) if step[0] == "apply" else model.restore()
                kind, supported, changed = parse_result(out, code, killed_allowed=False)
                check((code, kind, supported, changed) == expected,
                      "result exit=%d %s supported=%d changed=%d, expected exit=%d %s "
                      "supported=%d changed=%d" % ((code, kind, supported, changed) + expected))
                check(world.state_now() == model.state, "driver state: %s" %
                      describe_difference(model.state, world.state_now()))
                check(world.backup_now() == model.backup, "backup holds %r, expected %r" % (
                    world.backup_now(), model.backup))
            check(not world.tmp.exists(), "a temporary backup file is left")
        except Broken as error:
            raise Broken(where + str(error))
    try:
        expected = model.after_restore()
        world.restore_until_done()
        world.check_clean(expected_values=expected)
    except Broken as error:
        raise Broken("final restore: " + str(error))


def amd_run_sequence(directory, machine, steps):
    """The AMD counterpart of run_sequence: the same steps, faults named per call."""
    world = AmdWorld(directory, machine)
    model = amd_model.AmdModel(machine, world.snapshot())
    for number, step in enumerate(steps, 1):
        where = "step %d (%s): " % (number, amd_model.describe_step(step))
        try:
            if step[0] == "user":
                world.user_change(step[1], step[2])
                model.state[step[1]] = step[2]
                continue
            before = world.snapshot()
            rule = step[2] if step[0] == "apply" else step[1]
            args = ["apply", step[1], "BACKUP"] if step[0] == "apply" else ["restore", "BACKUP"]
            out, code = world.run(args, faults=rule)
            if rule and world.fault_fired(rule):
                parse_result(out, code, killed_allowed=rule.endswith("=crash"))
                state, backup = world.snapshot(), world.backup_now()
                problems = (model.faulty_apply_problems(step[1], state, backup)
                            if step[0] == "apply" else model.faulty_restore_problems(
                                state, backup, amd_model.unknown_gpu_fault(rule)))
                check(not problems, "; ".join(problems))
                if not world.changed_anything():
                    check(state == before, "a run that changed nothing changed %s" %
                          amd_model.describe_difference(before, state))
                model.state, model.backup = state, backup  # what actually happened, now checked
            else:
                expected = model.apply(step[1]) if step[0] == "apply" else model.restore()
                kind, supported, changed = parse_result(out, code, killed_allowed=False)
                check((code, kind, supported, changed) == expected,
                      "result exit=%d %s supported=%d changed=%d, expected exit=%d %s "
                      "supported=%d changed=%d" % ((code, kind, supported, changed) + expected))
                check(world.snapshot() == model.state, "driver state: %s" %
                      amd_model.describe_difference(model.state, world.snapshot()))
                check(world.backup_now() == model.backup, "backup holds %r, expected %r" % (
                    world.backup_now(), model.backup))
            check(not world.tmp.exists(), "a temporary backup file is left")
        except Broken as error:
            raise Broken(where + str(error))
    try:
        expected = model.after_restore()
        world.restore_until_done()
        world.check_clean(expected_values=expected)
    except Broken as error:
        raise Broken("final restore: " + str(error))


class RandomPlan:
    """What the random round trips of one vendor use."""

    def __init__(self, name, machines, generate_steps, run_steps, describe):
        self.name, self.machines = name, machines
        self.generate, self.run, self.describe = generate_steps, run_steps, describe


def random_plans():
    return {"nvidia": RandomPlan("nvidia", nv_machines(full=True), generate, run_sequence,
                                 describe_step),
            "amd": RandomPlan("amd", amd_machines(full=True), amd_model.generate,
                              amd_run_sequence, amd_model.describe_step)}


def shrink(plan, directory, machine, steps):
    """The shortest sequence (dropping steps one at a time) that still breaks."""
    current = list(steps)
    progress = True
    while progress:
        progress = False
        for i in range(len(current)):
            candidate = current[:i] + current[i + 1:]
            try:
                plan.run(directory, machine, candidate)
            except Broken:
                current = candidate
                progress = True
                break
    return current


def run_random(plan, base_seed, count, table, breaks, only_seed=None):
    row = table.row("%s: random round trips" % plan.name)
    directory = WORK / plan.name / "random"
    seeds = [only_seed] if only_seed is not None else range(base_seed, base_seed + count)
    for seed in seeds:
        machine, steps = plan.generate(seed, plan.machines)
        row.cases += 1
        try:
            plan.run(directory, machine, steps)
        except Broken as error:
            row.broken += 1
            smallest = shrink(plan, directory, machine, steps)
            try:
                plan.run(directory, machine, smallest)
                reason = str(error)
            except Broken as small_error:
                reason = str(small_error)
            breaks.append("%s random seed %d, machine %r, shortest sequence: %s\n    %s" % (
                plan.name, seed, machine.name,
                "; ".join(plan.describe(s) for s in smallest) or "(none)", reason))
        if only_seed is not None:
            print("%s seed %d, machine %r:" % (plan.name, seed, machine.name))
            for number, step in enumerate(steps, 1):
                print("  %d. %s" % (number, plan.describe(step)))


# --------------------------------------------------------------------------------------

class Table:
    class Row:
        def __init__(self, name):
            self.name, self.cases, self.broken = name, 0, 0

    def __init__(self):
        self.rows = []

    def row(self, name):
        self.rows.append(Table.Row(name))
        return self.rows[-1]

    def print(self):
        width = max([len("campaign")] + [len(r.name) for r in self.rows])
        print("%-*s  %9s  %6s" % (width, "campaign", "cases run", "broke"))
        print("%s  %s  %s" % ("-" * width, "-" * 9, "-" * 6))
        for r in self.rows:
            print("%-*s  %9d  %6d" % (width, r.name, r.cases, r.broken))


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--short", action="store_true", help="CI-sized campaign")
    parser.add_argument("--seed", type=int, help="run only the random round trip of this seed")
    parser.add_argument("--base-seed", type=int, default=1, help="first seed of the random "
                        "round trips (default 1)")
    parser.add_argument("--sequences", type=int, help="number of random round trips "
                        "(default 300, --short 20)")
    parser.add_argument("--only", choices=["faults", "random"] + sorted(ROW_MODULES),
                        help="run one campaign only")
    parser.add_argument("--vendor", choices=["nvidia", "amd"], help="run one vendor only")
    options = parser.parse_args()

    vendors = [v for v in (Nvidia, Amd) if v.available()]
    if options.vendor:
        vendors = [v for v in vendors if v.name == options.vendor]
    if not vendors:
        print("the programs or their simulated drivers are not built under %s" % wine.BIN,
              file=sys.stderr)
        return 2
    started = time.monotonic()
    # Two campaigns at once would empty each other's work directory mid-case and swap
    # libraries in the shared prefix; the second one waits for nothing and stops.
    WORK.parent.mkdir(parents=True, exist_ok=True)
    lock = open(str(WORK) + ".lock", "w")
    try:
        fcntl.flock(lock, fcntl.LOCK_EX | fcntl.LOCK_NB)
    except OSError:
        print("another campaign is running (%s.lock)" % WORK, file=sys.stderr)
        return 2
    wine.ensure_prefix()
    shutil.rmtree(WORK, ignore_errors=True)
    table, breaks = Table(), []
    try:
        run_campaigns(vendors, options, table, breaks)
    except NotStarted as error:
        print("campaign stopped: %s" % error, file=sys.stderr)
        table.print()
        return 2
    if options.seed is None:
        try:
            run_row_modules(options, table, breaks)
        except NotBuilt as error:
            print("campaign stopped: %s" % error, file=sys.stderr)
            table.print()
            return 2
    report(table, breaks)
    print("(%s, %.0f s%s)" % ("short" if options.short else "full", time.monotonic() - started,
                              ", %d runs repeated after Wine failed to start them" % RETRIES[0]
                              if RETRIES[0] else ""))
    return 1 if any(r.broken for r in table.rows) else 0


def run_campaigns(vendors, options, table, breaks):
    plans = random_plans()
    for vendor in vendors:
        vendor.install()
        if options.seed is not None:
            run_random(plans[vendor.name], 0, 0, table, breaks, only_seed=options.seed)
            continue
        if options.only in (None, "faults"):
            run_fault_campaigns(vendor, options.short, table, breaks)
        if options.only in (None, "random"):
            count = options.sequences if options.sequences is not None else (
                20 if options.short else 300)
            run_random(plans[vendor.name], options.base_seed, count, table, breaks)


# The other campaigns live in modules of their own, each giving finished rows:
# (name, cases run, cases broken, one description per broken case).
ROW_MODULES = {
    "files": "campaign_files",        # every file operation fails; hostile backup files
    "paths": "campaign_paths",        # hostile paths and file states under Wine
    "concurrency": "campaign_concurrency",  # many runs at once on one backup path
}


class NotBuilt(Exception):
    """A build tree a row module needs is missing."""


def run_row_modules(options, table, breaks):
    for only, module_name in ROW_MODULES.items():
        if options.only not in (None, only):
            continue
        module = importlib.import_module(module_name)
        try:
            rows = module.rows(options.short)
        except Exception as error:
            if type(error).__name__ == "NotBuilt":
                raise NotBuilt(str(error))
            raise
        for name, cases, broken, descriptions in rows:
            if options.vendor and not name.startswith((options.vendor + ":", "both:")):
                continue
            row = table.row(name)
            row.cases, row.broken = cases, broken
            breaks.extend("%s / %s" % (name, d) for d in descriptions)


def report(table, breaks):
    shown = {}
    for line in breaks:
        # A fault usually breaks many neighbouring cases the same way; the first few of each
        # row say enough, the table has the count.
        row = line.split(" / fault ")[0] if " / fault " in line else line
        row = row.rsplit(" / machine ", 1)[0]
        shown[row] = shown.get(row, 0) + 1
        if shown[row] <= 5:
            print("BROKE " + line)
        elif shown[row] == 6:
            print("BROKE %s: (more cases of this row broke; see the table)" % row)
    if breaks:
        print()
    table.print()


if __name__ == "__main__":
    sys.exit(main())
