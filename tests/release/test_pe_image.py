"""The shipped programs are built to be reproduced: no link time stamp, no symbol table,
no path of the machine that built them; so are the developer kit's simulated libraries,
and all of them lay their sections out on pages of the file. The programs are hardened:
the loader randomises and guards their memory, their code checks its stack, and their one
manifest asks for no elevation, names the systems they run on and takes long paths."""
import re
import subprocess
import unittest
import xml.etree.ElementTree as ElementTree

import pe_file
from release_env import BIN, PROGRAMS, REPO

# What else goes out as built: the simulated libraries of the developer kit.
SHIPPED_IMAGES = {**PROGRAMS, "nvapi64": BIN / "sim" / "nvapi" / "nvapi64.dll",
                  "amdadlx64": BIN / "sim" / "adlx" / "amdadlx64.dll"}

# Bits of the optional header's DllCharacteristics every program must carry.
HARDENING_BITS = {"HIGH_ENTROPY_VA": 0x0020, "DYNAMIC_BASE": 0x0040, "NX_COMPAT": 0x0100,
                  "TERMINAL_SERVER_AWARE": 0x8000}
ASM_V1 = "{urn:schemas-microsoft-com:asm.v1}"
ASM_V3 = "{urn:schemas-microsoft-com:asm.v3}"
COMPATIBILITY = "{urn:schemas-microsoft-com:compatibility.v1}"
SETTINGS_2016 = "{http://schemas.microsoft.com/SMI/2016/WindowsSettings}"
# Windows 7, 8, 8.1, and 10 and 11.
# The stack guard's value until the program seeds it (windows/stack_guard_win32.cc): it
# stands in the image only when protected code refers to the guard, since the linker
# drops unreferenced data.
STACK_GUARD_SEED = (0x00000B0A7E6B7A2D).to_bytes(8, "little")
SUPPORTED_OS = ["{35138b9a-5d96-4fbd-8e2d-a2440225f93a}",
                "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}",
                "{1f676c76-80e1-4239-95bb-83d0f6d0da78}",
                "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"]


class PeImageTest(unittest.TestCase):
    def test_no_link_time_stamp(self):
        for name, path in PROGRAMS.items():
            with self.subTest(program=name):
                self.assertEqual(pe_file.PeImage(path.read_bytes()).timestamp, 0)

    def test_stripped(self):
        for name, path in SHIPPED_IMAGES.items():
            with self.subTest(program=name):
                image = pe_file.PeImage(path.read_bytes())
                self.assertEqual((image.symbol_table, image.symbol_count), (0, 0))
                debug = [s for s in image.section_names() if s.startswith(".debug")]
                self.assertEqual(debug, [])

    def test_sections_start_on_file_pages(self):
        # Wine maps such a section from the file; any other it copies in at every start.
        for name, path in SHIPPED_IMAGES.items():
            with self.subTest(program=name):
                sections = pe_file.PeImage(path.read_bytes()).sections
                self.assertEqual([s[0] for s in sections if s[3] % 4096], [])

    def test_no_build_machine_paths(self):
        for name, path in SHIPPED_IMAGES.items():
            data = path.read_bytes()
            for where in (REPO, BIN.resolve()):
                for encoding in ("utf-8", "utf-16-le"):
                    with self.subTest(program=name, path=str(where), encoding=encoding):
                        self.assertNotIn(str(where).encode(encoding), data)

    def test_hardening_bits(self):
        for name, path in PROGRAMS.items():
            flags = pe_file.PeImage(path.read_bytes()).dll_characteristics
            for bit, value in HARDENING_BITS.items():
                with self.subTest(program=name, bit=bit):
                    self.assertEqual(flags & value, value, "DllCharacteristics 0x%04x" % flags)

    def test_stack_protector_with_our_own_guard(self):
        # GCC's own guard set-up asks the crypto provider at every start: its functions
        # must not be imported.
        for name, path in PROGRAMS.items():
            with self.subTest(program=name):
                data = path.read_bytes()
                self.assertEqual(data.count(STACK_GUARD_SEED), 1)
                self.assertNotIn(b"CryptGenRandom", data)
                self.assertNotIn(b"CryptAcquireContext", data)

    def test_failed_stack_check_fails_fast(self):
        # The fast-fail interrupt with the stack-cookie code (2) in ecx, as the Windows C
        # runtime ends a process whose stack check failed.
        for name, path in PROGRAMS.items():
            with self.subTest(program=name):
                code = subprocess.run(["x86_64-w64-mingw32-objdump", "-d", str(path)],
                                      capture_output=True, text=True, check=True).stdout
                fast_fails = re.findall(r"\tmov +\$0x2,%ecx\n[^\n]*\tint +\$0x29\n", code)
                self.assertEqual(len(fast_fails), 1)

    def test_exactly_one_manifest_with_id_1(self):
        # Windows reads id 1 when it starts the program; a second manifest, or a second
        # language of this one, would leave open which of them it applies.
        for name, path in PROGRAMS.items():
            with self.subTest(program=name):
                tree = pe_file.PeImage(path.read_bytes()).resources()
                manifests = tree.get(pe_file.RT_MANIFEST, {})
                self.assertEqual(list(manifests), [1])
                self.assertEqual(len(manifests[1]), 1, "one language only")

    def test_manifest_settings(self):
        for name, path in PROGRAMS.items():
            with self.subTest(program=name):
                data = pe_file.PeImage(path.read_bytes()).resource(
                    [pe_file.RT_MANIFEST, 1, None])
                # Windows refuses to start a program whose manifest is not well-formed.
                root = ElementTree.fromstring(data)
                self.assertEqual(root.tag, ASM_V1 + "assembly")
                self.assertEqual(root.get("manifestVersion"), "1.0")
                levels = root.findall("/".join(ASM_V3 + t for t in (
                    "trustInfo", "security", "requestedPrivileges", "requestedExecutionLevel")))
                self.assertEqual([e.attrib for e in levels],
                                 [{"level": "asInvoker", "uiAccess": "false"}])
                systems = root.findall("/".join(COMPATIBILITY + t for t in (
                    "compatibility", "application", "supportedOS")))
                self.assertEqual(sorted(e.get("Id") for e in systems), sorted(SUPPORTED_OS))
                long_paths = root.findall(ASM_V3 + "application/" + ASM_V3 +
                                          "windowsSettings/" + SETTINGS_2016 + "longPathAware")
                self.assertEqual([e.text for e in long_paths], ["true"])


if __name__ == "__main__":
    unittest.main()
