"""preset-nvidia end to end under Wine: status, apply, restore and the command line.

Each test drives the real program against the simulated driver library and checks what a
front-end and a user would see: the result line's bytes, the exit code, the backup file's
bytes, the committed driver state and the order of the driver calls.
"""
import pathlib
import unittest

from harness import wine  # noqa: E402
from harness.nvidia import (  # noqa: E402
    ALL_IDS, ALL_PRESENT, CLOSE, DETECTED, EXTREMO_AFTER_GAMER_BACKUP, GAMER_BACKUP,
    GAMER_IDS, NOTHING, OPEN, ORIGINAL, PRESET_VALUE, SESSION, UNSUPPORTED,
    NvidiaCase, applied, backup_failed, delete_line, get_line, restore_incomplete, restored,
    set_line)


class StatusApplyRestore(NvidiaCase):
    def test_status_with_all_settings_present(self):
        self.write_state(ALL_PRESENT)
        before = self.state.read_bytes()
        self.assertResult(self.run_tool("status"), DETECTED, 0)
        self.assertEqual(self.calls(), [
            "NvAPI_Initialize -> 0",
            "NvAPI_DRS_CreateSession -> 0 " + SESSION,
            "NvAPI_DRS_LoadSettings %s -> 0 settings=14" % SESSION,
            "NvAPI_DRS_GetBaseProfile %s -> 0 profile=0xBA5E0001" % SESSION,
            "NvAPI_DRS_DestroySession %s -> 0" % SESSION,
            "UnloadWithArgument arg=0 -> 0",
        ])
        self.assertEqual(self.log_lines()[-1], "sim.freed", "the library is let go at the end")
        self.assertEqual(self.state.read_bytes(), before)

    def test_status_on_an_empty_profile_still_detects(self):
        self.assertResult(self.run_tool("status"), DETECTED, 0)
        self.assertFalse(self.state.exists(), "status commits nothing")

    def test_apply_gamer_then_extremo_then_restore_gives_the_original_back(self):
        self.write_state(ORIGINAL)
        original_bytes = self.state.read_bytes()

        self.assertResult(self.run_tool("apply", "gamer", wine.winpath(self.backup)),
                          applied(8, 8), 0)
        self.assertEqual(self.backup.read_bytes(), GAMER_BACKUP)
        self.assertEqual(self.calls(), open_lines(13) + [
            get_line(0x1057EB71, "0 type=0 value=0x00000000"),
            get_line(0x0064B541, "-160"),
            get_line(0x00CE2691, "0 type=0 value=0x0000003C"),
            get_line(0x00198FFF, "0 type=0 value=0x00000000"),
            get_line(0x00AC8497, "0 type=0 value=0x00000002"),
            get_line(0x10835002, "0 type=0 value=0x00000001"),
            get_line(0x107EFC5B, "0 type=0 value=0x00000001"),
            get_line(0x10D2BB16, "0 type=0 value=0x00000005"),
        ] + [set_line(sid, PRESET_VALUE[sid]) for sid in GAMER_IDS] + [
            "NvAPI_DRS_SaveSettings %s -> 0 settings=14" % SESSION,
        ] + CLOSE_LINES)
        after_gamer = {**ORIGINAL, **{sid: PRESET_VALUE[sid] for sid in GAMER_IDS}}
        self.assertState(after_gamer)

        self.assertResult(self.run_tool("apply", "extremo", wine.winpath(self.backup)),
                          applied(13, 13), 0)
        self.assertEqual(self.backup.read_bytes(), EXTREMO_AFTER_GAMER_BACKUP)
        # Only the rows without an entry are read; every row of the preset is written.
        self.assertEqual([l for l in self.calls() if "GetSetting" in l],
                         [get_line(sid, "0 type=0 value=0x%08X" % ORIGINAL[sid])
                          for sid in ALL_IDS[8:]])
        self.assertEqual([l for l in self.calls() if "SetSetting" in l],
                         [set_line(sid, PRESET_VALUE[sid]) for sid in ALL_IDS])
        self.assertState({**ORIGINAL, **PRESET_VALUE})

        self.assertResult(self.run_tool("restore", wine.winpath(self.backup)), restored(13), 0)
        restore_calls = []
        for sid in ALL_IDS:
            if sid == 0x0064B541:
                restore_calls.append(delete_line(sid))  # it had no value: absent again
            else:
                restore_calls.append(set_line(sid, ORIGINAL[sid]))
        self.assertEqual(self.calls(), open_lines(14) + restore_calls + [
            "NvAPI_DRS_SaveSettings %s -> 0 settings=13" % SESSION,
        ] + CLOSE_LINES)
        self.assertEqual(self.state.read_bytes(), original_bytes)
        self.assertFalse(self.backup.exists())
        self.assertEqual(sorted(p.name for p in self.dir.iterdir()), ["calls.log", "state.txt"],
                         "no temporary file is left behind")

    def test_apply_competitivo_takes_rows_1_to_10(self):
        self.write_state(ALL_PRESENT)
        self.assertResult(self.run_tool("apply", "competitivo", wine.winpath(self.backup)),
                          applied(10, 10), 0)
        self.assertEqual([l for l in self.calls() if "SetSetting" in l],
                         [set_line(sid, PRESET_VALUE[sid]) for sid in ALL_IDS[:10]])

    def test_second_apply_keeps_the_first_originals_even_after_the_driver_changed(self):
        self.write_state(ORIGINAL)
        self.run_tool("apply", "gamer", wine.winpath(self.backup))
        self.write_state({sid: 0x77 for sid in ALL_IDS})  # someone changed everything since
        self.assertResult(self.run_tool("apply", "gamer", wine.winpath(self.backup)),
                          applied(8, 8), 0)
        self.assertEqual(self.backup.read_bytes(), GAMER_BACKUP)
        self.assertNotIn("NvAPI_DRS_GetSetting", self.call_names())

    def test_apply_over_a_read_only_backup_adds_its_entries(self):
        self.write_state(ORIGINAL)
        self.run_tool("apply", "gamer", wine.winpath(self.backup))
        self.backup.chmod(0o444)
        self.assertResult(self.run_tool("apply", "extremo", wine.winpath(self.backup)),
                          applied(13, 13), 0)
        self.assertEqual(self.backup.read_bytes(), EXTREMO_AFTER_GAMER_BACKUP)

    def test_restore_without_a_backup_reports_nothing_and_opens_no_driver(self):
        self.assertResult(self.run_tool("restore", wine.winpath(self.backup)), NOTHING, 0)
        self.assertEqual(self.log_lines(), [])
        self.assertFalse(self.backup.exists())

    def test_restore_of_a_partial_backup_counts_only_its_rows(self):
        self.write_state(ORIGINAL)
        self.run_tool("apply", "gamer", wine.winpath(self.backup))
        self.assertResult(self.run_tool("restore", wine.winpath(self.backup)), restored(8), 0)
        self.assertState(ORIGINAL)

    def test_restore_of_a_header_only_backup_removes_it(self):
        self.backup.write_bytes(b"format=1\r\nvendor=nvidia\r\n")
        self.assertResult(self.run_tool("restore", wine.winpath(self.backup)), restored(0), 0)
        self.assertFalse(self.backup.exists())
        self.assertEqual(self.call_names(), OPEN + ["NvAPI_DRS_SaveSettings"] + CLOSE)

    def test_restore_deleting_an_already_absent_setting_counts_as_restored(self):
        self.backup.write_bytes(b"format=1\r\nvendor=nvidia\r\nsetting.0x0064B541=missing\r\n")
        self.assertResult(self.run_tool("restore", wine.winpath(self.backup)), restored(1), 0)
        self.assertIn(delete_line(0x0064B541, "-160"), self.calls())
        self.assertFalse(self.backup.exists())

    def test_restore_reads_each_recorded_number_form(self):
        # (entry text, the number it restores or None when it cannot be read)
        cases = [
            (b"value:20", 20), (b"value:0x14", 20), (b"value:024", 20), (b"value: 0X14", 20),
            (b"value:20 trailing", 20), (b"value:-4294967276", 20), (b"value:0xFFFFFFFF", 2**32 - 1),
            (b"value:0x", 0),  # the "0" is the number and the "x" trailing text
            (b"value:", None), (b"value:abc", None), (b"valor:1", None), (b"0x14", None),
            (b"value:4294967296", None), (b"value:-", None), (b"VALUE:20", None), (b"", None),
        ]
        for text, number in cases:
            with self.subTest(value=text):
                self.write_state(ORIGINAL)
                before = self.state.read_bytes()
                content = (b"format=1\r\nvendor=nvidia\r\nsetting.0x00CE2691=" + text +
                           b"\r\nsetting.0x10D2BB16=value:0x00000009\r\n")
                self.backup.write_bytes(content)
                result = self.run_tool("restore", wine.winpath(self.backup))
                expected = {**ORIGINAL, 0x10D2BB16: 9}
                if number is not None:
                    self.assertResult(result, restored(2), 0)
                    self.assertFalse(self.backup.exists())
                    expected[0x00CE2691] = number
                else:
                    self.assertResult(result, restore_incomplete(2, 1), 22)
                    self.assertEqual(self.backup.read_bytes(), content, "kept byte for byte")
                    self.assertNotIn("id=0x00CE2691", " ".join(self.calls()))
                # The readable entries are put back and committed either way.
                self.assertState(expected)
                self.assertNotEqual(self.state.read_bytes(), before)

    def test_backup_with_foreign_entries_is_rewritten_with_only_those(self):
        self.write_state(ORIGINAL)
        self.run_tool("apply", "gamer", wine.winpath(self.backup))
        content = self.backup.read_bytes()
        self.backup.write_bytes(content + b"global.rsr=1\r\nzz.other=a=b\r\n")
        self.assertResult(self.run_tool("restore", wine.winpath(self.backup)), restored(8), 0)
        self.assertEqual(self.backup.read_bytes(),
                         b"format=1\r\nvendor=nvidia\r\nglobal.rsr=1\r\nzz.other=a=b\r\n")
        self.assertState(ORIGINAL)
        # The rewrite is complete: a second restore finds none of our entries and removes it.
        self.assertResult(self.run_tool("restore", wine.winpath(self.backup)), restored(0), 0)
        self.assertEqual(self.backup.read_bytes(),
                         b"format=1\r\nvendor=nvidia\r\nglobal.rsr=1\r\nzz.other=a=b\r\n")


