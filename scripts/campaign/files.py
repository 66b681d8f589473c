"""Campaign rows for the backup file: every file operation failing, and hostile input.

Two kinds of rows:

- "<vendor>: every file operation fails: <command>", from the native program
  `tests/file_faults/file_faults` (built in the native tree). For each command it runs the
  product's apply or restore against the fake driver and the fault-injecting file system,
  first without a fault, then once with each file operation failing (each write also cut
  short), and checks the backup after every operation, the result line, the driver, and
  that a restore without faults then finishes the job.
- "both: hostile backup files: <target>", one per libFuzzer target of the fuzz tree: the
  target runs for a bounded time over its seed corpus; cases are the inputs executed,
  broken the crashes found. A crashing input is copied into the target's seed corpus under
  tests/fuzz/corpus, so that every later run (and ctest) replays it.

The trees default to build/native and build/fuzz; CAMPAIGN_NATIVE_BUILD and
CAMPAIGN_FUZZ_BUILD point elsewhere. A tree that is not built raises NotBuilt, whose
message says what to build.
"""
import os
import pathlib
import re
import shutil
import subprocess
import tempfile
from concurrent.futures import ThreadPoolExecutor

from . import REPO
from .runs import NotBuilt

NATIVE = pathlib.Path(os.environ.get("CAMPAIGN_NATIVE_BUILD", REPO / "build" / "native"))
FUZZ = pathlib.Path(os.environ.get("CAMPAIGN_FUZZ_BUILD", REPO / "build" / "fuzz"))
FILE_FAULTS = NATIVE / "tests" / "file_faults" / "file_faults"

# Each fuzz target: its seed corpus under tests/fuzz/corpus, the corpus it grows in its
# build tree, and the longest input worth trying (as in tests/fuzz/CMakeLists.txt).
FUZZ_TARGETS = [
    ("fuzz_backup_reader", "backup", "corpus-backup", 65536),
    ("fuzz_recorded_number", "number", "corpus-number", 64),
    ("fuzz_mode_number", "mode", "corpus-mode", 64),
]
FUZZ_SECONDS = {True: 20, False: 60}
FILE_FAULTS_TIMEOUT = 900  # seconds; the whole program takes well under a minute

ROW_LINE = re.compile(r"^(?P<name>\S.*) cases=(?P<cases>\d+) broken=(?P<broken>\d+)$")
EXECUTED = re.compile(r"^stat::number_of_executed_units:\s*(\d+)\s*$", re.M)
ARTIFACT = re.compile(r"Test unit written to (\S+)")


def check_built():
    missing = []
    if not FILE_FAULTS.is_file():
        missing.append("%s (cmake --preset native && cmake --build build/native --target "
                       "file_faults, or set CAMPAIGN_NATIVE_BUILD)" % FILE_FAULTS)
    for target, _, _, _ in FUZZ_TARGETS:
        binary = FUZZ / "tests" / "fuzz" / target
        if not binary.is_file():
            missing.append("%s (cmake --preset fuzz && cmake --build build/fuzz, or set "
                           "CAMPAIGN_FUZZ_BUILD)" % binary)
    if missing:
        raise NotBuilt("not built: " + "; ".join(missing))


def parse_file_faults(out):
    """Rows from the program's output: a row line, then an indented line per broken case."""
    rows = []
    for line in out.splitlines():
        match = ROW_LINE.match(line)
        if match:
            rows.append([match.group("name"), int(match.group("cases")),
                         int(match.group("broken")), []])
        elif line.startswith("  ") and rows:
            rows[-1][3].append(line.strip())
    return [tuple(row) for row in rows]


def file_fault_rows():
    try:
        done = subprocess.run([str(FILE_FAULTS)], capture_output=True, text=True,
                              timeout=FILE_FAULTS_TIMEOUT)
        out, err, code = done.stdout, done.stderr, done.returncode
    except subprocess.TimeoutExpired as timeout:
        out = timeout.stdout.decode() if isinstance(timeout.stdout, bytes) else (timeout.stdout or "")
        err, code = "timed out after %d s" % FILE_FAULTS_TIMEOUT, None
    rows = parse_file_faults(out)
    broken = sum(row[2] for row in rows)
    # The program exits 0 when nothing broke and 1 when something did; anything else (a
    # sanitizer report, a crash, a hang) is a break of its own, not a clean table.
    if code not in (0, 1) or (code == 1) != (broken > 0):
        tail = " | ".join(err.strip().splitlines()[-5:])
        rows.append(("both: every file operation fails: the campaign program", 1, 1,
                     ["%s ended with %s after %d rows: %s" % (
                         FILE_FAULTS, code, len(rows), tail or "no message")]))
    return rows


def keep_regression(artifact, seed_dir):
    """Copies a crashing input into the seed corpus; returns where it went."""
    destination = seed_dir / pathlib.Path(artifact).name
    shutil.copyfile(artifact, destination)
    return destination


def fuzz_row(target, seed_name, grown_name, max_len, seconds):
    binary = FUZZ / "tests" / "fuzz" / target
    seeds = REPO / "tests" / "fuzz" / "corpus" / seed_name
    grown = binary.parent / grown_name
    grown.mkdir(parents=True, exist_ok=True)
    with tempfile.TemporaryDirectory(prefix="campaign-fuzz-") as artifacts:
        command = [str(binary), "-max_total_time=%d" % seconds, "-max_len=%d" % max_len,
                   "-print_final_stats=1", "-artifact_prefix=%s/" % artifacts,
                   str(grown), str(seeds)]
        try:
            done = subprocess.run(command, capture_output=True, text=True, errors="replace",
                                  timeout=seconds * 3 + 60)
            log, code = done.stderr, done.returncode
        except subprocess.TimeoutExpired as timeout:
            log = timeout.stderr.decode(errors="replace") if isinstance(timeout.stderr, bytes) \
                else (timeout.stderr or "")
            code = None
        executed = sum(int(n) for n in EXECUTED.findall(log))
        broken = []
        for artifact in ARTIFACT.findall(log):
            kept = keep_regression(artifact, seeds)
            broken.append("%s: input kept as %s; repeat with %s %s" % (
                target, kept.relative_to(REPO), binary, kept))
        if code != 0 and not broken:
            tail = " | ".join(log.strip().splitlines()[-5:])
            broken.append("%s ended with %s and no crashing input: %s" % (target, code, tail))
    return ("both: hostile backup files: %s" % target, executed, len(broken), broken)


def rows(short):
    """Each tuple: (row name, cases run, cases broken, one description per broken case)."""
    check_built()
    found = file_fault_rows()
    # The targets run at once, each a process of its own; the rows keep the table's order.
    with ThreadPoolExecutor(len(FUZZ_TARGETS)) as pool:
        found.extend(pool.map(lambda t: fuzz_row(*t, FUZZ_SECONDS[short]), FUZZ_TARGETS))
    return found
