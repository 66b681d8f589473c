"""preset-amd under Wine with faults injected into the simulated ADLX runtime: every
result line and exit code, what the backup and the runtime hold afterwards, and that no
object outlives ADLXTerminate on any of these paths. Also the runtime's export variants."""
import re
import unittest

from harness import amd
from harness.amd import (DETECTED, NO_SETTING, UNAVAILABLE, AmdCase, applied,
                         applied_partly, restore_incomplete, restored)


class StatusFaults(AmdCase):
    def setUp(self):
        super().setUp()
        self.place("app")

    def test_every_way_to_find_no_gpu(self):
        cases = [
            ({"SIM_ADLX_FAULTS": "Initialize=3"}, 2, UNAVAILABLE, 10),
            ({"SIM_ADLX_FAULTS": "Initialize:ADLXInitialize2=-1"}, 2, UNAVAILABLE, 10),
            ({"SIM_ADLX_FAULTS": "Initialize=2"}, 2, DETECTED, 0),
            ({"SIM_ADLX_FAULTS": "GetGPUs=3"}, 2, UNAVAILABLE, 10),
            ({"SIM_ADLX_FAULTS": "GetGPUs=3+out"}, 2, UNAVAILABLE, 10),
            ({"SIM_ADLX_FAULTS": "GetGPUs=0-out"}, 2, UNAVAILABLE, 10),
            ({"SIM_ADLX_FAULTS": "Get3DSettingsServices=4+out"}, 2, UNAVAILABLE, 10),
            ({"SIM_ADLX_FAULTS": "Get3DSettingsServices=1"}, 2, DETECTED, 0),
            ({}, 0, UNAVAILABLE, 10),
        ]
        for env, gpus, expected, code in cases:
            with self.subTest(env=env, gpus=gpus):
                self.log.unlink(missing_ok=True)
                self.assertResult(self.run_tool("status", gpus=gpus, env=env), expected, code)
                self.assertNothingLeaked()
                # A refused initialise is left to the binding's clean-up at exit.
                self.assertEqual(len(self.calls("ADLXTerminate")), 1)
                self.assertEqual(self.log_lines()[-1], "DLL detached")


    def test_a_configuration_it_cannot_parse_stops_the_run_at_load(self):
        # No line and exit 98, also from a variant the program never calls into.
        cases = [
            ({"SIM_ADLX_FAULTS": "SetEnabled=bogus"}, "",
             "SIM_ADLX_FAULTS: fault rule with a bad status: SetEnabled=bogus"),
            ({"SIM_ADLX_FAULTS": "SetEnabled=bogus"}, "no-terminate",
             "SIM_ADLX_FAULTS: fault rule with a bad status: SetEnabled=bogus"),
            ({"SIM_ADLX_FAULTS": "SetEnabld=3"}, "",
             "SIM_ADLX_FAULTS: fault rule for an unknown call: SetEnabld=3"),
            ({"SIM_ADLX_FAULTS": "GetMode=3;SetEnabled:gpu0.bost=3"}, "",
             "SIM_ADLX_FAULTS: fault rule with a target its call never has:"
             " SetEnabled:gpu0.bost=3"),
            ({"SIM_ADLX_FAULTS": "SetMode@2#2=3"}, "",
             "SIM_ADLX_FAULTS: fault rule with two call numbers: SetMode@2#2=3"),
            ({"SIM_ADLX_ABSENT": "chil"}, "", "SIM_ADLX_ABSENT: unknown setting: chil"),
            ({"SIM_ADLX_GPUS": "two"}, "", "SIM_ADLX_GPUS: not a number from 0 to 64: two"),
            # A misspelt name, in any letter case, as Windows finds variables.
            ({"sim_adlx_fault": "SetEnabled=3"}, "",
             "SIM_ADLX_FAULT: not a variable of this library, which reads SIM_ADLX_GPUS,"
             " SIM_ADLX_IDS, SIM_ADLX_ABSENT, SIM_ADLX_UNSUPPORTED, SIM_ADLX_MISSING_SERVICES,"
             " SIM_ADLX_INITIAL, SIM_ADLX_FAULTS, SIM_ADLX_STATE, SIM_ADLX_LOG, SIM_ADLX_WATCH,"
             " SIM_ADLX_MARK_STDOUT, SIM_ADLX_LOAD_BY_NAME"),
        ]
        for env, variant, message in cases:
            with self.subTest(env=env, variant=variant):
                self.log.unlink(missing_ok=True)
                self.place("app", variant)
                stderr = []
                self.assertResult(self.run_tool("status", env=env, stderr=stderr), b"",
                                  amd.SIM_CONFIG_EXIT)
                self.assertEqual(stderr, [b"simulated amdadlx64.dll: %s\r\n" % message.encode()])
                self.assertEqual(self.log_lines(), ["DLL attached", "CONFIG-ERROR " + message])

    def test_crash_and_exit_both_end_the_run_at_that_call(self):
        for word in ("crash", "exit"):  # "exit" is the NVIDIA library's word for it
            with self.subTest(word=word):
                env = {"SIM_ADLX_FAULTS": "GetGPUs=" + word}
                self.assertResult(self.run_tool("status", env=env), b"", amd.SIM_CRASH_EXIT)
                self.assertEqual(self.log_lines()[-1], "CRASH GetGPUs ")


