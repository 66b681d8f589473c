"""Hostile backup paths and file states for both programs, end to end under Wine.

The cases (non-ASCII names, paths over 260 characters, relative paths, 8.3 short names,
every rooted spelling of a path, a drive that does not exist, a drive mapped to a folder, a
directory at the backup path, a read-only backup, a file another process holds open with
no sharing, a backup of 2 MiB, symbolic and hard links an attacker plants at or on the way
to the backup) and what is checked after every run are in hostile_paths.py, shared with
scripts/campaign/paths.py. Each case runs as one subtest per program.

The race rows plant nothing beforehand: race-link (tests/tools/race_link.c) swaps the
backup's folder for a link to a protected folder, or makes it as such a link where it is
missing, at the k-th step of the run, for every k a calibration run counts.
"""
import concurrent.futures
import os
import pathlib
import shutil
import subprocess
import tempfile
import unittest

from doccheck.places import utf16_length
from harness import hostile_paths  # noqa: E402
from harness import wine  # noqa: E402

# Cases played at once. Two at a time kept one and a half of the machine's two processors
# busy (83 s of processor time in 56 s); three fill them.
JOBS = 3


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
        # Each case has a folder, a driver state and a log of its own, so several run at once.
        with concurrent.futures.ThreadPoolExecutor(JOBS) as pool:
            found = list(pool.map(lambda case: hostile_paths.run_case(vendor, case, self.base),
                                  hostile_paths.CASES))
        for case, problems in zip(hostile_paths.CASES, found):
            with self.subTest(case=case.name):
                self.assertEqual(problems, [])

    def test_nvidia(self):
        self.run_table(hostile_paths.Nvidia())

    def test_amd(self):
        self.run_table(hostile_paths.Amd())


RACE_LINK = os.environ.get("E2E_RACE_LINK", "")
# The AMD rows keep one GPU and three settings, so that a run saves three times (each save
# a step to race) without a hundred steps to try.
AMD_FEW = {"SIM_ADLX_GPUS": 1, "SIM_ADLX_IDS": "7", "SIM_ADLX_UNSUPPORTED": ",".join(
    name for name in hostile_paths.amd.PER_GPU if name != "aa-mode")}
# What a protected folder holds: a backup of the vendor's own, with values no run here
# ever writes, so that a restore which read it would leave them in the driver.
VICTIMS = {"nvidia": b"format=1\r\nvendor=nvidia\r\nsetting.0x1057EB71=value:0x0BADF00D\r\n",
           "amd": b"format=1\r\nvendor=amd\r\ngpu.7.aa-mode=77\r\n"}


class Race:
    """One command of one program, raced in a folder of its own under `base`."""

    def __init__(self, vendor, command, folder_there, base):
        self.vendor, self.command, self.folder_there = vendor, command, folder_there
        self.base = base
        self.extra = AMD_FEW if vendor.name == "amd" else {}
        self.start = None  # (backup bytes or None, driver state bytes or None) before the run
        self.values = None  # each driver value: what it may be after a run (its start or end)

    def world(self):
        world = hostile_paths.World(pathlib.Path(tempfile.mkdtemp(prefix="race-", dir=self.base)))
        world.protected.mkdir()
        (world.protected / "backup.txt").write_bytes(VICTIMS[self.vendor.name])
        (world.root / "user").mkdir()
        self.vendor.prepare(world)
        return world

    def folder(self, world):
        return world.root / "user" / "a"

    def run(self, world, args):
        env = {**self.vendor.env(world), **self.extra}
        return hostile_paths.wine.run(self.vendor.exe, args, env=env)

    def args(self, world):
        backup = hostile_paths.wine.winpath(self.folder(world) / "backup.txt")
        return ["apply", "gamer", backup] if self.command == "apply" else ["restore", backup]

    def prepared(self):
        """A world as the race starts from: for a restore, an apply has run before."""
        world = self.world()
        if self.start is None:
            if self.command == "restore" and self.folder_there:
                self.folder(world).mkdir()
                self.run(world, ["apply", "gamer"] + self.args(world)[1:])
            backup = self.folder(world) / "backup.txt"
            self.start = (backup.read_bytes() if backup.exists() else None,
                          world.state.read_bytes() if world.state.exists() else None)
        else:
            if self.folder_there:
                self.folder(world).mkdir()
            if self.start[0] is not None:
                (self.folder(world) / "backup.txt").write_bytes(self.start[0])
            if self.start[1] is not None:
                world.state.write_bytes(self.start[1])
        return world

    def raced(self, k):
        """The run with race-link acting at its k-th step (0: counting only): the helper's
        report, the program's (line, exit code), the world."""
        world = self.prepared()
        helper = subprocess.Popen([RACE_LINK, str(k), str(self.folder(world)),
                                   str(world.protected)], stdin=subprocess.PIPE,
                                  stdout=subprocess.PIPE, text=True)
        if helper.stdout.readline().strip() != "ready":
            raise RuntimeError("race-link did not start")
        result = self.run(world, self.args(world))
        helper.stdin.close()
        report = helper.stdout.read().strip()
        helper.stdout.close()
        helper.wait()
        return report, result, world

    def calibrate(self):
        """The steps of a run that nothing races, and what each driver value may be after a
        raced one: as it started, or as the clean run left it (a run cut short by the swap
        may stop between settings)."""
        report, _, world = self.raced(0)
        start = self.prepared()
        before, after = self.vendor.state(start), self.vendor.state(world)
        self.values = {key: {before.get(key), after.get(key)} for key in {*before, *after}}
        return int(report.split()[1])

    def foreign_values(self, world):
        """The driver values a raced run left that neither its start nor a clean run had."""
        state = self.vendor.state(world)
        return {key: state.get(key) for key in {*state, *self.values}
                if state.get(key) not in self.values.get(key, {None})}


