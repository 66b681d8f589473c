"""Campaign rows: many runs of one program on one backup path at the same time.

Each round starts eight runs together (applies of every preset and restores, some paused
for a moment between reading the driver and reading the backup), waits for all of them,
then restores once more. The rounds in a folder not made yet start two runs, an apply and
another apply or a restore, on a backup whose folder is missing: the second must judge
what stands there only once it holds the lock. The promise checked: every run printed one well-formed line that
its command may give, the final restore brings the driver back exactly to where it stood
before the round, and neither the backup nor its temporary file is left. Each round is one
case. See docs/campaign.md.
"""
import random
import time

from harness import wine

from .runs import NotBuilt

RUNS_PER_ROUND = 8
ROUNDS = {True: 10, False: 50}  # short, full
NEW_FOLDER_PAIRS = [["gamer", "extremo"], ["gamer", "restore"]]
NEW_FOLDER_ROUNDS = {True: 3, False: 20}  # of each pair
# A round whose run printed nothing and never reached the driver is Wine failing to start
# it, not the program; such a round is repeated this many times before it counts.
START_ATTEMPTS = 3


class InstalledLibrary:
    """Installs a target's library for the row and afterwards puts back whatever stood in
    system32 under that name before, so later rows find the prefix as they left it."""

    def __init__(self, target):
        self.target = target
        self.path = wine.system32() / target.dll_name
        self.before = self.path.read_bytes() if self.path.exists() else None

    def __enter__(self):
        self.target.install()

    def __exit__(self, *exc):
        if self.before is None:
            self.target.uninstall()
        else:
            self.path.write_bytes(self.before)


def not_started(target, index, out, code):
    log = target.dir / ("run%d.log" % index)
    return out == b"" and code not in (0, target.killed_exit) and not log.exists()


def one_round(cr, target, seed, commands=None):
    """Problems of the round of `seed` (empty when it kept the promise); `commands` started
    together without pauses, or eight mixed ones."""
    rng = random.Random(seed)
    commands, pauses = (commands, None) if commands else cr.mixed_commands(rng, RUNS_PER_ROUND)
    pauses = pauses or [0] * len(commands)
    for attempt in range(START_ATTEMPTS):
        problems, results = cr.concurrent_round(target, commands, pauses)
        failed_start = any(not_started(target, i, out, code)
                           for i, (_, out, code) in enumerate(results))
        if not failed_start or attempt == START_ATTEMPTS - 1:
            break
        time.sleep(attempt + 1)
    if not problems:
        return []
    runs = ", ".join("%s%s" % (c, "(pause %d ms)" % p if p else "")
                     for c, p in zip(commands, pauses))
    return ["round %s [%s]: %s" % (seed, runs, "; ".join(problems))]


def rows(short):
    """Each tuple: (row name, cases run, cases broken, one description per broken case)."""
    from harness import concurrent_runs as cr  # after the caller has set wine.BIN and wine.PREFIX

    targets = [t for t in (cr.NvidiaTarget, cr.AmdTarget) if t.available()]
    if not targets:
        raise NotBuilt("no preset-nvidia.exe or preset-amd.exe with its simulated library in %s"
                       % wine.BIN)
    wine.ensure_prefix()
    table = []
    for target_class in targets:
        directory, remove = cr.new_directory("campaign-concurrency-%s-" % target_class.name)
        target = target_class(directory)
        broken = []
        try:
            with InstalledLibrary(target):
                for n in range(ROUNDS[short]):
                    broken.extend(one_round(cr, target, "%s-%d" % (target_class.name, n)))
        finally:
            remove()
        table.append(("%s: concurrent runs" % target_class.name, ROUNDS[short], len(broken),
                      broken))
        table.append(new_folder_row(cr, target_class, short))
    return table


def new_folder_row(cr, target_class, short):
    directory, remove = cr.new_directory("campaign-new-folder-%s-" % target_class.name)
    target = target_class(directory).in_new_folder()
    broken, cases = [], 0
    try:
        with InstalledLibrary(target):
            for pair in NEW_FOLDER_PAIRS:
                for n in range(NEW_FOLDER_ROUNDS[short]):
                    cases += 1
                    broken.extend(one_round(cr, target, "%s-%s-%d" % (
                        target_class.name, "-".join(pair), n), pair))
    finally:
        remove()
    return ("%s: two runs in a folder not made yet" % target_class.name, cases, len(broken),
            broken)