class ApplyFaults(AmdCase):
    def setUp(self):
        super().setUp()
        self.place("app")

    def test_counts_under_faults(self):
        # Two GPUs (7, -2), everything on: "gamer" finds 24 settings.
        cases = [
            ("Get:chill=3", None, applied(22, 22), 0),
            ("Get:gpu1.aa-mode=3+out", None, applied(23, 23), 0),
            ("IsSupported:gpu1.aa-mode=3", None, applied(23, 23), 0),
            ("IsEnabled:gpu0.chill=3", None, applied_partly(23, 23), 21),
            ("GetMode:vsync-mode=5", None, applied_partly(22, 22), 21),
            ("SetEnabled:gpu0.boost=3", None, applied_partly(24, 23), 21),
            ("SetMode@2=3", None, applied_partly(24, 23), 21),
            ("SetEnabled:rsr=1", None, applied(24, 24), 0),
            # The second GPU may share the first one's unknown id: it is left alone.
            ("At:0=3+out", None, applied_partly(13, 2), 21),
            ("At=3", None, applied(2, 2), 0),
            ("QueryInterface:1=3+out", None, applied(23, 23), 0),
            ("QueryInterface:3=3", None, applied(20, 20), 0),
            ("IsEnabled=3;GetMode=3", None, NO_SETTING, 10),
            # The spellings the NVIDIA library reads are read here too.
            ("SetMode#2=3", None, applied_partly(24, 23), 21),
            ("IsEnabled=3,GetMode=3", None, NO_SETTING, 10),
            ("*:gpu0.boost#1=0x3", None, applied(23, 23), 0),
            ("GetGPUs=3", None, UNAVAILABLE, 10),
            ("", {"SIM_ADLX_MISSING_SERVICES": "1,3"}, applied(19, 19), 0),
            ("", {"SIM_ADLX_ABSENT": "gpu1.chill,rsr"}, applied(22, 22), 0),
            ("", {"SIM_ADLX_UNSUPPORTED": "vsync-mode"}, applied(22, 22), 0),
            ("", {"SIM_ADLX_INITIAL": "chill=0,gpu1.aa-mode=0"}, applied(24, 21), 0),
        ]
        for faults, extra, expected, code in cases:
            with self.subTest(faults=faults, extra=extra):
                self.backup.unlink(missing_ok=True)
                self.state_file.unlink(missing_ok=True)
                self.log.unlink(missing_ok=True)
                env = dict(extra or {})
                env["SIM_ADLX_FAULTS"] = faults
                self.assertResult(self.run_tool("apply", "gamer", self.backup_arg(), env=env),
                                  expected, code)
                self.assertNothingLeaked()
                self.assertEqual(self.backup.exists(), code != 10)

    def test_ids_that_are_missing_negative_or_shared(self):
        cases = [
            ("none,none", ["gpu.0.", "gpu.1."], {}, applied(24, 24), 0),
            ("-2147483648,2147483647", ["gpu.-2147483648.", "gpu.2147483647."], {},
             applied(24, 24), 0),
            # One set of keys holds the first GPU's originals: the second is never written.
            ("5,5", ["gpu.5."], {"SIM_ADLX_INITIAL": "gpu1.aa-mode=2"},
             applied_partly(24, 13), 21),
        ]
        for ids, prefixes, env, expected, code in cases:
            with self.subTest(ids=ids):
                self.backup.unlink(missing_ok=True)
                self.state_file.unlink(missing_ok=True)
                self.assertResult(self.run_tool("apply", "gamer", self.backup_arg(), ids=ids,
                                                env=env), expected, code)
                keys = [k for k in amd.parse_backup(self.backup.read_bytes())
                        if k.startswith("gpu.")]
                self.assertEqual(sorted({k[:k.index(".", 4) + 1] for k in keys}), sorted(prefixes))
                self.assertNothingLeaked()
        # The shared ids' backup holds only the first GPU's originals: a restore that cannot
        # fetch the second GPU leaves none of them unreached, and leaves the second as it was.
        initial = dict(amd.default_state(), **{"gpu1.aa-mode": 2})
        self.assertEqual(self.state(), dict(initial, **{
            "gpu0.%s" % n: 1 if n == "vsync-mode" else 0 for n in amd.PER_GPU
            if n != "enhanced-sync"}, rsr=0, afmf=0))
        self.log.unlink()
        self.assertResult(self.run_tool("restore", self.backup_arg(), ids="5,5",
                                        env={"SIM_ADLX_FAULTS": "At:1=3"}), restored(13), 0)
        self.assertEqual(self.state(), initial)
        self.assertFalse(self.backup.exists())
        self.assertEqual([c for c in self.calls("SetEnabled") + self.calls("SetMode")
                          if c.split(" ")[1].startswith("gpu1.")], [])
        self.assertNothingLeaked()

    def test_second_gpu_never_fetched_round_trip(self):
        # Nothing of the second GPU is recorded, so nothing of it is left unreached.
        never = {"SIM_ADLX_FAULTS": "At:1=3"}
        self.assertResult(self.run_tool("apply", "gamer", self.backup_arg(), env=never),
                          applied(13, 13), 0)
        self.assertResult(self.run_tool("restore", self.backup_arg(), env=never),
                          restored(13), 0)
        self.assertFalse(self.backup.exists())
        self.assertEqual(self.state(), amd.default_state())
        self.assertNothingLeaked()

    def test_backup_that_cannot_be_read_is_left_alone(self):
        self.backup.mkdir()  # something stands there that cannot be read as a file
        before = self.state()
        self.assertResult(self.run_tool("apply", "gamer", self.backup_arg()),
                          applied_partly(24, 0), 21)
        self.assertTrue(self.backup.is_dir())
        self.assertEqual(self.state(), before)
        self.assertEqual(self.calls("SetEnabled") + self.calls("SetMode"), [])
        self.assertResult(self.run_tool("restore", self.backup_arg()), restore_incomplete(0, 0),
                          22)
        self.assertNothingLeaked()

    def test_backup_directory_that_cannot_be_created(self):
        self.backup.write_bytes(b"")
        target = amd.wine.winpath(self.backup) + "\\inside.txt"  # a file used as a directory
        self.assertResult(self.run_tool("apply", "gamer", target), applied_partly(24, 0), 21)
        self.assertEqual(self.calls("SetEnabled") + self.calls("SetMode"), [])
        self.assertNothingLeaked()

    def test_crash_in_the_middle_leaves_a_backup_that_restores(self):
        self.assertResult(
            self.run_tool("apply", "gamer", self.backup_arg(),
                          env={"SIM_ADLX_FAULTS": "SetEnabled:gpu0.boost=crash"}),
            b"", amd.SIM_CRASH_EXIT)
        entries = amd.parse_backup(self.backup.read_bytes())
        # The crash came in the first GPU's changes: its settings were all saved before them.
        gpu_keys = ["gpu.7." + name for name in (
            "chill", "boost", "frtc", "sharpening", "mlaa", "aa-mode", "anisotropic",
            "tessellation-mode", "vsync-mode", "fsr", "frame-generation")]
        self.assertEqual(sorted(entries),
                         sorted(["format", "vendor", "global.rsr", "global.afmf", *gpu_keys]))
        self.assertEqual(self.state()["gpu0.chill"], 0)
        self.assertEqual(self.state()["gpu0.frtc"], 1)
        self.assertResult(self.run_tool("restore", self.backup_arg()), restored(13), 0)
        self.assertEqual(self.state(), amd.default_state())


