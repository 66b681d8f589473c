"""The campaign's command line: which campaigns and vendors run, one table of their rows,
the broken cases above it, and the exit status."""
import argparse
import fcntl
import shutil
import sys
import time

from harness import wine

from . import __doc__ as DOC
from . import concurrency, files, paths, power
from .amd import Amd
from .call_faults import run_fault_campaigns
from .nvidia import Nvidia
from .round_trips import run_random
from .runs import PREFIX, RETRIES, WORK, NotBuilt, NotStarted

VENDORS = [Nvidia, Amd]
MEASURED = "MEASURED "  # before the description of a row that does not gate
# The other campaigns live in modules of their own, each giving finished rows:
# (name, cases run, cases broken, one description per broken case[, gating]). A row whose
# gating is False is a measurement: shown in the table, never setting the exit status.
ROW_MODULES = {
    "files": files,              # every file operation fails; hostile backup files
    "paths": paths,              # hostile paths and file states under Wine
    "concurrency": concurrency,  # many runs at once on one backup path
    "power": power,              # power cuts under models of the disk (full campaign only)
}


class Table:
    class Row:
        def __init__(self, name, gating=True):
            self.name, self.cases, self.broken, self.gating = name, 0, 0, gating

    def __init__(self):
        self.rows = []

    def row(self, name, gating=True):
        self.rows.append(Table.Row(name, gating))
        return self.rows[-1]

    def print(self):
        width = max([len("campaign")] + [len(r.name) for r in self.rows])
        print("%-*s  %9s  %6s" % (width, "campaign", "cases run", "broke"))
        print("%s  %s  %s" % ("-" * width, "-" * 9, "-" * 6))
        for r in self.rows:
            print("%-*s  %9d  %6d%s" % (width, r.name, r.cases, r.broken,
                                        "" if r.gating else "  (measured, not gating)"))


def main():
    parser = argparse.ArgumentParser(description=DOC.split("\n\n")[0])
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

    wine.PREFIX = PREFIX
    vendors = [v for v in VENDORS if v.available()]
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
    return 1 if any(r.broken for r in table.rows if r.gating) else 0


def run_campaigns(vendors, options, table, breaks):
    for vendor in vendors:
        vendor.install()
        if options.seed is not None:
            run_random(vendor, 0, 0, table, breaks, only_seed=options.seed)
            continue
        if options.only in (None, "faults"):
            run_fault_campaigns(vendor, options.short, table, breaks)
        if options.only in (None, "random"):
            count = options.sequences if options.sequences is not None else (
                20 if options.short else 300)
            run_random(vendor, options.base_seed, count, table, breaks)


def run_row_modules(options, table, breaks):
    for only, module in ROW_MODULES.items():
        if options.only not in (None, only):
            continue
        for name, cases, broken, descriptions, *gating in module.rows(options.short):
            if options.vendor and not name.startswith((options.vendor + ":", "both:")):
                continue
            row = table.row(name, gating[0] if gating else True)
            row.cases, row.broken = cases, broken
            mark = "" if row.gating else MEASURED
            breaks.extend("%s%s / %s" % (mark, name, d) for d in descriptions)


def report(table, breaks):
    shown = {}
    for line in breaks:
        # A measured row's losses are what its model does, not a break.
        word = "BROKE "
        if line.startswith(MEASURED):
            word, line = "LOST (measured) ", line[len(MEASURED):]
        # A fault usually breaks many neighbouring cases the same way; the first few of each
        # row say enough, the table has the count.
        row = line.split(" / fault ")[0] if " / fault " in line else line
        row = row.rsplit(" / machine ", 1)[0]
        shown[row] = shown.get(row, 0) + 1
        if shown[row] <= 5:
            print(word + line)
        elif shown[row] == 6:
            print("%s%s: (more cases of this row broke; see the table)" % (word, row))
    if breaks:
        print()
    table.print()
