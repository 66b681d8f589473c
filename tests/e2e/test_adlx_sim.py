"""The simulated ADLX runtime on its own, driven call by call by adlx-probe as a faulty
caller would.

preset-amd only ever uses the objects as it should, so its own tests never reach the
runtime's refusals. These pin them down through the built amdadlx64.dll: every misuse a
real driver would crash on is refused with its result, flagged in the call log and counted
at ADLXTerminate, and the process goes on.
"""
import re
import unittest

from harness import wine  # noqa: E402
from harness.amd import sim_dll  # noqa: E402

PROBE = wine.BIN / "tests" / "tools" / "adlx-probe.exe"

# The services, the list and the first GPU; the objects are labelled services#1,
# gpulist#2 and gpu0#3 in the log, the next one made #4.
OPENED = ["init", "services S", "gpus L", "at L 0 G"]
CHILL = "get S chill G C"  # gpu0.chill#4

# Commands after OPENED, what the probe prints for each, and the flagged log lines.
MISUSES = [
    ("setting used after its last Release", [CHILL, "release C", "enabled C", "setenabled C 0"],
     ["get -> 0", "release -> 0", "enabled -> 3", "setenabled -> 3"],
     ["MISUSE IsEnabled gpu0.chill#4 released", "MISUSE SetEnabled gpu0.chill#4 released"]),
    ("setting released twice", [CHILL, "release C", "release C"],
     ["get -> 0", "release -> 0", "release -> 0"],
     ["MISUSE Release gpu0.chill#4 released"]),
    ("IsEnabled(nullptr)", [CHILL, "enabled C null"], ["get -> 0", "enabled -> 4"],
     ["MISUSE IsEnabled gpu0.chill#4 null-out"]),
    ("GPU passed after its last Release", ["release G", CHILL], ["release -> 0", "get -> 4"],
     ["MISUSE GetChill gpu0#3 released"]),
    ("GPU the runtime never handed out", ["get S chill bogus C"], ["get -> 4"],
     ["MISUSE GetChill services#1 unknown-gpu"]),
    ("setting passed as a GPU", [CHILL, "get S boost C D"], ["get -> 0", "get -> 4"],
     ["MISUSE GetBoost services#1 unknown-gpu"]),
    ("null GPU", ["get S vsync-mode null M"], ["get -> 4"],
     ["MISUSE GetWaitForVerticalRefresh services#1 null-gpu"]),
    ("null out pointers", ["get S chill G null", "at L 0 null", "id G null", "query S 3 null",
                           "gpus null", "init null"],
     ["get -> 4", "at -> 4", "id -> 4", "query -> 4", "gpus -> 4", "init -> 4"],
     ["MISUSE GetChill services#1 null-out", "MISUSE At gpulist#2 null-out",
      "MISUSE UniqueId gpu0#3 null-out", "MISUSE QueryInterface services#1 null-out",
      "MISUSE GetGPUs runtime null-out", "MISUSE ADLXInitialize2 runtime null-out"]),
    ("list used after its last Release", ["release L", "size L", "empty L", "at L 0 H"],
     ["release -> 0", "size -> 0", "empty -> 1", "at -> 3"],
     ["MISUSE Size gpulist#2 released", "MISUSE Empty gpulist#2 released",
      "MISUSE At gpulist#2 released"]),
    ("services used after their last Release", ["release S", "get S rsr R", "query S 1 X"],
     ["release -> 0", "get -> 3", "query -> 3"],
     ["MISUSE GetRadeonSuperResolution services#1 released",
      "MISUSE QueryInterface services#1 released"]),
    ("mode setting after its last Release", ["get S vsync-mode G M", "release M", "mode M",
                                             "setmode M 1"],
     ["get -> 0", "release -> 0", "mode -> 3", "setmode -> 3"],
     ["MISUSE GetMode gpu0.vsync-mode#4 released", "MISUSE SetMode gpu0.vsync-mode#4 released"]),
    ("sound use, the refused GPU's settings included", [CHILL, "release G", "enabled C",
                                                         "release C", "release L", "release S"],
     ["get -> 0", "release -> 0", "enabled -> 0 1", "release -> 0", "release -> 0",
      "release -> 0"], []),
]


class Misuse(wine.WineCase):
    needs = PROBE
    folder_prefix = "adlx-sim-"

    def probe(self, commands, env=None):
        log = self.dir / ("%d.log" % len(list(self.dir.iterdir())))
        state = self.dir / "state.txt"
        sim = {"SIM_ADLX_LOG": wine.winpath(log), "SIM_ADLX_STATE": wine.winpath(state)}
        sim.update(env or {})
        out, code = wine.run(PROBE, [wine.winpath(sim_dll()), *commands], env=sim)
        return out.decode("ascii").splitlines(), code, log.read_text().splitlines()

    def test_each_misuse_is_refused_flagged_and_counted(self):
        for name, commands, printed, flagged in MISUSES:
            with self.subTest(name):
                lines, code, log = self.probe(OPENED + commands + ["terminate"])
                self.assertEqual((lines[4:-1], code), (printed, 0))
                self.assertEqual([l for l in log if l.startswith("MISUSE")], flagged)
                terminate = [l for l in log if l.startswith("ADLXTerminate")]
                self.assertEqual(len(terminate), 1)
                self.assertRegex(terminate[0], r"^ADLXTerminate live=\d+ misuse=%d -> 0$"
                                 % len(flagged))

    def test_a_refused_call_changes_nothing_and_meets_no_fault(self):
        state = self.dir / "state.txt"
        # The refusal comes first: no watch, no fault, no state written.
        lines, code, log = self.probe(OPENED + [CHILL, "release C", "setenabled C 0",
                                                "enabled C null"],
                                      env={"SIM_ADLX_FAULTS": "SetEnabled=crash,IsEnabled=5",
                                           "SIM_ADLX_WATCH": wine.winpath(self.dir / "w")})
        self.assertEqual((lines[4:], code), (["get -> 0", "release -> 0", "setenabled -> 3",
                                              "enabled -> 3"], 0))
        self.assertEqual(log[-3:], ["MISUSE SetEnabled gpu0.chill#4 released",
                                    "MISUSE IsEnabled gpu0.chill#4 released", "DLL detached"])
        self.assertFalse(state.exists())
        self.assertFalse(any(re.match(r"(watch|CRASH)", l) for l in log), log)


if __name__ == "__main__":
    unittest.main()
