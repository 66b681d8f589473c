"""AMD in the campaign: preset-amd against the simulated ADLX runtime. The machines, the
work directory that runs the program and reads what it left, and the random steps."""
import random
import re

from harness import amd as amd_harness
from harness import wine

from .amd_model import (GLOBALS, LEVEL, MODES, PER_GPU, AmdModel, Machine, describe_difference,
                        is_mode)
from .runs import Vendor, WorldBase, check
from .steps import Apply, Restore, UserChange

EXE = amd_harness.EXE
DLL = amd_harness.sim_dll()
# Log words of the calls a fault can name, and how the fault names them.
ENTRY_CALLS = {"ADLXQueryFullVersion": "QueryFullVersion", "ADLXQueryVersion": "QueryVersion",
               "ADLXTerminate": "Terminate", "GetGPUs": "GetGPUs",
               "Get3DSettingsServices": "Get3DSettingsServices"}
SUBJECT_CALLS = {"Get", "IsSupported", "IsEnabled", "GetMode", "SetEnabled", "SetMode",
                 "UniqueId"}


class AmdMachine:
    """GPUs with ids, starting values (ref -> number) and the runtime's other knobs;
    `fault_calls` narrows the random round trips' faults to those calls."""

    def __init__(self, name, gpus, ids, values=None, extra=None, fault_calls=None):
        self.name, self.gpus, self.ids = name, gpus, ids
        self.fault_calls = fault_calls
        self.values = {}
        for ref in GLOBALS:
            self.values[ref] = 1
        for gpu in range(gpus):
            for setting in PER_GPU:
                self.values["gpu%d.%s" % (gpu, setting)] = 3 if setting in MODES else 1
        self.values.update(values or {})
        self.extra = dict(extra or {})


def machines(full):
    found = [
        AmdMachine("2 GPUs", 2, "7,-2"),
        AmdMachine("1 GPU, some absent or unsupported", 1, "5",
                   {"gpu0.vsync-mode": 0, "gpu0.aa-mode": -1, "gpu0.boost": 0, "afmf": 0},
                   {"SIM_ADLX_ABSENT": "gpu0.fsr", "SIM_ADLX_UNSUPPORTED": "rsr,gpu0.chill"}),
    ]
    if full:
        found.append(AmdMachine("1 GPU, no extended services", 1, "-3", None,
                                   {"SIM_ADLX_MISSING_SERVICES": "1,3"}))
        # One id for both: the second GPU's own values must survive every round trip.
        found.append(AmdMachine(
            "2 GPUs sharing one id", 2, "4,4",
            {"gpu1.aa-mode": 2, "gpu1.chill": 0, "gpu1.vsync-mode": -1, "gpu1.boost": 0,
             "gpu1.enhanced-sync": 0, "gpu0.mlaa": 0},
            fault_calls=["At", "UniqueId", "IsSupported", "read"]))
    return found


def fault_subject(line):
    """(call, target) a fault rule uses for one log line; None for a line no fault names."""
    words = line.split(" ")
    name = words[0]
    if name in ENTRY_CALLS:
        return ENTRY_CALLS[name], None
    if name.startswith("ADLXInitialize"):
        return "Initialize", name
    if name == "At" and len(words) > 2:
        return "At", words[2]
    if name == "QueryInterface" and len(words) > 2:
        return "QueryInterface", words[2][-1]
    if name in SUBJECT_CALLS and len(words) > 1:
        return name, words[1].split("#", 1)[0]
    return None


class AmdWorld(WorldBase):
    """One work directory: state file, call log, backup; runs preset-amd against them."""

    exe = EXE

    def __init__(self, directory, machine):
        super().__init__(directory, machine, "adlx.log")
        self.write_values(machine.values)

    def write_values(self, values):
        self.state.write_bytes("".join("%s=%d\n" % item for item in values.items())
                              .encode("ascii"))

    def env(self, faults):
        env = {"SIM_ADLX_GPUS": self.machine.gpus, "SIM_ADLX_IDS": self.machine.ids,
               "SIM_ADLX_STATE": wine.winpath(self.state), "SIM_ADLX_LOG": wine.winpath(self.log)}
        env.update(self.machine.extra)
        if faults:
            env["SIM_ADLX_FAULTS"] = faults
        return env

    def log_lines(self):
        return self.log.read_text("latin-1").splitlines() if self.log.exists() else []

    def calls(self):
        """The calls of the last run that a fault rule can name, in order."""
        return [l for l in self.log_lines() if fault_subject(l) is not None]

    def fault_fired(self, rule):
        lines = self.log_lines()
        if any(l.startswith("CRASH ") for l in lines):
            return True
        m = re.fullmatch(r"(\w+)(?::(\S+))?@(\d+)=.*", rule)
        call, target, n = m.group(1), m.group(2), int(m.group(3))
        seen = 0
        for line in lines:
            if fault_subject(line) == (call, target):
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
              "apply: %s" % describe_difference(expected_bytes, now))
        self.check_files_gone()