class BackupPaths(NvidiaCase):
    def test_round_trip_through_a_path_with_spaces_and_non_ascii_characters(self):
        self.write_state(ORIGINAL)
        original_bytes = self.state.read_bytes()
        backup = self.dir / "Cópia de segurança" / "日本 ñ 😀" / "backup nvidia.txt"
        env = {"LC_ALL": "C.UTF-8"}
        self.assertResult(self.run_tool("apply", "gamer", wine.winpath(backup), env=env),
                          applied(8, 8), 0)
        self.assertEqual(backup.read_bytes(), GAMER_BACKUP)
        self.assertResult(self.run_tool("restore", wine.winpath(backup), env=env),
                          restored(8), 0)
        self.assertFalse(backup.exists())
        self.assertEqual(self.state.read_bytes(), original_bytes)

    def test_relative_path_is_relative_to_the_working_directory(self):
        self.write_state(ORIGINAL)
        self.assertResult(self.run_tool("apply", "gamer", "sub\\rel backup.txt", cwd=self.dir),
                          applied(8, 8), 0)
        self.assertEqual((self.dir / "sub" / "rel backup.txt").read_bytes(), GAMER_BACKUP)
        self.assertResult(self.run_tool("restore", "sub/rel backup.txt", cwd=self.dir),
                          restored(8), 0)
        self.assertFalse((self.dir / "sub" / "rel backup.txt").exists())

    def test_a_directory_at_the_backup_path_changes_nothing(self):
        self.write_state(ORIGINAL)
        before = self.state.read_bytes()
        self.backup.mkdir()
        (self.backup / "inside.txt").write_bytes(b"keep")
        self.assertResult(self.run_tool("apply", "gamer", wine.winpath(self.backup)),
                          backup_failed(0), 20)
        self.assertEqual(self.call_names(), OPEN + CLOSE)
        self.assertResult(self.run_tool("restore", wine.winpath(self.backup)),
                          restore_incomplete(0, 0), 22)
        self.assertEqual(self.call_names(), OPEN + CLOSE)
        self.assertEqual(self.state.read_bytes(), before)
        self.assertEqual((self.backup / "inside.txt").read_bytes(), b"keep")
        self.assertEqual(sorted(p.name for p in self.backup.iterdir()), ["inside.txt"])

    def test_backup_directory_that_cannot_be_created_fails_before_any_write(self):
        self.write_state(ORIGINAL)
        before = self.state.read_bytes()
        (self.dir / "blocker").write_bytes(b"a file, not a directory")
        backup = self.dir / "blocker" / "sub" / "backup.txt"
        self.assertResult(self.run_tool("apply", "gamer", wine.winpath(backup)),
                          backup_failed(8), 20)
        self.assertEqual(self.call_names(), OPEN + ["NvAPI_DRS_GetSetting"] * 8 + CLOSE)
        self.assertEqual(self.state.read_bytes(), before)
        self.assertEqual((self.dir / "blocker").read_bytes(), b"a file, not a directory")

    def test_a_path_whose_existence_cannot_be_told_touches_nothing(self):
        # Wine answers a query of a UNC path to a server that does not exist with an
        # error outside the not-found family.
        self.write_state(ORIGINAL)
        before = self.state.read_bytes()
        path = "\\\\nosuchserver-e2e\\share\\backup.txt"
        self.assertResult(self.run_tool("restore", path), restore_incomplete(0, 0), 22)
        self.assertEqual(self.log_lines(), [], "the driver is not opened")
        self.assertEqual(self.state.read_bytes(), before)


