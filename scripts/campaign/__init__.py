"""A campaign that tries to leave the driver changed with no way back.

It drives the real Windows programs under Wine against the simulated driver libraries and
checks one promise after every run: whatever happened to a run (a failing driver call, the
process killed mid-way, the user changing settings in the driver's panel between runs),
restore brings every setting back to what it was before the first apply and leaves no
backup or temporary file behind; and a run that changed nothing leaves the driver as it
found it.

`python3 scripts/campaign [--short] ...` prints one table: campaign, cases run, cases that
broke an invariant. Exit status 1 when any case broke, 0 otherwise; rows that only measure
(marked so in the table) never set it. See docs/campaign.md.

Python 3 standard library only. It runs the programs through the end-to-end tests' harness
(the package `harness` in tests/: wine, the vendors' harnesses, hostile_paths,
concurrent_runs), which __main__ puts on the path.
"""
import pathlib

REPO = pathlib.Path(__file__).resolve().parents[2]