def random_fault(rng, machine):
    """A rule naming one call the runs make (if the named call is not made, the step
    runs without a fault and is checked exactly). A machine with `fault_calls` gets its
    faults only at those calls ("read" for IsEnabled or GetMode)."""
    m = Machine(machine)
    if getattr(machine, "fault_calls", None):
        return chosen_fault(rng, m, rng.choice(machine.fault_calls))
    ref = rng.choice(m.all_refs())
    read, write = ("GetMode", "SetMode") if is_mode(ref) else ("IsEnabled", "SetEnabled")
    call = rng.choice(["Get", "IsSupported", read, write, write, write])
    subject = "%s:%s" % (call, ref)
    roll = rng.random()
    if roll < 0.1:
        subject = "At:%d" % rng.randrange(m.gpus)
    elif roll < 0.2:
        subject = "UniqueId:gpu%d" % rng.randrange(m.gpus)
    elif roll < 0.25:
        subject = "QueryInterface:%s" % rng.choice("13")
    action = rng.choice(["3", "crash", "4", "3+out"])
    return "%s@1=%s" % (subject, action)


def chosen_fault(rng, m, call):
    if call == "At":
        subject = "At:%d" % rng.randrange(m.gpus)
    elif call == "UniqueId":
        subject = "UniqueId:gpu%d" % rng.randrange(m.gpus)
    else:
        ref = rng.choice(m.all_refs())
        if call == "read":
            call = "GetMode" if is_mode(ref) else "IsEnabled"
        subject = "%s:%s" % (call, ref)
    return "%s@1=%s" % (subject, rng.choice(["3", "crash", "4", "3+out"]))


def generate(seed, machines):
    """A machine and a sequence of 2 to 9 steps from a seed; a fault is a rule naming one
    call (random_fault)."""
    rng = random.Random(seed)
    machine = rng.choice(machines)
    refs = [r for r in Machine(machine).all_refs() if r not in Machine(machine).absent]
    steps = []
    for _ in range(rng.randint(2, 9)):
        roll = rng.random()
        if roll < 0.45:
            rule = random_fault(rng, machine) if rng.random() < 0.5 else None
            steps.append(Apply(rng.choice(sorted(LEVEL)), rule))
        elif roll < 0.75:
            rule = random_fault(rng, machine) if rng.random() < 0.5 else None
            steps.append(Restore(rule))
        else:
            ref = rng.choice(refs)
            value = rng.choice([-1, 0, 1, 2, 3, 5]) if is_mode(ref) else rng.choice([0, 1])
            steps.append(UserChange(ref, value))
    return machine, steps


class Amd(Vendor):
    name = "amd"
    exe, dll, dll_name = EXE, DLL, amd_harness.DLL_NAME
    failing_status = "3"
    killing_outcome = "crash"  # how a fault rule ends the process
    short_points = 6  # of about 120 calls per command; the full campaign takes them all
    machines = staticmethod(machines)
    World = AmdWorld
    Model = AmdModel
    generate = staticmethod(generate)
    describe_difference = staticmethod(describe_difference)

    @staticmethod
    def describe_change(ref, value):
        return "%s to %d" % (ref, value)

    @staticmethod
    def fault_rule(calls, k, outcome):
        """The k-th nameable call of the baseline run, as a rule of its own: the runtime
        has no "k-th call of the process" form, so name the call and its occurrence."""
        subject = fault_subject(calls[k - 1])
        n = sum(1 for l in calls[:k] if fault_subject(l) == subject)
        target = subject[0] + (":" + subject[1] if subject[1] is not None else "")
        return "%s@%d=%s" % (target, n, "crash" if outcome == "exit" else outcome)
