"""Creates the suite's Wine prefix (the first run in a new prefix takes a few seconds)."""
import sys

import wine

if __name__ == "__main__":
    wine.ensure_prefix()
    print(f"wine prefix ready: {wine.PREFIX}")
    sys.exit(0)
