"""The documents' result tables as checks that run: the case list (cases.py), how each kind
of table is read (kinds.py, with tables.py and lines.py), the scenarios (scenarios.py, with
places.py for backup paths and world.py for the drivers' starting state and the files
put in place), how a scenario is played and what every run is held to (playing.py), where
(hosts.py, hosts_windows.py), and the pairing of rows with cases (checks.py). Standard
library only; selftest.py and the end-to-end tests both use it.
"""
