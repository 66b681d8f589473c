"""The shipped programs are built to be reproduced: no link time stamp, no symbol table,
no path of the machine that built them."""
import unittest

import pe_file
from release_env import BIN, PROGRAMS, REPO


class PeImageTest(unittest.TestCase):
    def test_no_link_time_stamp(self):
        for name, path in PROGRAMS.items():
            with self.subTest(program=name):
                self.assertEqual(pe_file.PeImage(path.read_bytes()).timestamp, 0)

    def test_stripped(self):
        for name, path in PROGRAMS.items():
            with self.subTest(program=name):
                image = pe_file.PeImage(path.read_bytes())
                self.assertEqual((image.symbol_table, image.symbol_count), (0, 0))
                debug = [s for s in image.section_names() if s.startswith(".debug")]
                self.assertEqual(debug, [])

    def test_no_build_machine_paths(self):
        for name, path in PROGRAMS.items():
            data = path.read_bytes()
            for where in (REPO, BIN.resolve()):
                for encoding in ("utf-8", "utf-16-le"):
                    with self.subTest(program=name, path=str(where), encoding=encoding):
                        self.assertNotIn(str(where).encode(encoding), data)


if __name__ == "__main__":
    unittest.main()
