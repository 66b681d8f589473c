"""What the programs set up at start, under Wine, through the test tool that holds it
alone: a stack guard seed that no start can guess, a failed check that ends the process
by fast fail, and the library search limited also where SetDefaultDllDirectories is
missing or refused."""
import pathlib
import re
import statistics
import unittest

from harness import wine

PROBE = wine.BIN / "tests" / "tools" / "start-probe.exe"
STARTS = 32
STATUS_STACK_BUFFER_OVERRUN = 0xC0000409


def has_rdrand():
    cpuinfo = pathlib.Path("/proc/cpuinfo")
    return cpuinfo.exists() and re.search(r"^flags\s*:.*\brdrand\b", cpuinfo.read_text(), re.M)


class ProcessStart(wine.WineCase):
    needs = PROBE

    def test_seed_changes_in_every_bit_but_the_zero_byte(self):
        if not has_rdrand():
            self.skipTest("the processor has no random number generator")
        seeds = []
        for _ in range(STARTS):
            out, code = wine.run(PROBE, ["seed"])
            self.assertEqual(code, 0)
            seeds.append(int(out, 16))
        self.assertEqual([s & 0xFF for s in seeds], [0] * STARTS)
        changed = 0
        for seed in seeds:
            changed |= seed ^ seeds[0]
        self.assertEqual(changed, 0xFFFFFFFFFFFFFF00, "bits that never changed")
        # Random bits differ from the last start in 28 of 56 on average; the time, ids and
        # address mixed alone gave a median of 21 here.
        distances = [bin(a ^ b).count("1") for a, b in zip(seeds, seeds[1:])]
        self.assertGreaterEqual(statistics.median(distances), 24, distances)

    def test_failed_check_ends_the_process_by_fast_fail(self):
        stderr = []
        out, code = wine.run(PROBE, ["fail"], env={"WINEDEBUG": "err+seh"}, stderr=stderr)
        self.assertEqual(out, b"")
        self.assertEqual(code, STATUS_STACK_BUFFER_OVERRUN & 0xFF)  # Wine keeps the low byte
        # Wine reports the interrupt as an exception no handler may take, raised at the
        # instruction; a TerminateProcess would end the process without it.
        self.assertRegex(stderr[0], rb"Unhandled exception code c0000409 flags 1 ")

    def test_library_search_on_systems_without_default_directories(self):
        # Windows 7 before its library-search update lacks SetDefaultDllDirectories; an
        # empty DLL directory then takes the working folder out of the search. Wine 8 has
        # the call, and ignores an empty DLL directory, so the start runs against stand-ins.
        cases = [
            ("present", [b"SetDefaultDllDirectories 0x1000"]),
            ("refused", [b"SetDefaultDllDirectories 0x1000 refused", b'SetDllDirectoryW ""']),
            ("missing", [b'SetDllDirectoryW ""']),
        ]
        for default_directories, calls in cases:
            with self.subTest(default_directories=default_directories):
                out, code = wine.run(PROBE, ["start", default_directories])
                self.assertEqual(code, 0)
                self.assertEqual(out.split(b"\r\n"),
                                 calls + [b"SetProcessMitigationPolicy 16", b""])


if __name__ == "__main__":
    unittest.main()
