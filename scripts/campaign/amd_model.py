"""What preset-amd must do to the simulated ADLX runtime's settings and to its backup.

Used by the random round trips. Pure: no Wine, no files. A ref
names one setting as the simulated runtime does ("rsr", "afmf", "gpu0.chill"); a key is
the backup file's name for it ("global.rsr", "gpu.7.chill").
"""
import re

from harness.amd import GLOBALS, MODES, PER_GPU

from .models import changed_settings, restore_backup_problems

LEVEL = {"gamer": 1, "competitivo": 2, "extremo": 3}
LOWEST_LEVEL = {"enhanced-sync": 2}  # every other row is touched from "gamer" on
SERVICE_OF = {"afmf": "1", "fsr": "3", "frame-generation": "3"}


def preset_value(name, level):
    """What a preset writes; None for a row the preset leaves alone."""
    if level < LOWEST_LEVEL.get(name, 1):
        return None
    if name == "vsync-mode":
        return 1 if level == 1 else 0
    return 0


def setting_name(ref):
    return ref.split(".", 1)[1] if ref.startswith("gpu") else ref


def is_mode(ref):
    return setting_name(ref) in MODES


def value_text(ref, value):
    if is_mode(ref):
        return str(value)
    return "1" if value != 0 else "0"


def restored_value(ref, text):
    """What restore writes for a recorded text (texts this tool wrote are always valid)."""
    if is_mode(ref):
        return int(text)
    return 1 if text == "1" else 0


def same_value(ref, a, b):
    return a == b if is_mode(ref) else (a != 0) == (b != 0)


def expand(names, gpus):
    """A list of refs in the runtime's grammar, a bare per-GPU name meaning every GPU."""
    refs = set()
    for item in filter(None, (n.strip() for n in names.split(","))):
        if item in PER_GPU:
            refs.update("gpu%d.%s" % (g, item) for g in range(gpus))
        else:
            refs.add(item)
    return refs


class Machine:
    """The runtime a sequence runs against: `gpus`, their ids, what is there at all."""

    def __init__(self, machine):
        self.gpus = machine.gpus
        self.ids = [int(i) for i in machine.ids.split(",")]
        extra = machine.extra
        self.absent = expand(extra.get("SIM_ADLX_ABSENT", ""), self.gpus)
        self.unsupported = expand(extra.get("SIM_ADLX_UNSUPPORTED", ""), self.gpus)
        missing = set(extra.get("SIM_ADLX_MISSING_SERVICES", "").split(","))
        self.absent.update(ref for ref in self.all_refs() if SERVICE_OF.get(setting_name(ref))
                           in missing)

    def all_refs(self):
        refs = list(GLOBALS)
        for gpu in range(self.gpus):
            refs.extend("gpu%d.%s" % (gpu, name) for name in PER_GPU)
        return refs

    def reachable(self, ref):
        return ref not in self.absent and ref not in self.unsupported

    def owned(self, ref):
        """False for a setting of a GPU whose id an earlier GPU of the list has: the keys
        under an id hold the first GPU's originals, so no other GPU may ever be written."""
        if not ref.startswith("gpu"):
            return True
        gpu = int(ref[3:].split(".", 1)[0])
        return self.ids.index(self.ids[gpu]) == gpu

    def key(self, ref):
        if not ref.startswith("gpu"):
            return "global." + ref
        gpu, name = ref[3:].split(".", 1)
        return "gpu.%d.%s" % (self.ids[int(gpu)], name)

    def ref_of(self, key):
        """The ref a key reaches on this machine; None for a GPU that is not there."""
        for ref in self.all_refs():
            if self.key(ref) == key:
                return ref
        return None

    def preset_refs(self, preset):
        """The refs a preset touches, in the order apply walks them."""
        return [r for r in self.all_refs()
                if preset_value(setting_name(r), LEVEL[preset]) is not None]


