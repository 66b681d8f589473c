"""preset-nvidia under Wine when the driver fails: every failure path and its clean-up.

Faults come from the simulated library (SIM_NVAPI_FAULTS, SIM_NVAPI_SETTING_TYPE); the
tests check the result line, the exit code, which driver calls were made in which order,
what was committed and what the backup file holds afterwards.
"""
import unittest

from harness import wine  # noqa: E402
from harness.nvidia import (  # noqa: E402
    CLOSE, EXE, GAMER_BACKUP, GAMER_IDS, OPEN, ORIGINAL, PRESET_VALUE,
    SIM_CONFIG_EXIT, SIM_FAULT_EXIT, UNSUPPORTED, NvidiaCase, applied_partly, backup_failed,
    restore_incomplete, restored, set_line)

GAMER_WITHOUT_ROW_3 = GAMER_BACKUP.replace(b"setting.0x00CE2691=value:0x0000003C\r\n", b"")


class OpeningFails(NvidiaCase):
    def test_each_opening_step_failing_closes_what_was_opened(self):
        # (failing step, the calls made: everything opened so far is closed again)
        cases = [
            ("Initialize", ["NvAPI_Initialize"]),
            ("CreateSession", OPEN[:2] + ["UnloadWithArgument"]),
            ("LoadSettings", OPEN[:3] + CLOSE),
            ("GetBaseProfile", OPEN + CLOSE),
        ]
        self.backup.write_bytes(GAMER_BACKUP)
        for step, expected in cases:
            for args in (["status"], ["apply", "gamer", wine.winpath(self.dir / "new.txt")],
                         ["restore", wine.winpath(self.backup)]):
                with self.subTest(step=step, command=args[0]):
                    self.write_state(ORIGINAL)
                    before = self.state.read_bytes()
                    self.assertResult(self.run_tool(*args, faults=step + "=-1"), UNSUPPORTED, 10)
                    self.assertEqual(self.call_names(), expected)
                    self.assertEqual(self.state.read_bytes(), before)
                    self.assertFalse((self.dir / "new.txt").exists())
                    self.assertEqual(self.backup.read_bytes(), GAMER_BACKUP)

    def test_the_line_is_out_before_the_session_is_destroyed(self):
        # The library ends the process at DestroySession: the line must already be there.
        for command in (["status"], ["apply", "gamer", wine.winpath(self.backup)]):
            with self.subTest(command=command[0]):
                out, code = self.run_tool(*command, faults="LoadSettings=-1,DestroySession=exit")
                self.assertEqual((out, code), (UNSUPPORTED, SIM_FAULT_EXIT))
                self.assertEqual(self.log_lines()[-1],
                                 "NvAPI_DRS_DestroySession session=0x5E550001 -> exit (injected)")

    def test_a_mistyped_rule_stops_the_run_before_any_driver_call(self):
        cases = [
            ("SetSetting=bogus", "fault rule with a bad status: SetSetting=bogus"),
            ("SetEnabled=bogus", "fault rule with a bad status: SetEnabled=bogus"),
        ]
        for rule, message in cases:
            with self.subTest(rule=rule):
                stderr = []
                out, code = wine.run(EXE, ["status"], env={
                    "SIM_NVAPI_LOG": wine.winpath(self.log), "SIM_NVAPI_FAULTS": rule},
                    stderr=stderr)
                self.assertEqual((out, code), (b"", SIM_CONFIG_EXIT))
                self.assertEqual(stderr, [b"simulated nvapi64.dll: SIM_NVAPI_FAULTS: %s\r\n"
                                          % message.encode()])
                self.assertEqual(self.calls(), [])


