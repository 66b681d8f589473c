"""What preset-nvidia must do to the simulated driver's base profile and to its backup.

Used by the random round trips. Pure: no Wine, no files. The table is the end-to-end
tests' literal one (nvidia_harness), not the product's: the campaign checks the product
against what a front-end is told, not against itself.
"""
from harness import nvidia as nvidia_harness

from .models import changed_settings, restore_backup_problems

# The 13 managed settings, from the table of (id, preset value, lowest level that writes it).
IDS = nvidia_harness.ALL_IDS
PRESET_VALUE = nvidia_harness.PRESET_VALUE
LEVEL = {"gamer": 1, "competitivo": 2, "extremo": 3}
PRESET_IDS = {name: [sid for sid, _, lowest in nvidia_harness.TABLE if lowest <= level]
              for name, level in LEVEL.items()}
FOREIGN = [nvidia_harness.FOREIGN_ID, 0x00000001]  # settings the tool never manages
MISSING = None  # a backup entry "missing" / a setting the profile has no value for


def fmt(value):
    return "no value" if value is MISSING else "0x%08X" % value


def describe_difference(expected, actual):
    return "; ".join("0x%08X expected %s got %s" % (sid, fmt(expected.get(sid)),
                                                    fmt(actual.get(sid)))
                     for sid in changed_settings(expected, actual))


class NvModel:
    """What the profile and the backup must be.

    `state`: id -> value of the base profile. `backup`: None (no file) or id -> original
    (a value, or MISSING). The backup holds, for every setting an apply ever recorded, the
    value from before the first apply that recorded it; a user change in the panel changes
    only `state`, so a later restore puts the recorded value back over the user's change,
    while a setting never recorded keeps whatever the user set."""

    def __init__(self, machine, state):
        self.machine = machine
        self.state = dict(state)
        self.backup = None

    def typed_now(self, sid):
        return sid in self.machine.types and sid in self.state

    def user_change(self, sid, value):
        if value is MISSING:
            self.state.pop(sid, None)
        else:
            self.state[sid] = value

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
        ids = PRESET_IDS[preset]
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
            self.state[sid] = PRESET_VALUE[sid]
        failed = len(ids) - len(writable)
        return (21 if failed else 0), ("error" if failed else "ok"), len(writable), len(writable)

    def restore(self):
        if self.backup is None:
            return 0, "nothing", 0, 0
        count = len(self.backup)
        self.state = self.after_restore()
        self.backup = None
        return 0, "ok", count, count

    def faulty_apply_problems(self, preset, state, backup):
        """What any apply may do, however it ended: add originals of this preset's settings
        as they stood before the run (never replace one), and change only settings of the
        preset, only to the preset's value, and only once their original is on disk."""
        ids = PRESET_IDS[preset]
        problems = []
        if self.backup is not None:
            if backup is None:
                return ["apply removed the backup"]
            problems += ["apply replaced or dropped the recorded original of 0x%08X" % sid
                         for sid, value in self.backup.items() if backup.get(sid, "gone") != value]
        for sid, value in (backup or {}).items():
            if self.backup is not None and sid in self.backup:
                continue
            if sid not in ids:
                problems.append("apply recorded 0x%08X, not in the preset" % sid)
            elif self.typed_now(sid):
                problems.append("apply recorded typed setting 0x%08X" % sid)
            elif value != self.state.get(sid, MISSING):
                problems.append("apply recorded 0x%08X as %s, but it was %s" % (
                    sid, fmt(value), fmt(self.state.get(sid, MISSING))))
        for sid in changed_settings(self.state, state):
            if sid not in ids or state.get(sid) != PRESET_VALUE[sid]:
                problems.append("apply changed 0x%08X to %s" % (sid, fmt(state.get(sid))))
            elif backup is None or sid not in backup:
                problems.append("apply changed 0x%08X without its original on disk" % sid)
        return problems

    def faulty_restore_problems(self, state, backup, rule):
        """What any restore may do: put recorded originals back, and give up the backup
        only once every one of them is back. Every fault `rule` allows the same."""
        problems = restore_backup_problems(self, state, backup, describe_difference)
        for sid in changed_settings(self.state, state):
            if (self.backup is None or sid not in self.backup
                    or state.get(sid, MISSING) != self.backup[sid]):
                problems.append("restore changed 0x%08X to %s, not its original" % (
                    sid, fmt(state.get(sid))))
        return problems
