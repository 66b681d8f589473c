"""The Windows file layer's own test program (tests/nt) under Wine: the layer that ships run on
the model of NT for what only Windows shows, and on Wine's own system calls, in a new folder
of this test's, for the rows Wine can show. Every row prints; a failed check names its row,
its world and its line."""
import unittest

from harness import wine

PROGRAM = wine.BIN / "tests" / "nt" / "nt-layer-tests.exe"


class NtLayer(wine.WineCase):
    needs = PROGRAM
    folder_prefix = "nt-layer-"

    def test_every_row_holds_on_the_model_and_on_wine(self):
        out, code = wine.run(PROGRAM, [wine.winpath(self.dir)], timeout=300)
        self.assertEqual(code, 0, out.decode("utf-8", errors="replace"))


if __name__ == "__main__":
    unittest.main()
