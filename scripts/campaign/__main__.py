"""`python3 scripts/campaign [options]`: the campaign's command line (cli.py)."""
import pathlib
import sys

# Run as a folder, Python puts this folder first on sys.path; its parent goes there instead,
# so that `campaign` is this package and none of its modules shadows another module.
sys.path[0] = str(pathlib.Path(__file__).resolve().parents[1])
from campaign.cli import main  # noqa: E402

sys.exit(main())
