"""Campaign rows of hostile backup paths and file states, for both programs under Wine.

Runs the case table of tests/harness/hostile_paths.py (the one the end-to-end test runs):
non-ASCII names, paths over 260 characters, relative paths, 8.3 short names, a drive that
does not exist, a directory at the backup path, a read-only backup, files held open by
another process, a backup of 2 MiB, and symbolic and hard links planted at the backup, its
"<backup>.tmp" or on the way, pointing into a protected folder of victims.
A case is broken when a run does not give its documented line and exit code, a refused run
alters what stood at the backup path, anything in the case's folders or the driver, a run
that worked did not leave the exact backup under its exact name, a "<backup>.tmp" is left
behind, a victim is not exactly as planted, or the driver does not end where it started.

    rows(short) -> [(row name, cases run, cases broken, [one description per broken case])]

The campaign sets wine.PREFIX before it asks for the rows.
"""
import shutil

from harness import wine

GROUPS = ["names and lengths", "file states", "hostile links"]


def rows(short):
    # Imported here, so that the programs' paths follow the wine.BIN the caller has set.
    from harness import hostile_paths

    wine.ensure_prefix()
    cases = [c for c in hostile_paths.CASES if c.short or not short]
    table = []
    base = hostile_paths.base_directory()
    try:
        for vendor in hostile_paths.available_vendors():
            vendor.install()
            try:
                for group in GROUPS:
                    run, broken = 0, []
                    for case in (c for c in cases if c.group == group):
                        run += 1
                        problems = case_problems(hostile_paths, vendor, case, base)
                        if problems:
                            broken.append("%s: %s" % (case.name, "; ".join(problems)))
                    table.append(("%s: hostile paths: %s" % (vendor.name, group), run,
                                  len(broken), broken))
            finally:
                vendor.uninstall()
    finally:
        shutil.rmtree(base, ignore_errors=True)
    return table


def case_problems(hostile_paths, vendor, case, base):
    needs_holder = any(step[0] == "hold" for step in case.steps)
    if needs_holder and not hostile_paths.holder_available():
        return ["%s is not built" % hostile_paths.HOLDER]
    try:
        return hostile_paths.run_case(vendor, case, base)
    except Exception as error:  # a case that cannot even run is a broken case, not a crash
        return ["could not run: %r" % error]
