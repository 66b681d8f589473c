"""Hostile backup paths and file states for both programs, end to end under Wine.

The cases (non-ASCII names, paths over 260 characters, relative paths, 8.3 short names, a
drive that does not exist, a drive mapped to a folder, a directory at the backup path, a
read-only backup, a file another process holds open with no sharing, a backup of 2 MiB,
symbolic and hard links an attacker plants at or on the way to the backup) and what is
checked after every run are in hostile_paths.py, shared with scripts/campaign/paths.py.
Each case runs as one subtest per program.
"""
import pathlib
import shutil
import sys
import unittest

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent))
import hostile_paths  # noqa: E402
import wine  # noqa: E402


class HostilePaths(unittest.TestCase):
    maxDiff = None

    @classmethod
    def setUpClass(cls):
        if not hostile_paths.holder_available():
            raise unittest.SkipTest("no hold-file.exe in %s" % hostile_paths.HOLDER.parent)
        wine.ensure_prefix()

    def setUp(self):
        self.base = hostile_paths.base_directory()
        self.addCleanup(shutil.rmtree, self.base, ignore_errors=True)

    def run_table(self, vendor):
        if not vendor.available():
            self.skipTest("%s is not built" % vendor.exe.name)
        vendor.install()
        self.addCleanup(vendor.uninstall)
        for case in hostile_paths.CASES:
            with self.subTest(case=case.name):
                self.assertEqual(hostile_paths.run_case(vendor, case, self.base), [])

    def test_nvidia(self):
        self.run_table(hostile_paths.Nvidia())

    def test_amd(self):
        self.run_table(hostile_paths.Amd())


class TheTable(unittest.TestCase):
    """The cases are what they claim to be, before any program runs."""

    def test_long_cases_exceed_max_path_and_names_are_not_ascii(self):
        wine.ensure_prefix()  # a case maps a drive letter in it
        world = hostile_paths.World(pathlib.Path(hostile_paths.base_directory()))
        self.addCleanup(shutil.rmtree, world.root, ignore_errors=True)
        self.addCleanup(world.clean_up)
        for case in hostile_paths.CASES:
            target = case.target(world)
            if "260" in case.name:
                self.assertGreater(hostile_paths.utf16_length(target.arg), 260, case.name)
        emoji = hostile_paths.EMOJI
        self.assertEqual(len(emoji.encode("utf-16-le")), 4, "outside the basic plane")
        self.assertEqual(emoji.encode(), b"\xf0\x9f\x8e\xae")
        for vendor in hostile_paths.VENDORS:
            self.assertGreaterEqual(len(hostile_paths.big_backup(vendor)), 2 * 1024 * 1024)

    def test_the_unmapped_drive_is_not_mapped(self):
        wine.ensure_prefix()
        letter = hostile_paths.unmapped_drive()
        self.assertFalse((wine.PREFIX / "dosdevices" / (letter.lower() + ":")).exists())


if __name__ == "__main__":
    unittest.main()