class ApplyFails(NvidiaCase):
    def setUp(self):
        super().setUp()
        self.write_state(ORIGINAL)
        self.before = self.state.read_bytes()

    def apply_gamer(self, **kwargs):
        return self.run_tool("apply", "gamer", wine.winpath(self.backup), **kwargs)

    def test_a_row_that_cannot_be_recorded_is_not_written(self):
        # A failed read, or a value that is not a 32-bit number, leaves no original behind;
        # writing that row anyway could never be undone.
        for how in ({"faults": "GetSetting@0x00CE2691=-1"},
                    {"faults": "GetSetting@0x00CE2691=-3"},
                    {"types": "0x00CE2691=1"}):
            with self.subTest(**how):
                self.write_state(ORIGINAL)
                self.assertResult(self.apply_gamer(**how), applied_partly(7, 7), 21)
                self.assertEqual(self.backup.read_bytes(), GAMER_WITHOUT_ROW_3)
                self.assertEqual([l for l in self.calls() if "SetSetting" in l],
                                 [set_line(sid, PRESET_VALUE[sid]) for sid in GAMER_IDS
                                  if sid != 0x00CE2691])
                self.assertIn("NvAPI_DRS_SaveSettings", self.call_names())
                self.assertState({**ORIGINAL, **{sid: PRESET_VALUE[sid] for sid in GAMER_IDS
                                                 if sid != 0x00CE2691}})
                self.backup.unlink()

    def test_a_failed_write_is_partial_and_the_rest_is_committed(self):
        self.assertResult(self.apply_gamer(faults="SetSetting@0x00AC8497=-1"),
                          applied_partly(8, 7), 21)
        self.assertEqual(self.backup.read_bytes(), GAMER_BACKUP)
        self.assertEqual(self.call_names(), OPEN + ["NvAPI_DRS_GetSetting"] * 8 +
                         ["NvAPI_DRS_SetSetting"] * 8 + ["NvAPI_DRS_SaveSettings"] + CLOSE)
        self.assertState({**ORIGINAL, **{sid: PRESET_VALUE[sid] for sid in GAMER_IDS
                                         if sid != 0x00AC8497}})

    def test_a_failed_commit_is_partial_and_changes_nothing_on_disk(self):
        self.assertResult(self.apply_gamer(faults="SaveSettings=-1"), applied_partly(8, 8), 21)
        self.assertEqual(self.backup.read_bytes(), GAMER_BACKUP)
        self.assertEqual(self.state.read_bytes(), self.before)

    def test_nothing_recorded_means_nothing_saved_and_nothing_written(self):
        for how in ({"faults": "GetSetting=-1"},
                    {"types": ",".join("0x%08X=1" % sid for sid in GAMER_IDS)}):
            with self.subTest(**how):
                self.write_state({sid: 0 for sid in GAMER_IDS})
                before = self.state.read_bytes()
                self.assertResult(self.apply_gamer(**how), backup_failed(0), 20)
                self.assertEqual(self.call_names(),
                                 OPEN + ["NvAPI_DRS_GetSetting"] * 8 + CLOSE)
                self.assertFalse(self.backup.exists())
                self.assertEqual(self.state.read_bytes(), before)

    def test_a_crash_in_the_write_pass_leaves_a_complete_backup_to_restore_from(self):
        # Driver calls: 4 to open, 8 reads, then the writes; the 15th is the third write.
        for rule in ("SetSetting#3=exit", "*#15=exit"):
            with self.subTest(rule=rule):
                self.write_state(ORIGINAL)
                out, code = self.apply_gamer(faults=rule)
                self.assertEqual((out, code), (b"", SIM_FAULT_EXIT))
                self.assertEqual(self.log_lines()[-1],
                                 set_line(0x00CE2691, 0x14, "exit (injected)"))
                self.assertEqual(self.backup.read_bytes(), GAMER_BACKUP)
                self.assertEqual(self.state.read_bytes(), self.before, "nothing committed")
                self.assertResult(self.run_tool("restore", wine.winpath(self.backup)),
                                  restored(8), 0)
                self.assertEqual(self.state.read_bytes(), self.before)
                self.assertFalse(self.backup.exists())


class RestoreFails(NvidiaCase):
    def setUp(self):
        super().setUp()
        self.write_state(ORIGINAL)
        self.original = self.state.read_bytes()
        self.run_tool("apply", "extremo", wine.winpath(self.backup))
        self.applied = self.state.read_bytes()
        self.content = self.backup.read_bytes()

    def restore(self, **kwargs):
        return self.run_tool("restore", wine.winpath(self.backup), **kwargs)

    def test_failed_commit_keeps_the_backup_and_the_driver_state(self):
        self.assertResult(self.restore(faults="SaveSettings=-1"), restore_incomplete(13, 13), 22)
        self.assertEqual(self.backup.read_bytes(), self.content)
        self.assertEqual(self.state.read_bytes(), self.applied)

    def test_failed_steps_are_counted_and_the_rest_is_committed(self):
        cases = [
            ("SetSetting@0x00CE2691=-1", {0x00CE2691}),
            ("DeleteProfileSetting=-1", {0x0064B541}),
            ("SetSetting@0x1057EB71=-5,SetSetting@0x002ECAF2=-5", {0x1057EB71, 0x002ECAF2}),
        ]
        for rule, failing in cases:
            with self.subTest(rule=rule):
                self.write_state({**ORIGINAL, **PRESET_VALUE})
                self.assertResult(self.restore(faults=rule),
                                  restore_incomplete(13, 13 - len(failing)), 22)
                self.assertEqual(self.backup.read_bytes(), self.content, "kept byte for byte")
                self.assertIn("NvAPI_DRS_SaveSettings", self.call_names())
                expected = {sid: v for sid, v in ORIGINAL.items() if sid not in failing}
                for sid in failing:
                    expected[sid] = PRESET_VALUE[sid]
                self.assertState(expected)
                # A later restore without the fault finishes the job.
                self.assertResult(self.restore(), restored(13), 0)
                self.assertEqual(self.state.read_bytes(), self.original)
                self.backup.write_bytes(self.content)

    def test_a_crash_in_the_middle_keeps_the_backup_for_the_next_attempt(self):
        out, code = self.restore(faults="SetSetting#5=exit")
        self.assertEqual((out, code), (b"", SIM_FAULT_EXIT))
        self.assertEqual(self.backup.read_bytes(), self.content)
        self.assertEqual(self.state.read_bytes(), self.applied)
        self.assertResult(self.restore(), restored(13), 0)
        self.assertEqual(self.state.read_bytes(), self.original)


if __name__ == "__main__":
    unittest.main()
