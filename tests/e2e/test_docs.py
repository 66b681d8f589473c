"""The documents run: every row of every result table in the README, the integration guide,
docs/hostile-paths.md and the documents the two ZIPs ship is played under Wine against the
simulated drivers, and what it says is held to what the programs answer.

The rows, their scenarios and how each table is read are the developer kit's own
(selftest/doccheck), so that the kit's selftest.py plays the same list on Windows. Here the
test tools' hold-file.exe holds files and gives 8.3 names; what only Windows has (junctions,
mount points, shares, volume and GLOBALROOT paths, runs that are not elevated) is skipped
with its reason, and so are the two rows no driver fault can bring about.
"""
import re
import sys
import unittest

from harness import wine  # noqa: E402

sys.path[:0] = [str(wine.REPO / "selftest"), str(wine.REPO / "clients")]
from doccheck import checks, hosts  # noqa: E402

PROGRAMS = {"nvidia": wine.BIN / "nvidia" / "preset-nvidia.exe",
            "amd": wine.BIN / "amd" / "preset-amd.exe"}
HOLDER = wine.BIN / "tests" / "tools" / "hold-file.exe"
# Scenarios played at once besides those that mostly wait: Wine's program start keeps a
# processor busy, and the machine has two.
JOBS = 3
# Why a row may be skipped here; anything else is a failure.
SKIPPED_FOR = re.compile(r"needs Windows|only a failure no driver causes|"
                         r"cancelled by the front-end itself")
OUTCOMES = {"restored", "restore-incomplete", "unsupported-backup-kept"}
NO_CASE = "no scenario for this row: add its case to doccheck/cases.py"


def repository_docs():
    return checks.Docs({name: wine.REPO / name for name in checks.DOCUMENTS})


def report(results):
    lines = []
    for check in results:
        lines.append("%s %s: %s" % (check.status.upper(), check.where, check.name))
        lines += ["    " + detail for detail in check.details]
    return "\n".join(lines)


class Documents(unittest.TestCase):
    maxDiff = None

    def test_every_row_of_every_result_table_runs(self):
        for program in PROGRAMS.values():
            if not program.is_file():
                self.skipTest("%s is not built" % program)
        wine.ensure_prefix()
        wine.remove_dll(hosts.ADLX)  # the AMD runtime is found beside each copy of the program
        host = hosts.WineHost(PROGRAMS, wine.BIN / "sim", wine.WINE, wine.PREFIX, HOLDER)
        self.addCleanup(host.clean_up)
        self.addCleanup(wine.remove_dll, hosts.NVAPI)
        results = checks.run_checks(host, repository_docs(), jobs=JOBS)
        failed = [c for c in results if c.status == "fail"]
        wrongly_skipped = [c for c in results if c.status == "skip"
                           and not SKIPPED_FOR.search(" ".join(c.details))]
        self.assertEqual(failed + wrongly_skipped, [], "\n" + report(failed + wrongly_skipped))
        self.assertGreater(len([c for c in results if c.status == "pass"]), 150)

    def test_a_row_without_a_case_a_case_without_its_row_and_an_unknown_table_fail(self):
        docs = repository_docs()
        guide = docs.texts["docs/integration.md"]
        gone = "| The new driver refuses a recorded setting |"
        edits = [
            ("The new driver refuses", "The newer driver refuses",
             ["The newer driver refuses a recorded setting: " + NO_CASE,
              "The new driver refuses a recorded setting: a case whose row is gone"]),
            (gone, "| A GPU of another make was added |", [
                "A GPU of another make was added: " + NO_CASE,
                "The new driver refuses a recorded setting: a case whose row is gone"]),
            ("## Uninstalling\n", "## Uninstalling\n\n| Step | Exit |\n|---|---|\n| x | 0 |\n",
             ["a table no case list knows: header ('Step', 'Exit'): list it in "
              "doccheck/cases.py, as a result table with its rows' cases or with why it "
              "states no answer"]),
        ]
        for old, new, expected in edits:
            with self.subTest(edit=new):
                docs.texts["docs/integration.md"] = guide.replace(old, new, 1)
                docs.tables["docs/integration.md"] = checks.md.read_tables(
                    "docs/integration.md", docs.texts["docs/integration.md"])
                _, faults = checks.plan(docs, checks.case_list.listed_tables(OUTCOMES))
                self.assertEqual(sorted("%s: %s" % (f.name, "; ".join(f.details))
                                        for f in faults), sorted(expected))

    def test_the_documents_are_every_one_the_zips_ship(self):
        rules = (wine.REPO / "cmake" / "release.cmake").read_text()
        packaged = set(re.findall(r"(?:package/\w+/|docs/)[\w-]+\.md|CHANGELOG\.md", rules))
        self.assertGreaterEqual(len(packaged), 8)
        self.assertLessEqual(packaged, set(checks.DOCUMENTS))


if __name__ == "__main__":
    unittest.main()