class RestoreFaults(AmdCase):
    def setUp(self):
        super().setUp()
        self.place("app")
        self.run_tool("apply", "extremo", self.backup_arg())
        self.applied_backup = self.backup.read_bytes()
        self.log.unlink()

    def assertRestoresAll(self):
        """A restore without faults puts every setting back, gives up the file and leaves
        nothing alive in the runtime."""
        self.assertResult(self.run_tool("restore", self.backup_arg()), restored(26), 0)
        self.assertEqual(self.state(), amd.default_state())
        self.assertFalse(self.backup.exists())
        self.assertNothingLeaked()

    def test_a_refusal_keeps_the_file_and_a_second_restore_finishes(self):
        self.assertResult(
            self.run_tool("restore", self.backup_arg(),
                          env={"SIM_ADLX_FAULTS": "SetEnabled:gpu1.chill=3"}),
            restore_incomplete(26, 25), 22)
        self.assertEqual(self.backup.read_bytes(), self.applied_backup)
        self.assertEqual(self.state()["gpu1.chill"], 0)
        self.assertEqual(self.state()["gpu0.chill"], 1)
        self.assertRestoresAll()

    def test_faults_that_keep_the_file(self):
        cases = [
            ("Initialize=3", UNAVAILABLE, 10),
            ("GetGPUs=3+out", UNAVAILABLE, 10),
            ("Get3DSettingsServices=3", UNAVAILABLE, 10),
            ("SetMode:gpu0.aa-mode=4", restore_incomplete(26, 25), 22),
        ]
        for faults, expected, code in cases:
            with self.subTest(faults=faults):
                self.assertResult(self.run_tool("restore", self.backup_arg(),
                                                env={"SIM_ADLX_FAULTS": faults}), expected, code)
                self.assertEqual(self.backup.read_bytes(), self.applied_backup)
                self.assertNothingLeaked()

    def test_skipped_settings_do_not_block_the_deletion(self):
        # Gone for good on a GPU that is there: no longer supported, "not supported" from
        # the getter. Their entries are dropped with the file.
        env = {"SIM_ADLX_UNSUPPORTED": "gpu0.chill", "SIM_ADLX_FAULTS": "Get:rsr=5"}
        self.assertResult(self.run_tool("restore", self.backup_arg(), env=env), restored(24), 0)
        self.assertFalse(self.backup.exists())
        self.assertNothingLeaked()

    def test_a_missing_gpu_keeps_the_file_until_it_is_back(self):
        # GPU -2 out of the list: its twelve originals are not back, so the file stays.
        self.assertResult(self.run_tool("restore", self.backup_arg(), gpus=1),
                          restore_incomplete(26, 14), 22)
        self.assertEqual(self.backup.read_bytes(), self.applied_backup)
        self.assertRestoresAll()

    def test_settings_out_of_reach_keep_the_file(self):
        # A failing getter, a failing IsSupported, a GPU that cannot be fetched or named:
        # their recorded values have not gone back, so deleting the file would lose them.
        cases = [
            ("Get:rsr=3", restore_incomplete(26, 25)),
            ("IsSupported:gpu1.fsr=4", restore_incomplete(26, 25)),
            ("QueryInterface:1=3", restore_incomplete(26, 25)),
            ("QueryInterface:3=3", restore_incomplete(26, 22)),
            ("At:1=3", restore_incomplete(26, 14)),
            # The GPU after one that cannot be named is not written either: it may share its id.
            ("UniqueId:gpu0=3-out", restore_incomplete(26, 2)),
        ]
        for faults, expected in cases:
            with self.subTest(faults=faults):
                self.assertResult(self.run_tool("restore", self.backup_arg(),
                                                env={"SIM_ADLX_FAULTS": faults}), expected, 22)
                self.assertEqual(self.backup.read_bytes(), self.applied_backup)
                self.assertNothingLeaked()
        self.assertRestoresAll()

    def test_saved_texts_that_are_not_numbers(self):
        self.backup.write_bytes(b"format=1\r\nvendor=amd\r\ngpu.7.aa-mode=abc\r\n"
                                b"gpu.7.vsync-mode=5abc\r\ngpu.7.chill=true\r\n")
        self.assertResult(self.run_tool("restore", self.backup_arg()),
                          restore_incomplete(3, 2), 22)
        self.assertEqual(self.state()["gpu0.vsync-mode"], 5)
        self.assertEqual(self.state()["gpu0.chill"], 0)
        self.assertEqual(self.calls("SetMode"), ["SetMode gpu0.vsync-mode#%s 5 -> 0"
                                                 % self.calls("SetMode")[0].split("#")[1]
                                                 .split(" ")[0]])