class WithRaceLink(unittest.TestCase):
    """Tests that have race-link act in the middle of a run, each in a folder of its own."""

    @classmethod
    def setUpClass(cls):
        if not os.access(RACE_LINK, os.X_OK):
            raise unittest.SkipTest("no race-link (E2E_RACE_LINK)")
        hostile_paths.wine.ensure_prefix()

    def setUp(self):
        self.base = hostile_paths.base_directory()
        self.addCleanup(shutil.rmtree, self.base, ignore_errors=True)


class Races(WithRaceLink):
    """Nothing in the protected folder changes and none of its values reaches the driver,
    whichever step of an elevated run the swap comes at."""
    maxDiff = None

    def problems(self, race, k, clean):
        report, result, world = race.raced(k)
        found = []
        if not report.startswith("acted %d " % k):
            return found  # the run ended before its k-th step this time: nothing raced
        if hostile_paths.tree(world.protected) != {"backup.txt": clean}:
            found.append("k=%d (%s): the protected folder changed" % (k, report))
        foreign = race.foreign_values(world)
        if foreign:
            found.append("k=%d (%s): the driver holds %r" % (k, report, foreign))
        if result[1] not in (0, 20, 21, 22) or not result[0].startswith(b"result="):
            found.append("k=%d (%s): %r" % (k, report, result))
        shutil.rmtree(world.root, ignore_errors=True)
        return found

    def test_every_step_of_every_command(self):
        vendors = [v for v in hostile_paths.VENDORS if v.available()]
        for vendor in vendors:
            vendor.install()
            self.addCleanup(vendor.uninstall)
            for command in ("apply", "restore"):
                for folder_there in (True, False):
                    with self.subTest(program=vendor.name, command=command,
                                      folder="swapped" if folder_there else "made as a link"):
                        race = Race(vendor, command, folder_there, self.base)
                        steps = race.calibrate()
                        clean = hostile_paths.tree(race.world().protected)["backup.txt"]
                        with concurrent.futures.ThreadPoolExecutor(JOBS) as pool:
                            found = pool.map(lambda k: self.problems(race, k, clean),
                                             range(1, steps + 1))
                        self.assertEqual([p for problems in found for p in problems], [])