class WithoutLibrary(NvidiaCase):
    variant = None

    def test_every_command_is_unsupported(self):
        self.backup.write_bytes(GAMER_BACKUP)
        for args in (["status"], ["apply", "gamer", wine.winpath(self.dir / "new.txt")],
                     ["restore", wine.winpath(self.backup)]):
            with self.subTest(args=args):
                self.assertResult(self.run_tool(*args), UNSUPPORTED, 10)
                self.assertFalse((self.dir / "new.txt").exists())
                self.assertEqual(self.backup.read_bytes(), GAMER_BACKUP)
                self.assertFalse(self.log.exists())

    def test_restore_without_a_backup_is_nothing(self):
        self.assertResult(self.run_tool("restore", wine.winpath(self.backup)), NOTHING, 0)


class CommandLine(NvidiaCase):
    def test_command_line_errors_touch_neither_driver_nor_file(self):
        bad_arguments = (b"result=error;vendor=NVIDIA;supported=0;changed=0;"
                         b"message=Argumentos invalidos\r\n")
        missing = b"result=error;vendor=NVIDIA;supported=0;changed=0;message=Comando ausente\r\n"
        bad_preset = b"result=error;vendor=NVIDIA;supported=0;changed=0;message=Perfil invalido\r\n"
        path = wine.winpath(self.backup)
        cases = [
            ([], missing, 2),
            ([""], bad_arguments, 2),
            (["", "gamer", path], bad_arguments, 2),
            (["frobnicate"], bad_arguments, 2),
            (["frobnicate", "gamer", path], bad_arguments, 2),
            (["status "], bad_arguments, 2),
            (["statuss"], bad_arguments, 2),
            (["apply"], bad_arguments, 2),
            (["apply", "gamer"], bad_arguments, 2),
            (["apply", "gamer", ""], bad_arguments, 2),
            (["apply", "turbo"], bad_arguments, 2),
            (["restore"], bad_arguments, 2),
            (["RESTOR", path], bad_arguments, 2),
            (["apply", "turbo", path], bad_preset, 3),
            (["apply", "gamer ", path], bad_preset, 3),
            (["apply", "gamers", path], bad_preset, 3),
            (["apply", "", path], bad_preset, 3),
            (["APPLY", "gámer", path], bad_preset, 3),
        ]
        for args, line, code in cases:
            with self.subTest(args=args):
                before = sorted(self.dir.iterdir())
                # From the test's own folder: an empty path must not become a ".tmp" there.
                self.assertResult(self.run_tool(*args, env={"LC_ALL": "C.UTF-8"}, cwd=self.dir),
                                  line, code)
                self.assertFalse(self.log.exists(), "no driver call")
                self.assertFalse(self.backup.exists(), "no backup file")
                self.assertFalse(pathlib.Path(str(self.backup) + ".tmp").exists())
                self.assertEqual(sorted(self.dir.iterdir()), before)

    def test_words_are_compared_without_ascii_case_and_extra_arguments_are_ignored(self):
        path = wine.winpath(self.backup)
        cases = [
            (["STATUS"], DETECTED, 0),
            (["Status", "extra", "args"], DETECTED, 0),
            (["ReStOrE", path, "extra"], NOTHING, 0),
            (["Apply", "GAMER", path, "extra", "more"], applied(8, 8), 0),
            (["apply", "Extremo", path], applied(13, 13), 0),
            (["RESTORE", path], restored(13), 0),
        ]
        self.write_state(ORIGINAL)
        for args, line, code in cases:
            with self.subTest(args=args):
                self.assertResult(self.run_tool(*args), line, code)
        self.assertState(ORIGINAL)
        self.assertFalse(self.backup.exists())




def open_lines(settings):
    """The four opening calls on a committed profile of `settings` entries."""
    return [
        "NvAPI_Initialize -> 0",
        "NvAPI_DRS_CreateSession -> 0 " + SESSION,
        "NvAPI_DRS_LoadSettings %s -> 0 settings=%d" % (SESSION, settings),
        "NvAPI_DRS_GetBaseProfile %s -> 0 profile=0xBA5E0001" % SESSION,
    ]


CLOSE_LINES = [
    "NvAPI_DRS_DestroySession %s -> 0" % SESSION,
    "UnloadWithArgument arg=0 -> 0",
]

if __name__ == "__main__":
    unittest.main()
