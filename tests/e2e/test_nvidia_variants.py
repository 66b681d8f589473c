"""preset-nvidia under Wine against each build of the simulated library.

The builds differ in what the query entry offers: both call hooks, one or none; the unload
entry that takes an argument or only the plain one; an initialise entry that fails. The
tool must use the hooks only as a pair, prefer the unload entry with argument 0, and stop
at a failing initialise. A library that the driver loads by bare name must come neither
from the working folder nor from PATH.
"""
import re
import unittest

from harness import wine  # noqa: E402
from harness.nvidia import (  # noqa: E402
    DETECTED, GAMER_BACKUP, ID_OF, OPEN, ORIGINAL, UNSUPPORTED, NvidiaCase, applied)

GATED = set(ID_OF) - {"NvAPI_Initialize", "NvAPI_Unload", "UnloadWithArgument"}


class Variants(NvidiaCase):
    def test_hooks_are_used_only_as_a_pair(self):
        for variant, hooked in (("", True), ("nohooks", False), ("onehook", False)):
            with self.subTest(variant=variant or "full"):
                self.use_library(variant)
                self.write_state(ORIGINAL)
                if self.backup.exists():
                    self.backup.unlink()
                self.assertResult(self.run_tool("apply", "gamer", wine.winpath(self.backup)),
                                  applied(8, 8), 0)
                self.assertEqual(self.backup.read_bytes(), GAMER_BACKUP)
                lines = self.log_lines()
                if hooked:
                    self.assertHooksAroundEveryGatedCall(lines)
                else:
                    self.assertEqual([l for l in lines if l.startswith("hook.")], [])

    def assertHooksAroundEveryGatedCall(self, lines):
        """Each call through the gate sits between a before and an after hook for its id,
        the after hook gets back the before hook's cookie and sees the call's status."""
        i = 0
        gated = 0
        while i < len(lines):
            name = lines[i].split(" ", 1)[0]
            if name in GATED:
                self.fail("call without hooks: %s" % lines[i])
            if not lines[i].startswith("hook.before"):
                i += 1
                continue
            before = re.fullmatch(r"hook\.before id=(0x[0-9A-F]{8}) cookie=(\d+)", lines[i])
            self.assertIsNotNone(before, lines[i])
            call = lines[i + 1]
            status = re.search(r" -> (-?\d+)", call).group(1)
            self.assertEqual(int(before.group(1), 16), ID_OF[call.split(" ", 1)[0]], call)
            self.assertEqual(lines[i + 2], "hook.after id=%s cookie=%s status=%s" % (
                before.group(1), before.group(2), status))
            gated += 1
            i += 3
        self.assertEqual(gated, 3 + 8 + 8 + 2, "create, load, profile, 8 reads, 8 writes, "
                                               "commit, destroy")
        self.assertEqual(lines[0], "NvAPI_Initialize -> 0")
        self.assertEqual(lines[-2:], ["UnloadWithArgument arg=0 -> 0", "sim.freed"])

    def test_without_the_unload_entry_taking_an_argument_the_plain_one_is_used(self):
        self.use_library("nounloadarg")
        self.assertResult(self.run_tool("status"), DETECTED, 0)
        self.assertEqual(self.call_names(), OPEN + ["NvAPI_DRS_DestroySession", "NvAPI_Unload"])
        self.assertEqual(self.log_lines()[-2:], ["NvAPI_Unload -> 0", "sim.freed"])

    def test_a_failing_initialise_entry_is_unsupported_and_nothing_else_is_called(self):
        self.use_library("initfail")
        self.write_state(ORIGINAL)
        before = self.state.read_bytes()
        self.backup.write_bytes(GAMER_BACKUP)
        for args in (["status"], ["apply", "gamer", wine.winpath(self.dir / "new.txt")],
                     ["restore", wine.winpath(self.backup)]):
            with self.subTest(command=args[0]):
                self.assertResult(self.run_tool(*args), UNSUPPORTED, 10)
                # The library was bound, failed to initialise and was let go at once.
                self.assertEqual(self.log_lines(), ["NvAPI_Initialize -> -6", "sim.freed"])
                self.assertFalse((self.dir / "new.txt").exists())
                self.assertEqual(self.backup.read_bytes(), GAMER_BACKUP)
                self.assertEqual(self.state.read_bytes(), before)

    def test_a_library_the_driver_loads_by_bare_name_is_not_taken_from_cwd_or_path(self):
        for where in ("cwd", "path"):
            with self.subTest(where=where):
                work, env, marker = wine.plant_library(self.dir / where, where)
                env["SIM_NVAPI_LOAD_BY_NAME"] = "planted.dll"
                self.assertResult(self.run_tool("status", env=env, cwd=work), DETECTED, 0)
                self.assertEqual(self.log_lines()[0], "sim.load-by-name planted.dll -> error 126")
                self.assertFalse(marker.exists())


if __name__ == "__main__":
    unittest.main()
