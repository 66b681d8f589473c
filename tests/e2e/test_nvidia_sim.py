"""The simulated NVIDIA driver library on its own, driven call by call by nvapi-sim-probe.

The tools only ever walk the happy order; these tests pin down how the library answers
everything else, so a front-end author can rely on it: calls before initialising, bad
handles, sessions that see only their own changes until they commit, the state file, the
fault grammar and the variants' query answers; and that every variant exports only the
query entry and imports only Windows system DLLs.
"""
import re
import shutil
import subprocess
import unittest

from harness import wine  # noqa: E402
from harness.nvidia import (  # noqa: E402
    PROBE, SIM_CONFIG_EXIT, SIM_FAULT_EXIT, VARIANTS, SimulatedNvapiCase, sim_dll)

OPENED = ["init", "create", "load s1", "base s1"]


class Probe(SimulatedNvapiCase):
    needs = PROBE
    folder_prefix = "nvapi-sim-"

    def probe(self, *commands, variant="", faults=None, types=None, state=True, stderr=None,
              env=None):
        """Runs the commands; returns (the status lines, exit code). A list as `stderr`
        receives the bytes of standard error; `env` holds further variables."""
        out, code = wine.run(PROBE, [wine.winpath(sim_dll(variant)), *commands],
                             env=self.sim_env(faults, types, env, state), stderr=stderr)
        return out.decode("ascii").splitlines(), code

    def statuses(self, *commands, **kwargs):
        lines, code = self.probe(*commands, **kwargs)
        self.assertEqual(code, 0, lines)
        return [line.split(" -> ", 1)[1] for line in lines]

    def test_every_call_before_initialising_fails(self):
        self.assertEqual(self.statuses(
            "create", "load 0x5E550001", "base 0x5E550001",
            "get 0x5E550001 0xBA5E0001 1", "set 0x5E550001 0xBA5E0001 1 1",
            "delete 0x5E550001 0xBA5E0001 1", "save 0x5E550001", "destroy 0x5E550001",
            "unload", "unloadarg 0"), ["-4"] * 10)
        flagged = [l.split(" ", 2)[2] for l in self.log.read_text().splitlines()
                   if l.startswith("MISUSE")]
        self.assertEqual(flagged, ["library not-initialised"] * 10)

    def test_bad_handles_and_arguments_fail_and_are_flagged(self):
        self.state.write_bytes(b"0x00000001=0x00000002\r\n")
        # What the MISUSE line says of the subject, and the status that goes with it.
        statuses = {"unknown": "-8", "released": "-8", "not-loaded": "-7", "bad-version": "-9",
                    "null-record": "-5", "null-out": "-5", "bad-argument": "-5",
                    "not-initialised": "-4"}
        # Commands after opening; what the last one's MISUSE line says.
        cases = [
            ("load 0", "session=0x0 unknown"), ("base 0x1234", "session=0x1234 unknown"),
            ("load 0x5E550002", "session=0x5E550002 unknown"),
            ("get s1 0 1", "profile=0x0 unknown"), ("get 0 p1 1", "session=0x0 unknown"),
            ("get s1 0xBA5E0002 1", "profile=0xBA5E0002 unknown"),
            ("set s1 0 1 1", "profile=0x0 unknown"), ("save 0x99", "session=0x99 unknown"),
            ("delete s1 0xBA5E0009 1", "profile=0xBA5E0009 unknown"),
            ("destroy 0x5E550009", "session=0x5E550009 unknown"),
            (("destroy s1", "get s1 p1 1"), "session=0x5E550001 released"),
            (("unload", "save s1"), "library not-initialised"),
            (("create", "base s2", "get s2 p2 1"), "session=0x5E550002 not-loaded"),
            ("get s1 p1 1 0x10000", "record bad-version"),  # version stamp
            ("set s1 p1 1 5 0 0", "record bad-version"),
            ("get s1 p1 1 null", "record null-record"), ("create null", "library null-out"),
            ("set s1 p1 1 5 null", "record null-record"),
            ("base s1 null", "session=0x5E550001 null-out"),
            ("unloadarg 7", "library bad-argument"),
        ]
        for commands, misuse in cases:
            commands = (commands,) if isinstance(commands, str) else commands
            with self.subTest(commands=commands):
                self.assertEqual(self.statuses(*OPENED, *commands)[-1],
                                 statuses[misuse.split(" ")[1]])
                log = self.log.read_text().splitlines()
                # The flag stands right before the refused call's own line.
                self.assertEqual([l for l in log if l.startswith("MISUSE")],
                                 ["MISUSE %s %s" % (log[-2].split(" ")[0], misuse)])
                self.assertTrue(log[-3].startswith("MISUSE "), log)

    def test_settings_need_loading_first(self):
        self.state.write_bytes(b"0x00000001=0x00000002\r\n")
        self.assertEqual(self.statuses("init", "create", "base s1", "get s1 p1 1",
                                       "set s1 p1 1 1", "delete s1 p1 1", "save s1",
                                       "load s1", "get s1 p1 1"),
                         ["0"] * 3 + ["-7"] * 4 + ["0", "0 id=0x00000001 type=0 value=0x00000002"])
        self.assertEqual(self.state.read_bytes(), b"0x00000001=0x00000002\r\n")

    def test_sessions_see_their_own_copy_until_a_commit(self):
        self.state.write_bytes(b"# a comment\r\n\r\n0x10=5\n  0x20 = 0x7  type=3 \r\n")
        statuses = self.statuses(
            *OPENED, "create", "load s2", "base s2",
            "set s1 p1 0x10 9", "delete s1 p1 0x20", "set s1 p1 0x30 1",
            "get s2 p2 0x10", "get s2 p2 0x20",           # s2 still sees the commit
            "save s1",
            "get s2 p2 0x10",                              # loaded before: unchanged
            "create", "load s3", "base s3", "get s3 p3 0x10", "get s3 p3 0x20",
            "delete s3 p3 0x20", "get s1 p1 0x40", "destroy s3", "destroy s2", "destroy s1",
            "unload")
        self.assertEqual(statuses, [
            "0", "0", "0", "0", "0", "0", "0",
            "0", "0", "0",
            "0 id=0x00000010 type=0 value=0x00000005", "0 id=0x00000020 type=3 value=0x00000007",
            "0",
            "0 id=0x00000010 type=0 value=0x00000005",
            "0", "0", "0", "0 id=0x00000010 type=0 value=0x00000009", "-160",
            "-160", "-160", "0", "0", "0", "0"])
        self.assertEqual(self.state.read_bytes(),
                         b"0x00000010=0x00000009\r\n0x00000030=0x00000001\r\n")
        self.assertEqual(sorted(p.name for p in self.dir.iterdir()), ["calls.log", "state.txt"])

    def test_a_session_destroyed_without_commit_changes_nothing(self):
        self.state.write_bytes(b"0x00000010=0x00000005 type=2\r\n")
        self.statuses(*OPENED, "set s1 p1 0x10 1", "destroy s1", "unload")
        self.assertEqual(self.state.read_bytes(), b"0x00000010=0x00000005 type=2\r\n")

    def test_state_file_forms(self):
        cases = [
            (None, "0 settings=0"),                       # no file yet: empty profile
            (b"", "0 settings=0"),
            (b"0x1=2\r\n3=4", "0 settings=2"),           # decimal, no final line break
            (b"0x1=2 type=x\r\n", "-1 error=\"state file line 1: bad type\""),
            (b"0x1\r\n", "-1 error=\"state file line 1: expected <id>=<value>\""),
            (b"0x1=2\r\nfoo=1\r\n", "-1 error=\"state file line 2: expected <id>=<value>\""),
            (b"0x1=0x100000000\r\n", "-1 error=\"state file line 1: expected <id>=<value>\""),
        ]
        for content, logged in cases:
            with self.subTest(content=content):
                if self.state.exists():
                    self.state.unlink()
                if content is not None:
                    self.state.write_bytes(content)
                self.statuses("init", "create", "load s1")
                self.assertEqual(self.log.read_text().splitlines()[2],
                                 "NvAPI_DRS_LoadSettings session=0x5E550001 -> " + logged)

    def test_without_a_state_file_commits_live_in_memory(self):
        statuses = self.statuses(*OPENED, "set s1 p1 0x10 7", "save s1", "create", "load s2",
                                 "base s2", "get s2 p2 0x10", state=False)
        self.assertEqual(statuses[-1], "0 id=0x00000010 type=0 value=0x00000007")
        self.assertFalse(self.state.exists())

    def test_type_override_applies_to_present_settings(self):
        self.state.write_bytes(b"0x10=1\r\n")
        statuses = self.statuses(*OPENED, "get s1 p1 0x10", "get s1 p1 0x20",
                                 types="0x10=1, 0x20=4")
        self.assertEqual(statuses[-2:], ["0 id=0x00000010 type=1 value=0x00000001", "-160"])

    def test_fault_rules(self):
        self.state.write_bytes(b"0x10=1\r\n0x20=2\r\n")
        reads = ["get s1 p1 0x10", "get s1 p1 0x20", "get s1 p1 0x10", "get s1 p1 0x20"]
        ok10 = "0 id=0x00000010 type=0 value=0x00000001"
        ok20 = "0 id=0x00000020 type=0 value=0x00000002"
        cases = [
            ("GetSetting=-1", ["-1", "-1", "-1", "-1"]),
            ("NvAPI_DRS_GetSetting@0x20=-160", [ok10, "-160", ok10, "-160"]),
            ("GetSetting#3=-2", [ok10, ok20, "-2", ok20]),
            ("GetSetting@16#2=0xFFFFFF60", [ok10, ok20, "-160", ok20]),
            ("*#6=-33", [ok10, "-33", ok10, ok20]),       # 4 opening calls, then reads
            (" GetSetting@0x10 = -7 , GetSetting=-8 ", ["-7", "-8", "-7", "-8"]),
            # The spellings the ADLX runtime reads are read here too.
            ("GetSetting:0x20=-160", [ok10, "-160", ok10, "-160"]),
            ("GetSetting:16#2=-2;GetSetting=+5", ["5", "5", "-2", "5"]),
            ("SetSetting=-1", [ok10, ok20, ok10, ok20]),
            # An injected 0 performs nothing either: the record comes back as it went in.
            ("GetSetting=0", ["0 id=0x00000000 type=0 value=0x00000000"] * 4),
            ("", [ok10, ok20, ok10, ok20]),
        ]
        for rule, expected in cases:
            with self.subTest(rule=rule):
                self.assertEqual(self.statuses(*OPENED, *reads, faults=rule)[4:], expected)

    def test_injected_faults_are_logged_and_perform_nothing(self):
        self.state.write_bytes(b"0x10=1\r\n")
        self.statuses(*OPENED, "delete s1 p1 0x10", "save s1", faults="DeleteProfileSetting=-1")
        self.assertEqual(self.log.read_text().splitlines()[4:6], [
            "NvAPI_DRS_DeleteProfileSetting session=0x5E550001 profile=0xBA5E0001 id=0x00000010"
            " -> -1 (injected)",
            "NvAPI_DRS_SaveSettings session=0x5E550001 -> 0 settings=1"])
        self.assertEqual(self.state.read_bytes(), b"0x00000010=0x00000001\r\n")

    def test_exit_fault_ends_the_process_at_that_call(self):
        for word in ("exit", "crash"):  # the ADLX runtime's word means the same here
            with self.subTest(word=word):
                self.state.write_bytes(b"0x10=1\r\n")
                lines, code = self.probe(*OPENED, "set s1 p1 0x10 5", "save s1", "unload",
                                         faults="SaveSettings=" + word)
                self.assertEqual(code, SIM_FAULT_EXIT)
                self.assertEqual(lines, ["init -> 0", "create -> 0", "load -> 0", "base -> 0",
                                         "set -> 0"])
                self.assertEqual(self.log.read_bytes().split(b"\r\n")[-2],
                                 b"NvAPI_DRS_SaveSettings session=0x5E550001 -> exit (injected)")
                self.assertEqual(self.state.read_bytes(), b"0x10=1\r\n")

    def test_a_bad_configuration_stops_the_process(self):
        cases = [
            ({"faults": "GetSetting"}, "SIM_NVAPI_FAULTS: fault rule without '=': GetSetting"),
            ({"faults": "Frob=-1"}, "SIM_NVAPI_FAULTS: fault rule for an unknown function: Frob=-1"),
            ({"faults": "GetSetting#0=-1"},
             "SIM_NVAPI_FAULTS: fault rule with a bad call number: GetSetting#0=-1"),
            ({"faults": "GetSetting@zz=-1"},
             "SIM_NVAPI_FAULTS: fault rule with a bad setting id: GetSetting@zz=-1"),
            ({"faults": "GetSetting=oops"},
             "SIM_NVAPI_FAULTS: fault rule with a bad status: GetSetting=oops"),
            ({"faults": "SetSetting=bogus"},
             "SIM_NVAPI_FAULTS: fault rule with a bad status: SetSetting=bogus"),
            ({"faults": "SetEnabled=3"},
             "SIM_NVAPI_FAULTS: fault rule for an unknown function: SetEnabled=3"),
            ({"faults": "GetSetting:0x10@0x20=-1"},
             "SIM_NVAPI_FAULTS: fault rule with two targets: GetSetting:0x10@0x20=-1"),
            ({"faults": "GetSetting=-1+out"},
             "SIM_NVAPI_FAULTS: fault rule with '+out' or '-out', which this library does"
             " not offer: GetSetting=-1+out"),
            ({"types": "0x10"}, "SIM_NVAPI_SETTING_TYPE: bad pair: 0x10"),
            ({"env": {"SIM_NVAPI_FAULT": "x"}},
             "SIM_NVAPI_FAULT: not a variable of this library, which reads SIM_NVAPI_FAULTS,"
             " SIM_NVAPI_LOAD_BY_NAME, SIM_NVAPI_LOG, SIM_NVAPI_SETTING_TYPE, SIM_NVAPI_STATE"),
        ]
        for config, message in cases:
            with self.subTest(**config):
                stderr = []
                lines, code = self.probe("init", stderr=stderr, **config)
                self.assertEqual((lines, code), ([], SIM_CONFIG_EXIT))
                self.assertEqual(self.log.read_text().splitlines(),
                                 ["sim.config-error " + message])
                self.assertEqual(stderr, [b"simulated nvapi64.dll: %s\r\n" % message.encode()])

    def test_unload_closes_open_sessions_and_needs_a_matching_initialise(self):
        self.statuses("init", "init", "create", "unloadarg 0", "unload", "unload")
        self.assertEqual(self.log.read_text().splitlines()[3:], [
            "UnloadWithArgument arg=0 -> 0",
            "NvAPI_Unload -> 0 open_sessions=1",
            "MISUSE NvAPI_Unload library not-initialised",
            "NvAPI_Unload -> -4",
            "sim.freed"])

    def test_what_each_variant_offers(self):
        ids = ["0x0150E828", "0x0694D52E", "0x375DBD6B", "0xDA8466A0", "0x73BF8338",
               "0x577DD202", "0xE4A26362", "0xFCBC7E14", "0xDAD9CFF8", "0xD22BDD7E"]
        optional = {"0x33C7358C": {"", "onehook", "nounloadarg", "initfail"},
                    "0x593E8644": {"", "nounloadarg", "initfail"},
                    "0xD7C61344": {"", "nohooks", "onehook", "initfail"}}
        for variant in VARIANTS:
            with self.subTest(variant=variant or "full"):
                lines, code = self.probe(*["query " + i for i in ids + list(optional)],
                                         "query 0x12345678", "init", variant=variant)
                expected = ["query %s -> present" % i for i in ids]
                expected += ["query %s -> %s" % (i, "present" if variant in offered else "absent")
                             for i, offered in optional.items()]
                expected += ["query 0x12345678 -> absent",
                             "init -> %s" % ("-6" if variant == "initfail" else "0")]
                self.assertEqual((lines, code), (expected, 0))

    def test_hooks_log_the_cookie_they_hand_out(self):
        self.statuses("hooks", "hooks")
        self.assertEqual(self.log.read_text().splitlines(), [
            "hook.before id=0x12345678 cookie=1", "hook.after id=0x12345678 cookie=1 status=-1",
            "hook.before id=0x12345678 cookie=2", "hook.after id=0x12345678 cookie=2 status=-1",
            "sim.freed"])


def objdump():
    return shutil.which("x86_64-w64-mingw32-objdump")


class BuiltLibraries(unittest.TestCase):
    """Every variant must load on a machine with nothing but Windows itself."""

    def test_every_variant_exports_the_query_entry_and_imports_only_system_dlls(self):
        tool = objdump()
        if tool is None:
            self.skipTest("no MinGW objdump")
        for variant in VARIANTS:
            with self.subTest(variant=variant or "full"):
                path = sim_dll(variant)
                self.assertTrue(path.is_file(), "%s was not built" % path)
                text = subprocess.run([tool, "-p", str(path)], capture_output=True, text=True,
                                      check=True).stdout
                imports = sorted(set(re.findall(r"DLL Name: (\S+)", text)))
                # ntdll.dll: the programs' own handle owner closes through its calls.
                self.assertEqual(imports, ["KERNEL32.dll", "msvcrt.dll", "ntdll.dll"])
                table = text.split("[Ordinal/Name Pointer] Table", 1)[1].split("\n\n", 1)[0]
                self.assertEqual(re.findall(r"\]\s+(\S+)", table), ["nvapi_QueryInterface"])


if __name__ == "__main__":
    unittest.main()