class TemporaryFileSwaps(WithRaceLink):
    """A link put at <backup>.tmp the moment the run makes it: the rename must not move
    what the link leads to, and the backup's name must never become a link or a second
    name of another file. The save fails and no setting changes."""

    def test_symbolic_and_hard_link_at_creation(self):
        for vendor in [v for v in hostile_paths.VENDORS if v.available()]:
            vendor.install()
            self.addCleanup(vendor.uninstall)
            for how in ("symlink", "hardlink"):
                with self.subTest(program=vendor.name, link=how):
                    world = hostile_paths.World(pathlib.Path(tempfile.mkdtemp(dir=self.base)))
                    world.protected.mkdir()
                    victim = world.protected / "backup.txt"
                    victim.write_bytes(VICTIMS[vendor.name])
                    folder = world.root / "user"
                    folder.mkdir()
                    vendor.prepare(world)
                    driver = world.state.read_bytes() if world.state.exists() else None
                    clean = hostile_paths.tree(world.protected)
                    helper = subprocess.Popen(
                        [RACE_LINK, "--at-create", str(folder), "backup.txt.tmp", how,
                         str(victim)], stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
                    self.assertEqual(helper.stdout.readline().strip(), "ready")
                    result = hostile_paths.wine.run(
                        vendor.exe, ["apply", "gamer",
                                     hostile_paths.wine.winpath(folder / "backup.txt")],
                        env=vendor.env(world))
                    helper.stdin.close()
                    self.assertEqual(helper.stdout.read().strip(), "acted create")
                    helper.stdout.close()
                    helper.wait()
                    self.assertEqual(result, vendor.expected("unsaved", "gamer", []))
                    backup = folder / "backup.txt"
                    self.assertFalse(backup.is_symlink())
                    self.assertFalse(backup.exists() and os.stat(backup).st_nlink != 1)
                    (folder / "backup.txt.tmp").unlink()  # the attacker's own link
                    self.assertEqual(hostile_paths.tree(world.protected), clean)
                    self.assertEqual(world.state.read_bytes() if world.state.exists()
                                     else None, driver)


class Details(unittest.TestCase):
    """With --detail a failed run prints the same line and exit code as without, and on
    standard error one line per failure: the step, the call and the path or key exactly, the
    code by its name. Without it, standard error stays empty."""
    maxDiff = None

    @classmethod
    def setUpClass(cls):
        hostile_paths.wine.ensure_prefix()

    def run_case(self, vendor, case, base):
        found = []
        for asked in (False, True):
            # Each run in a world of its own, as the case plants it: the first may change it.
            world = hostile_paths.World(pathlib.Path(tempfile.mkdtemp(dir=base)))
            folder = world.root / "b"
            folder.mkdir()
            vendor.prepare(world)
            case.plant(vendor, folder)
            text = hostile_paths.wine.winpath(folder)
            args = [a.format(path=case.path.format(dir=text)) for a in case.args]
            env = {**vendor.env(world), **case.env}
            stderr = []
            result = hostile_paths.wine.run(vendor.exe, args + ["--DETAIL"] * asked, env=env,
                                            stderr=stderr)
            preset = args[1] if args[0] == "apply" else None
            if result != vendor.expected(case.outcome, preset, []):
                found.append("%s: %r" % ("with --detail" if asked else "plain", result))
            lines = stderr[0].decode("utf-8").splitlines() if asked else []
            if not asked and stderr != [b""]:
                found.append("standard error without --detail: %r" % stderr)
        explained = set()
        for line in lines:
            parts = line.split(": ")
            step, call, code, where = parts[0], parts[1], parts[2].split(" ")[0], parts[3]
            explained.add((step, call, code, where))
        expected = {(s, c, n, p.format(dir=text)) for s, c, n, p in case.detail}
        if explained != expected:
            found.append("explained %r, not %r" % (sorted(explained), sorted(expected)))
        return found

    def test_every_failure_explains_itself(self):
        base = hostile_paths.base_directory()
        self.addCleanup(shutil.rmtree, base, ignore_errors=True)
        for vendor in [v for v in hostile_paths.VENDORS if v.available()]:
            vendor.install()
            self.addCleanup(vendor.uninstall)
            cases = [c for c in hostile_paths.DETAIL_CASES if vendor.name in c.vendors]
            with concurrent.futures.ThreadPoolExecutor(JOBS) as pool:
                found = list(pool.map(lambda c: self.run_case(vendor, c, base), cases))
            for case, problems in zip(cases, found):
                with self.subTest(program=vendor.name, case=case.name):
                    self.assertEqual(problems, [])


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
                self.assertGreater(utf16_length(target.arg), 260, case.name)
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
