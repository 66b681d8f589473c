"""Runs of one program on one backup path at the same time, under Wine.

A run that holds the backup path (kept inside its first driver call by a sleep fault) makes
a second apply or restore wait the bound and then give its backup-failure line with the
driver and the backup untouched; a holder that dies leaves no lock behind; and many runs
started together leave the machine so that one restore brings the driver back exactly.
"""
import random
import unittest

from harness import concurrent_runs as cr
from harness import amd
from harness import hostile_paths
from harness import nvidia as nv
from harness import wine

# Longer than the programs' wait, so the runs behind the holder give up while it sleeps;
# the margin covers starting them under Wine on a busy machine (up to 2 s seen).
HOLD_MS = int((cr.LOCK_WAIT_S + 3) * 1000)
# A run that finds the lock free (or abandoned) starts at once; this is far below the wait.
PROMPT_S = cr.LOCK_WAIT_S / 2
# The apply's pause between its reads: the restore started meanwhile reaches the lock in
# well under this (0.05 s seen, 0.5 s on a busy machine).
SLOW_MS = 1000
# How long a first run on a folder not made yet is held before it makes it: the second run
# has walked to the missing folder and waits for the lock long before (0.5 s at most seen).
NEW_FOLDER_HOLD_MS = 2000
HOLDER_STARTS = 3
HOLDER_START_S = 20
ROUNDS = 3
RUNS_PER_ROUND = 8


