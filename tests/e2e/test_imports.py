"""Every shipped program, and every simulated driver library, imports Windows system DLLs
only: a user copies one .exe onto a machine and it runs."""
import pathlib
import re
import subprocess
import unittest

from harness import wine

OBJDUMP = "x86_64-w64-mingw32-objdump"
SYSTEM_DLLS = {"kernel32.dll", "msvcrt.dll", "advapi32.dll", "user32.dll", "ntdll.dll",
               "shell32.dll", "ole32.dll", "bcrypt.dll", "version.dll"}


def imports(path):
    out = subprocess.run([OBJDUMP, "-p", str(path)], capture_output=True, text=True, check=True)
    return [m.group(1) for m in re.finditer(r"DLL Name: (\S+)", out.stdout)]


class ImportsTest(unittest.TestCase):
    def binaries(self):
        found = [p for p in pathlib.Path(wine.BIN).rglob("*") if p.suffix in (".exe", ".dll")
                 and "CMakeFiles" not in p.parts]
        return sorted(found)

    def test_programs_exist(self):
        names = {p.name for p in self.binaries()}
        self.assertIn("preset-nvidia.exe", names)

    def test_only_system_dlls(self):
        for binary in self.binaries():
            with self.subTest(binary=binary.name):
                dlls = imports(binary)
                self.assertTrue(dlls, "a Windows binary imports at least KERNEL32.dll")
                others = [d for d in dlls if d.lower() not in SYSTEM_DLLS]
                self.assertEqual(others, [], f"{binary} imports {others}")

    def test_programs_are_64_bit_console_programs(self):
        for binary in self.binaries():
            if binary.suffix != ".exe":
                continue
            with self.subTest(binary=binary.name):
                out = subprocess.run([OBJDUMP, "-f", str(binary)], capture_output=True,
                                     text=True, check=True).stdout
                self.assertIn("pei-x86-64", out)
                header = subprocess.run([OBJDUMP, "-p", str(binary)], capture_output=True,
                                        text=True, check=True).stdout
                self.assertRegex(header, r"Subsystem\s+00000003")


if __name__ == "__main__":
    unittest.main()
