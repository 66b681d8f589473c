"""NVIDIA in the campaign: preset-nvidia against the simulated nvapi64.dll. The machines,
the work directory that runs the program and reads what it left, and the random steps."""
import random
import re

from harness import nvidia as nvidia_harness
from harness import wine

from .nvidia_model import (FOREIGN, IDS, LEVEL, MISSING, PRESET_IDS, PRESET_VALUE, NvModel,
                           describe_difference, fmt)
from .steps import Apply, Restore, UserChange
from .runs import Broken, Vendor, WorldBase, check

EXE = nvidia_harness.EXE
DLL = nvidia_harness.sim_dll()


class NvMachine:
    """A simulated machine: its base profile (id -> value) and the settings that carry a
    non-zero settingType (id -> type), which the tool cannot record."""

    def __init__(self, name, settings, types=None):
        self.name, self.settings, self.types = name, dict(settings), dict(types or {})

    def type_variable(self):
        return ",".join("0x%08X=%d" % item for item in sorted(self.types.items()))


def machines(full):
    base = {sid: (0x10 + i) for i, sid in enumerate(IDS)}
    base[0x00AC8497] = 0x00000002
    base.update({FOREIGN[0]: 0x11, FOREIGN[1]: 0xDEADBEEF})
    some_absent = {k: v for k, v in base.items() if k not in (0x0064B541, 0x00A879CF, 0x002ECAF2)}
    some_absent[0x00198FFF] = PRESET_VALUE[0x00198FFF]  # already at its preset value
    found = [
        NvMachine("all 13 present", base),
        NvMachine("3 absent", some_absent),
        NvMachine("2 typed", base, {0x00CE2691: 1, 0x0084CD70: 2}),
    ]
    if full:
        found.append(NvMachine("empty profile", {}))
    return found


def parse_state(data):
    """The e2e suite's reader of the state file, failing as a break of the campaign."""
    try:
        return nvidia_harness.parse_state(data)
    except (AssertionError, UnicodeDecodeError) as error:
        raise Broken("state file: %s" % error)


def parse_backup(data):
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


class NvWorld(WorldBase):
    """One work directory: state file, call log, backup; runs preset-nvidia against them."""

    exe = EXE

    def __init__(self, directory, machine):
        super().__init__(directory, machine, "calls.log")
        self.state.write_bytes(nvidia_harness.state_bytes(machine.settings, machine.types))

    def env(self, faults):
        env = {"SIM_NVAPI_STATE": wine.winpath(self.state),
               "SIM_NVAPI_LOG": wine.winpath(self.log)}
        if self.machine.types:
            env["SIM_NVAPI_SETTING_TYPE"] = self.machine.type_variable()
        if faults:
            env["SIM_NVAPI_FAULTS"] = faults
        return env

    def log_lines(self):
        if not self.log.exists():
            return []
        return self.log.read_bytes().decode("latin-1").split("\r\n")[:-1]

    def calls(self):
        """Driver calls of the last run; hook lines and library notes are not calls."""
        return [l for l in self.log_lines() if not l.startswith(("hook.", "sim."))]

    def fault_fired(self, rule):
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
        return parse_state(self.state.read_bytes()) if self.state.exists() else {}

    def backup_now(self):
        return parse_backup(self.backup.read_bytes()) if self.backup.exists() else None

    def user_change(self, sid, value):
        """The user changes one setting in the driver's panel: the profile changes, nothing
        else does."""
        settings = self.state_now()
        if value is MISSING:
            settings.pop(sid, None)
        else:
            settings[sid] = value
        self.state.write_bytes(nvidia_harness.state_bytes(settings, self.machine.types))

    def check_clean(self, expected_bytes=None, expected_values=None):
        if expected_bytes is not None:
            now = self.state.read_bytes()
            check(now == expected_bytes,
                  "driver state after restore differs from before the first apply: %s" % (
                      describe_difference(parse_state(expected_bytes), parse_state(now))
                      or "types %r, before %r" % (now, expected_bytes)))
        if expected_values is not None:
            now = self.state_now()
            check(now == expected_values, "driver state after restore differs: %s"
                  % describe_difference(expected_values, now))
        self.check_files_gone()


def generate(seed, machines):
    """A machine and a sequence of 2 to 9 steps from a seed; a fault is a rule of
    SIM_NVAPI_FAULTS at a random call, failing it or ending the process."""
    rng = random.Random(seed)
    machine = rng.choice(machines)
    steps = []
    for _ in range(rng.randint(2, 9)):
        roll = rng.random()
        if roll < 0.45:
            preset = rng.choice(sorted(LEVEL))
            fault = None
            if rng.random() < 0.5:
                # 4 to open, a read and a write per setting, commit, 2 to close.
                fault = "*#%d=%s" % (rng.randint(1, 7 + 2 * len(PRESET_IDS[preset])),
                                     rng.choice(["-1", "exit"]))
            steps.append(Apply(preset, fault))
        elif roll < 0.75:
            fault = None
            if rng.random() < 0.5:
                fault = "*#%d=%s" % (rng.randint(1, 7 + len(IDS)), rng.choice(["-1", "exit"]))
            steps.append(Restore(fault))
        else:
            sid = rng.choice(IDS + FOREIGN[:1])
            value = rng.choice([MISSING, 0, 1, 2, PRESET_VALUE.get(sid, 0), 0xFFFFFFFF,
                                rng.getrandbits(32)])
            steps.append(UserChange(sid, value))
    return machine, steps


class Nvidia(Vendor):
    name = "nvidia"
    exe, dll, dll_name = EXE, DLL, "nvapi64.dll"
    failing_status = "-1"
    killing_outcome = "exit"  # how a fault rule ends the process
    short_points = 30  # every edge: a command makes at most 33 calls
    machines = staticmethod(machines)
    World = NvWorld
    Model = NvModel
    generate = staticmethod(generate)
    describe_difference = staticmethod(describe_difference)

    @staticmethod
    def describe_change(sid, value):
        return "0x%08X to %s" % (sid, fmt(value))

    @staticmethod
    def fault_rule(calls, k, outcome):
        return "*#%d=%s" % (k, outcome)