class ConcurrentRuns:
    """The same checks for both programs; a subclass names the target."""

    target_class = None

    @classmethod
    def setUpClass(cls):
        if not cls.target_class.available():
            raise unittest.SkipTest("%s is not built" % cls.target_class.exe)
        wine.ensure_prefix()

    def setUp(self):
        directory, remove = cr.new_directory("concurrent-%s-" % self.target_class.name)
        self.addCleanup(remove)
        self.target = self.target_class(directory)
        self.target.install()
        self.addCleanup(self.target.uninstall)
        self.target.reset()

    def start(self, command, log, faults=None, env=None):
        run = self.target.start(cr.command_args(self.target, command), self.target.dir / log,
                                faults=faults, env=env)
        self.addCleanup(run.stop)
        return run

    def run_alone(self, command):
        return self.start(command, "alone.log").wait()

    def start_holder(self, command, hold_ms=HOLD_MS):
        """A run of `command` that holds the lock, sleeping in its first driver call.

        Now and then Wine hangs while it starts a program, before the program runs at all
        (seen right after another test script's runs); such a holder never reaches the
        driver, and is replaced."""
        log = self.target.dir / "holder.log"
        mark = self.target.sleep_mark % hold_ms
        for attempt in range(HOLDER_STARTS):
            holder = self.start(command, log.name, faults=self.target.sleep_fault % hold_ms)
            try:
                cr.wait_until(lambda: cr.file_holds(log, mark) or not holder.running(),
                              HOLDER_START_S, "the holder sleeps inside its command")
            except AssertionError:
                if log.exists() or attempt == HOLDER_STARTS - 1:
                    raise
                holder.stop()
                continue
            if not cr.file_holds(log, mark):
                self.fail("the holder ended before its sleep: %r" % (holder.wait(),))
            return holder

    def backup_now(self):
        return self.target.backup.read_bytes() if self.target.backup.exists() else None

    def assertOnlyStateLeft(self):
        self.assertEqual(sorted(p.name for p in self.target.dir.iterdir()
                                if not p.name.endswith(".log")), ["state.txt"])

    def assertResult(self, result, line, code):
        self.assertEqual(result, (line, code))

    def test_held_lock_makes_apply_and_restore_change_nothing(self):
        self.original = self.target.driver_now()
        self.assertEqual(self.run_alone("gamer")[1], 0)
        driver, backup = self.target.driver_now(), self.backup_now()
        # The holder applies the same preset again, so whatever it does later changes
        # nothing either: any difference seen afterwards is the refused runs' doing.
        holder = self.start_holder("gamer")
        refused = [(self.start(c, "refused%d.log" % i, env=e), expected)
                   for i, (c, e, expected) in enumerate(self.refused_cases())]
        # The same file named relative to the working directory, in other letters.
        refused.append((self.target.start(["restore", "BACKUP.TXT"],
                                          self.target.dir / ("refused%d.log" % len(refused)),
                                          cwd=self.target.dir),
                        self.target.restore_refused))
        for run, (line, code) in refused:
            with self.subTest(args=run.args):
                self.assertResult(run.wait(), line, code)
                self.assertGreaterEqual(run.seconds, cr.LOCK_WAIT_S)
        self.assertTrue(holder.running(), "the refusals came while the holder held the lock")
        self.assertEqual(self.target.driver_now(), driver)
        self.assertEqual(self.backup_now(), backup)
        for i in range(len(refused)):
            self.assertFalse(self.target.wrote_driver(self.target.dir / ("refused%d.log" % i)))
        self.assertResult(holder.wait(), self.reapplied_line(), 0)
        self.assertEqual(self.target.driver_now(), driver)
        self.assertEqual(self.backup_now(), backup)
        self.assertResult(self.run_alone("restore"), self.restored_after_gamer(), 0)
        self.assertEqual(self.target.driver_now(), self.original)
        self.assertOnlyStateLeft()

    def test_restore_behind_a_slow_apply_waits_and_loses_nothing(self):
        # Unserialised, the restore would put the originals back and delete the backup in
        # the middle of the apply, which would then record its own preset values as the
        # originals (or change settings with no backup on disk at all).
        self.original = self.target.driver_now()
        self.assertEqual(self.run_alone("gamer")[1], 0)
        slow = self.start("gamer", "slow.log", faults=self.target.between_reads_fault % SLOW_MS)
        cr.wait_until(lambda: cr.file_holds(self.target.dir / "slow.log",
                                            self.target.between_reads_mark % SLOW_MS),
                      60, "the apply sleeps between its reads")
        restore = self.start("restore", "restore.log")
        self.assertResult(slow.wait(), self.reapplied_line(), 0)
        self.assertResult(restore.wait(), self.restored_after_gamer(), 0)
        self.assertEqual(self.target.driver_now(), self.original)
        self.assertOnlyStateLeft()

    def test_a_second_run_judges_a_folder_not_made_yet_under_the_lock(self):
        # The second run walks while the first holds the lock and has not made the folder;
        # had it kept what it saw then, its apply would replace the first run's backup with
        # the preset's values, and its restore would say "nothing" beside that backup.
        for second in ("extremo", "restore"):
            with self.subTest(second=second):
                self.target.reset()
                self.target.in_new_folder()
                original = self.target.driver_now()
                holder = self.start_holder("gamer", hold_ms=NEW_FOLDER_HOLD_MS)
                other = self.start(second, "second.log")
                self.assertResult(holder.wait(), self.first_apply_line(), 0)
                if second == "restore":
                    self.assertResult(other.wait(), self.restored_after_gamer(), 0)
                else:
                    self.assertResult(other.wait(), self.applied_after_gamer("extremo"), 0)
                    self.assertResult(self.run_alone("restore"), self.restored_after_extremo(), 0)
                self.assertEqual(self.target.driver_now(), original)

    def test_two_spellings_of_one_backup_wait_for_each_other(self):
        # The lock is named by the place the walk found, not by the text: without that, the
        # second apply would record all originals while the first sleeps, and the first
        # would then save the few it had loaded over them.
        spellings = [
            ("long and 8.3 names", lambda folder: hostile_paths.short_name(folder)),
            ("plain and \\\\?\\", lambda folder: "\\\\?\\" + folder),
            ("two letter cases", lambda folder: folder.upper()),
            ("the file and its own stream", lambda folder: folder),
        ]
        for name, respell in spellings:
            with self.subTest(spellings=name):
                directory, remove = cr.new_directory("spelling-%s-" % self.target.name)
                self.addCleanup(remove)
                target = self.target_class(directory)
                target.reset()
                original = target.driver_now()
                folder = target.dir / "a rather long folder name"
                folder.mkdir()
                first = wine.winpath(folder / "backup.txt")
                second = respell(wine.winpath(folder)) + "\\BACKUP.txt"
                if "stream" in name:
                    second += "::$DATA"
                slow_log = target.dir / "slow.log"
                slow = target.start(["apply", "gamer", first], slow_log,
                                    faults=target.setting_read_fault % 1500)
                self.addCleanup(slow.stop)
                cr.wait_until(lambda: cr.file_holds(slow_log, target.setting_read_mark), 60,
                              "the first apply sleeps in its first read of a setting")
                other = target.start(["apply", "extremo", second], target.dir / "other.log")
                self.addCleanup(other.stop)
                self.assertEqual(slow.wait()[1], 0)
                self.assertEqual(other.wait()[1], 0)
                restored = target.start(["restore", first], target.dir / "restore.log").wait()
                self.assertResult(restored, self.restored_after_extremo(), 0)
                self.assertEqual(target.driver_now(), original)

    def test_killed_holder_leaves_no_stale_lock(self):
        self.original = self.target.driver_now()
        # Killed from outside while it holds the lock, before it touched anything.
        holder = self.start_holder("extremo")
        holder.kill()
        holder.wait()
        run = self.start("gamer", "after-kill.log")
        self.assertResult(run.wait(), self.first_apply_line(), 0)
        self.assertLess(run.seconds, PROMPT_S)
        # Ended by its driver mid-apply, after the backup was saved.
        crashed = self.start("extremo", "crash.log", faults=self.target.crash_fault)
        self.assertEqual(crashed.wait(), (b"", self.target.killed_exit))
        run = self.start("restore", "after-crash.log")
        self.assertResult(run.wait(), self.restored_after_extremo(), 0)
        self.assertLess(run.seconds, PROMPT_S)
        self.assertEqual(self.target.driver_now(), self.original)
        self.assertOnlyStateLeft()

    def test_many_runs_started_together_lose_no_original(self):
        rng = random.Random(self.target.name)
        for round_number in range(ROUNDS):
            commands, pauses = cr.mixed_commands(rng, RUNS_PER_ROUND)
            with self.subTest(round=round_number, commands=commands, pauses=pauses):
                problems, results = cr.concurrent_round(self.target, commands, pauses)
                self.assertEqual(problems, [])
                self.assertEqual(len(results), RUNS_PER_ROUND)


