"""Campaign rows of power cuts, from the native program `tests/file_faults/power_cuts`.

For every apply and restore of the file-fault table, and two states only a cut leaves (the
backup's folders not there yet, a half-written "<backup>.tmp"), the program cuts the power
at every moment of the run under a model of what reaches the disk, checks that each
setting that differs from its original finds it in the backup, and runs the restore after
the cut. One row per program and model: cases are the distinct states a cut left, broken
those that lost an original (or whose restore gave the backup up too early).

Only the full campaign runs them. The test command already holds every change to NTFS and
to the model where a file flush forces out no names, each with a second cut; here they run
again, with the failing folder flush, as rows that break the campaign. FAT and a driver
store that writes lazily lose originals by their nature, outside anything the programs can
do: those rows are measured and shown, and never set the exit status.

    rows(short) -> [(row name, cases run, cases broken, [descriptions], gating)]
"""
import re
import subprocess

from .files import NATIVE
from .runs import NotBuilt

POWER_CUTS = NATIVE / "tests" / "file_faults" / "power_cuts"
TIMEOUT = 1800  # seconds; the full set takes a few minutes on a loaded machine

# (arguments, gating)
RUNS = [
    (["--model", "ntfs", "--model", "names", "--model", "flush-fails", "--second-cut"], True),
    (["--model", "fat", "--model", "lazy-driver"], False),
]

TOTAL = re.compile(r"^(?P<name>\S.*) states=(?P<states>\d+) lost=(?P<lost>\d+) "
                   r"broken=(?P<broken>\d+)$")


def parse(out, gating):
    """Rows from the program's output: a total line per program and model, then an
    indented line per broken state it shows."""
    rows = []
    for line in out.splitlines():
        match = TOTAL.match(line)
        if match:
            lost = int(match.group("lost"))
            rows.append([match.group("name"), int(match.group("states")),
                         int(match.group("broken")),
                         ["%d originals lost in all" % lost] if lost else [], gating])
        elif line.startswith("  ") and not line.startswith("    ") and rows:
            rows[-1][3].append(line.strip())
    return rows


def run(arguments, gating):
    try:
        done = subprocess.run([str(POWER_CUTS)] + arguments, capture_output=True, text=True,
                              timeout=TIMEOUT)
        out, err, code = done.stdout, done.stderr, done.returncode
    except subprocess.TimeoutExpired as timeout:
        out = timeout.stdout.decode() if isinstance(timeout.stdout, bytes) else (timeout.stdout or "")
        err, code = "timed out after %d s" % TIMEOUT, None
    rows = parse(out, gating)
    broken = sum(row[2] for row in rows)
    # Exit 0 when nothing broke, 1 when something did; anything else (a sanitizer report, a
    # crash, a hang) breaks the campaign, whichever models ran.
    if code not in (0, 1) or (code == 1) != (broken > 0):
        tail = " | ".join(err.strip().splitlines()[-5:])
        rows.append(["both: power cuts: the explorer program", 1, 1,
                     ["%s %s ended with %s after %d rows: %s" % (
                         POWER_CUTS, " ".join(arguments), code, len(rows), tail or "no message")],
                     True])
    return [tuple(row) for row in rows]


def rows(short):
    if short:
        return []
    if not POWER_CUTS.is_file():
        raise NotBuilt("not built: %s (cmake --build --preset native --target power_cuts, or "
                       "set CAMPAIGN_NATIVE_BUILD)" % POWER_CUTS)
    found = []
    for arguments, gating in RUNS:
        found.extend(run(arguments, gating))
    return found
