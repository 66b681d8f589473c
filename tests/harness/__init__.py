"""The end-to-end harness: the Windows programs under Wine (wine), each program with its
simulated driver (nvidia, amd), the hostile-path table (hostile_paths) and runs at once on
one backup path (concurrent_runs). The end-to-end tests in tests/e2e and the restore
campaign in scripts/campaign import it as the package `harness`, with tests/ on PYTHONPATH,
and selftest/ beside it: the harness takes what it does the same way as the kit's own
checks from their package `doccheck` (never the other way round: the kit ships without
the harness). ctest sets it for every test, the campaign's __main__ for the campaign.
"""