class SleepFaults(unittest.TestCase):
    """The simulated libraries' "sleep:MS" outcome: the call waits, says so in the log
    first, and then behaves as if no fault had hit it."""

    @classmethod
    def setUpClass(cls):
        if not (cr.NvidiaTarget.available() and cr.AmdTarget.available()):
            raise unittest.SkipTest("programs or simulated libraries not built")
        wine.ensure_prefix()

    def target(self, target_class):
        directory, remove = cr.new_directory("sleep-%s-" % target_class.name)
        self.addCleanup(remove)
        target = target_class(directory)
        target.install()
        self.addCleanup(target.uninstall)
        target.reset()
        return target

    def test_sleep_delays_the_call_which_then_runs(self):
        # The held call's line, then the same call's own line once it ran.
        libraries = [
            (cr.NvidiaTarget, "calls.log", nv.DETECTED,
             b"NvAPI_Initialize -> sleep 1000 (injected)", rb"NvAPI_Initialize -> 0"),
            (cr.AmdTarget, "adlx.log", amd.DETECTED,
             b"SLEEP Initialize ADLXInitialize2 1000", rb"ADLXInitialize2 0x[0-9A-F]{16} -> 0")]
        for target_class, log_name, detected, held, ran in libraries:
            with self.subTest(library=target_class.name):
                target = self.target(target_class)
                log = target.dir / log_name
                run = target.start(["status"], log, faults="Initialize=sleep:1000")
                self.assertEqual(run.wait(), (detected, 0))
                self.assertGreaterEqual(run.seconds, 1.0)
                lines = log.read_bytes().splitlines()
                at = lines.index(held)
                self.assertRegex(lines[at + 1], b"^" + ran + b"$")

    def test_both_libraries_refuse_a_sleep_without_milliseconds(self):
        libraries = [
            (cr.NvidiaTarget, nv.SIM_CONFIG_EXIT,
             "sim.config-error SIM_NVAPI_FAULTS: fault rule with a bad sleep"),
            (cr.AmdTarget, amd.SIM_CONFIG_EXIT,
             "CONFIG-ERROR SIM_ADLX_FAULTS: fault rule with a bad sleep: {rule}")]
        for target_class, config_exit, refusal in libraries:
            target = self.target(target_class)
            for rule in ["Initialize=sleep:0", "Initialize=sleep:", "Initialize=sleep:x"]:
                with self.subTest(library=target_class.name, rule=rule):
                    log = target.dir / "bad.log"
                    log.unlink(missing_ok=True)
                    run = target.start(["status"], log, faults=rule)
                    self.assertEqual(run.wait(), (b"", config_exit))
                    self.assertIn(refusal.format(rule=rule), log.read_text())
                    self.assertNotIn("SLEEP", log.read_text())


NV_ALL = 13


class NvidiaConcurrentRuns(ConcurrentRuns, unittest.TestCase):
    target_class = cr.NvidiaTarget

    def refused_cases(self):
        return [("competitivo", None, (nv.backup_failed(0), 20)),
                ("restore", None, (nv.restore_incomplete(0, 0), 22))]

    def reapplied_line(self):
        return nv.applied(8, 8)

    def applied_after_gamer(self, preset):
        return nv.applied(NV_ALL, NV_ALL) if preset == "extremo" else None

    def first_apply_line(self):
        return nv.applied(8, 8)

    def restored_after_gamer(self):
        return nv.restored(8)

    def restored_after_extremo(self):
        # Also after a crash: extremo saved all 13 originals before its first write.
        return nv.restored(13)


class AmdConcurrentRuns(ConcurrentRuns, unittest.TestCase):
    target_class = cr.AmdTarget

    def refused_cases(self):
        every_setting = ",".join(amd.GLOBALS + amd.PER_GPU)
        return [("extremo", None, (amd.applied_partly(26, 0), 21)),
                ("gamer", {"SIM_ADLX_UNSUPPORTED": every_setting}, (amd.NO_SETTING, 10)),
                ("restore", None, (amd.restore_incomplete(0, 0), 22))]

    def reapplied_line(self):
        return amd.applied(24, 0)

    def applied_after_gamer(self, preset):
        # extremo then changes vsync-mode on each GPU; enhanced-sync starts off here
        return amd.applied(26, 2) if preset == "extremo" else None

    def first_apply_line(self):
        return amd.applied(24, 23)  # gpu1's sharpening starts off, as gamer wants it

    def restored_after_gamer(self):
        return amd.restored(24)

    def restored_after_extremo(self):
        return amd.restored(26)


if __name__ == "__main__":
    unittest.main()
