"""The developer kit's self-test runs from the two unpacked ZIPs under Wine, as a front-end
team would start it: it passes, skips only what needs Windows with the reason, leaves
nothing behind in the prefix, and --list names the commands of what it skipped.

scripts/release.sh runs this after it made the ZIPs (in RELEASE_BUILD_DIR, default
build/release), so the self-test cannot rot between releases.
"""
import os
import pathlib
import re
import shutil
import subprocess
import tempfile
import unittest
import zipfile

from release_env import REPO, project_version

BUILD = pathlib.Path(os.environ.get("RELEASE_BUILD_DIR", REPO / "build" / "release"))
WINE = os.environ.get("WINE64", "/usr/lib/wine/wine64")
ROW = re.compile(r"^(PASS|FAIL|SKIP)  (\S+:\d+) \(([^)]*)\): (.+?)(?:  -- skipped: (.+))?$")
SUMMARY = re.compile(r"^(\d+) passed, (\d+) failed, (\d+) skipped$")


class KitSelfTest(unittest.TestCase):
    maxDiff = None

    @classmethod
    def setUpClass(cls):
        base = "gpu-presets-%d.%d.%d" % project_version()
        cls.folder = pathlib.Path(tempfile.mkdtemp(prefix="release-selftest-"))
        for package in ("win64", "devkit"):
            with zipfile.ZipFile(BUILD / ("%s-%s.zip" % (base, package))) as archive:
                archive.extractall(cls.folder)
        cls.kit = cls.folder / ("%s-devkit" % base)
        cls.prefix = cls.folder / "prefix"
        cls.env = {"PATH": os.environ["PATH"], "HOME": str(cls.folder), "LANG": "C.UTF-8",
                   "WINEPREFIX": str(cls.prefix), "WINEDEBUG": "-all"}

    @classmethod
    def tearDownClass(cls):
        subprocess.run([str(pathlib.Path(WINE).with_name("wineserver")), "-k"], env=cls.env,
                       capture_output=True, check=False)
        shutil.rmtree(cls.folder, ignore_errors=True)

    def selftest(self, *args):
        return subprocess.run(["python3", "selftest.py", "--launcher", WINE, *args],
                              cwd=self.kit, env=self.env, capture_output=True, text=True,
                              timeout=1800, check=False)

    def test_it_passes_under_wine_and_leaves_nothing_behind(self):
        subprocess.run([WINE, "wineboot", "-i"], env=self.env, capture_output=True, check=False)
        subprocess.run([str(pathlib.Path(WINE).with_name("wineserver")), "-w"], env=self.env,
                       capture_output=True, check=False)
        before = sorted(p.relative_to(self.prefix) for p in (self.prefix / "drive_c").rglob("*"))
        devices = sorted((self.prefix / "dosdevices").iterdir())
        done = self.selftest()
        lines = done.stdout.splitlines()
        self.assertEqual(done.returncode, 0, done.stdout + done.stderr)
        summary = SUMMARY.match(lines[-1])
        self.assertIsNotNone(summary, lines[-1:])
        passed, failed, skipped = map(int, summary.groups())
        rows = [ROW.match(line) for line in lines if line[:4] in ("PASS", "FAIL", "SKIP")]
        self.assertTrue(all(rows), [l for l in lines if l[:4] in ("PASS", "FAIL", "SKIP")])
        self.assertEqual((passed, failed, skipped),
                         tuple(sum(1 for r in rows if r.group(1) == s)
                               for s in ("PASS", "FAIL", "SKIP")))
        self.assertGreaterEqual(passed, 20)
        self.assertEqual(failed, 0)
        for row in rows:
            if row.group(1) == "SKIP":
                self.assertTrue(row.group(5), row.group(0))
        after = sorted(p.relative_to(self.prefix) for p in (self.prefix / "drive_c").rglob("*"))
        self.assertEqual([p for p in after if p not in before], [])
        self.assertEqual(sorted((self.prefix / "dosdevices").iterdir()), devices)
        self.assertFalse((self.prefix / "drive_c" / "windows" / "system32" / "nvapi64.dll")
                         .exists())

    def test_it_refuses_a_machine_with_a_real_driver_and_touches_nothing(self):
        system32 = self.prefix / "drive_c" / "windows" / "system32"
        if not system32.is_dir():
            subprocess.run([WINE, "wineboot", "-i"], env=self.env, capture_output=True,
                           check=False)
        for name in ("nvapi64.dll", "amdadlx64.dll"):
            real = system32 / name
            real.write_bytes(b"MZ not the kit's simulator")
            try:
                with self.subTest(library=name):
                    before = sorted((self.prefix / "drive_c").rglob("*"))
                    done = self.selftest()
                    self.assertEqual(done.returncode, 2, done.stdout + done.stderr)
                    self.assertRegex(done.stdout, r"^selftest: refused: .*%s" % name)
                    self.assertEqual(real.read_bytes(), b"MZ not the kit's simulator")
                    self.assertEqual(sorted((self.prefix / "drive_c").rglob("*")), before)
            finally:
                real.unlink()

    def test_list_names_the_commands_of_the_checks_that_need_windows(self):
        done = self.selftest("--list")
        self.assertEqual(done.returncode, 0, done.stderr)
        self.assertIn("(skipped here: a junction (mklink /J) needs Windows)", done.stdout)
        self.assertRegex(done.stdout, r"\(plant folder junction backup\)")
        self.assertIn("runas /trustlevel:0x20000 ", done.stdout)


if __name__ == "__main__":
    unittest.main()
