"""The documents' result tables as checks that run: the case list (cases.py), how each kind
of table is read (kinds.py), the scenarios and how they are played (scenarios.py), where
they are played (hosts.py, hosts_windows.py), and the pairing of rows with cases
(checks.py). Standard library only; selftest.py and the end-to-end tests both use it.
"""
