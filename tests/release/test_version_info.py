"""Each shipped program carries a Windows version resource whose every field is what the
build configured: Explorer's Details tab and installers read it from the file itself."""
import unittest

import pe_file
from release_env import PROGRAMS, project_version

AUTHORS = "the preset-nvidia and preset-amd authors"
EXPECTED = {
    "preset-nvidia": "Puts the NVIDIA driver's 3D settings into a performance preset and back",
    "preset-amd": "Puts the AMD driver's 3D settings into a performance preset and back",
}


class VersionInfoTest(unittest.TestCase):
    def read(self, name):
        return pe_file.version_info(pe_file.PeImage(PROGRAMS[name].read_bytes()))

    def test_string_fields(self):
        version = "%d.%d.%d" % project_version()
        for name, description in EXPECTED.items():
            with self.subTest(program=name):
                info = self.read(name)
                self.assertEqual(list(info["strings"]), ["040904B0"])
                self.assertEqual(info["strings"]["040904B0"], {
                    "CompanyName": AUTHORS,
                    "FileDescription": description,
                    "FileVersion": version,
                    "InternalName": name,
                    "LegalCopyright": "Copyright (c) 2026 " + AUTHORS,
                    "OriginalFilename": name + ".exe",
                    "ProductName": "preset-nvidia and preset-amd",
                    "ProductVersion": version,
                })

    def test_fixed_numbers(self):
        major, minor, patch = project_version()
        for name in EXPECTED:
            with self.subTest(program=name):
                fixed = self.read(name)["fixed"]
                self.assertEqual(fixed["file_ms"], major << 16 | minor)
                self.assertEqual(fixed["file_ls"], patch << 16)
                self.assertEqual(fixed["product_ms"], major << 16 | minor)
                self.assertEqual(fixed["product_ls"], patch << 16)
                self.assertEqual(fixed["flags"], 0)
                self.assertEqual(fixed["os"], 0x40004)  # VOS_NT_WINDOWS32
                self.assertEqual(fixed["type"], 1)  # VFT_APP

    def test_translation_matches_the_string_table(self):
        for name in EXPECTED:
            with self.subTest(program=name):
                # US English, Unicode: the pair the "040904B0" table key names.
                self.assertEqual(self.read(name)["translations"], [(0x409, 1200)])


if __name__ == "__main__":
    unittest.main()