class ExportVariants(AmdCase):
    def test_which_initialise_entry_is_taken(self):
        cases = [
            ("", DETECTED, 0, "ADLXInitialize2"),
            ("no-incompatible2", DETECTED, 0, "ADLXInitialize2"),
            ("legacy", DETECTED, 0, "ADLXInitialize"),
            ("no-initialize2", UNAVAILABLE, 10, None),
            ("no-caller-adl", UNAVAILABLE, 10, None),
            ("no-terminate", UNAVAILABLE, 10, None),
        ]
        for where in ("app", "system32"):
            for variant, expected, code, entry in cases:
                with self.subTest(where=where, variant=variant):
                    self.log.unlink(missing_ok=True)
                    (self.app / amd.DLL_NAME).unlink(missing_ok=True)
                    amd.wine.remove_dll(amd.DLL_NAME)
                    self.place(where, variant)
                    self.assertResult(self.run_tool("status"), expected, code)
                    initialised = [e for e in self.log_lines() if re.match(r"ADLXInitialize", e)]
                    if entry is None:
                        # Refused by the presence check: nothing was initialised; only the
                        # binding's clean-up at exit calls ADLXTerminate, where there is one.
                        terminate = [] if variant == "no-terminate" else [
                            "ADLXTerminate live=0 misuse=0 -> 0"]
                        self.assertEqual(self.log_lines(),
                                         ["DLL attached"] + terminate + ["DLL detached"])
                    else:
                        self.assertEqual(initialised,
                                         ["%s 0x000100050000007C -> 0" % entry])
                    self.assertNothingLeaked()


if __name__ == "__main__":
    unittest.main()
