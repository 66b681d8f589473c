"""`python3 scripts/campaign [options]`: the campaign's command line (cli.py)."""
import pathlib
import sys

# Run as a folder, Python puts this folder first on sys.path; its parent goes there instead,
# so that `campaign` is this package and none of its modules shadows another module, and
# tests/ beside it, where the end-to-end harness is the package `harness`, and selftest/,
# where the kit's checks the harness builds on are the package `doccheck`.
HERE = pathlib.Path(__file__).resolve()
sys.path[0:1] = [str(HERE.parents[1]), str(HERE.parents[2] / "tests"),
                 str(HERE.parents[2] / "selftest")]
from campaign.cli import main  # noqa: E402

sys.exit(main())