class AmdModel:
    """`state`: ref -> value. `backup`: None (no file) or key -> text, holding for every
    setting an apply recorded the value from before the first apply that recorded it."""

    def __init__(self, machine, values):
        self.m = Machine(machine)
        self.state = dict(values)
        self.backup = None

    def user_change(self, ref, value):
        self.state[ref] = value

    def after_restore(self):
        state = dict(self.state)
        for key, text in (self.backup or {}).items():
            ref = self.m.ref_of(key)
            if ref is not None and self.m.reachable(ref):
                state[ref] = restored_value(ref, text)
        return state

    def apply(self, preset):
        """Exact effect of a run without faults: (exit, kind, supported, changed)."""
        level = LEVEL[preset]
        backup = dict(self.backup or {})
        supported = changed = failed = 0
        for ref in self.m.preset_refs(preset):
            if not self.m.reachable(ref):
                continue
            supported += 1
            desired = preset_value(setting_name(ref), level)
            in_place = same_value(ref, self.state[ref], desired)
            if not self.m.owned(ref):
                failed += 0 if in_place else 1  # read, never recorded or written
                continue
            backup.setdefault(self.m.key(ref), value_text(ref, self.state[ref]))
            if not in_place:
                self.state[ref] = desired
                changed += 1
        if supported == 0:
            return 10, "unsupported", 0, 0
        self.backup = backup
        if failed:
            return 21, "error", supported, changed
        return 0, "ok", supported, changed

    def restore(self):
        """A key whose GPU is not in the list has not gone back: it counts as failed and
        the file stays for the GPU's return."""
        if self.backup is None:
            return 0, "nothing", 0, 0
        count = sum(1 for key in self.backup
                    if self.m.ref_of(key) is not None and self.m.reachable(self.m.ref_of(key)))
        unreached = sum(1 for key in self.backup if self.m.ref_of(key) is None)
        self.state = self.after_restore()
        if unreached:
            return 22, "error", count + unreached, count
        self.backup = None
        return 0, "ok", count, count

    def faulty_apply_problems(self, preset, state, backup):
        """What any apply may do, however it ended: add originals of this preset's settings
        as they stood before the run (never replace one), and change only settings of the
        preset, only to the preset's value, and only once their original is on disk."""
        problems = []
        refs = set(self.m.preset_refs(preset))
        if self.backup is not None:
            if backup is None:
                return ["apply removed the backup"]
            problems += ["apply replaced or dropped the recorded original of %s" % key
                         for key, text in self.backup.items() if backup.get(key) != text]
        for key, text in (backup or {}).items():
            if self.backup is not None and key in self.backup:
                continue
            ref = self.m.ref_of(key)
            if ref not in refs:
                problems.append("apply recorded %s, not in the preset" % key)
            elif text != value_text(ref, self.state[ref]):
                problems.append("apply recorded %s as %s, but it was %s" % (
                    key, text, self.state[ref]))
        for ref in changed_settings(self.state, state):
            desired = preset_value(setting_name(ref), LEVEL[preset])
            if not self.m.owned(ref):
                problems.append("apply changed %s, whose GPU repeats an earlier GPU's id" % ref)
            elif ref not in refs or state.get(ref) != desired:
                problems.append("apply changed %s to %s" % (ref, state.get(ref)))
            elif backup is None or self.m.key(ref) not in backup:
                problems.append("apply changed %s without its original on disk" % ref)
        return problems

    def faulty_restore_problems(self, state, backup, rule):
        """What any restore may do: put recorded originals back, and give up the backup
        only once every one of them is back. When the fault `rule` left a GPU of the list
        unfetched or unnamed, that GPU and every GPU after it are not written, so a
        recorded key that no GPU before it reaches keeps the file."""
        problems = restore_backup_problems(self, state, backup, describe_difference,
                                           self.unreached_keys(unknown_gpu_fault(rule)))
        for ref in changed_settings(self.state, state):
            key = self.m.key(ref)
            if not self.m.owned(ref):
                problems.append("restore changed %s, whose GPU repeats an earlier GPU's id" % ref)
            elif (self.backup is None or key not in self.backup
                    or state.get(ref) != restored_value(ref, self.backup[key])):
                problems.append("restore changed %s to %s, not its original" % (
                    ref, state.get(ref)))
        return problems


    def unreached_keys(self, first_unknown):
        """The recorded GPU keys that no GPU before index `first_unknown` reaches (None:
        every GPU of the list was fetched and named)."""
        if first_unknown is None or not self.backup:
            return []
        reached = {"gpu.%d." % i for i in self.m.ids[:first_unknown]}
        return sorted(key for key in self.backup
                      if key.startswith("gpu.") and key.rsplit(".", 1)[0] + "." not in reached)


def describe_difference(expected, actual):
    return "; ".join("%s %s -> %s" % (k, expected.get(k), actual.get(k))
                     for k in changed_settings(expected, actual))


def unknown_gpu_fault(rule):
    """The list index of the GPU that a rule, when it fires without killing the run, leaves
    unfetched or unnamed ("At:1@1=3", "UniqueId:gpu0@1=4"); None for any other rule."""
    m = re.fullmatch(r"(?:At:|UniqueId:gpu)(\d+)@\d+=(?!crash$).*", rule or "")
    return int(m.group(1)) if m else None
