"""`python -m preset_client`: the client's command line, as the module's text describes it."""
import sys

from preset_client import main

sys.exit(main(sys.argv))
