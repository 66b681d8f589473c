"""Two release builds of the same commit, in two directories, one after the other and with
different umasks, give byte-identical programs and ZIP; the ZIP holds exactly the release
files, in byte order, with the commit's time, and SHA256SUMS matches them."""
import hashlib
import os
import pathlib
import shutil
import subprocess
import time
import unittest
import zipfile

from release_env import REPO, project_version

WORK = pathlib.Path(os.environ.get("RELEASE_REPRO_DIR", REPO / "build" / "release-repro"))
FILES = ["LICENSE", "README.md", "SHA256SUMS", "preset-amd.exe", "preset-nvidia.exe"]
PROGRAMS = ["nvidia/preset-nvidia.exe", "amd/preset-amd.exe"]


def commit_time():
    out = subprocess.run(["git", "log", "-1", "--format=%ct"], cwd=REPO, capture_output=True,
                         text=True, check=True)
    return int(out.stdout)


def release(build, umask, epoch):
    shutil.rmtree(build, ignore_errors=True)
    env = dict(os.environ, RELEASE_SKIP_TESTS="1", RELEASE_BUILD_DIR=str(build),
               SOURCE_DATE_EPOCH=str(epoch))
    subprocess.run([str(REPO / "scripts" / "release.sh")], cwd=REPO, env=env, check=True,
                   stdout=subprocess.DEVNULL, preexec_fn=lambda: os.umask(umask))


class ReproducibleReleaseTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.a, cls.b = WORK / "a", WORK / "b"
        # One commit time for both builds, as the release command takes it.
        cls.epoch = commit_time()
        release(cls.a, 0o022, cls.epoch)
        release(cls.b, 0o077, cls.epoch)
        cls.top = "gpu-presets-%d.%d.%d-win64" % project_version()
        cls.zip_name = cls.top + ".zip"

    def test_programs_are_identical(self):
        for exe in PROGRAMS:
            with self.subTest(program=exe):
                self.assertEqual((self.a / exe).read_bytes(), (self.b / exe).read_bytes())

    def test_zips_are_identical(self):
        self.assertEqual((self.a / self.zip_name).read_bytes(),
                         (self.b / self.zip_name).read_bytes())

    def test_zip_holds_the_release_files_in_order_with_the_commit_time(self):
        # The ZIP's time has two-second steps: an odd commit second is stored one lower.
        stamp = time.gmtime(self.epoch - self.epoch % 2)[:6]
        with zipfile.ZipFile(self.a / self.zip_name) as archive:
            infos = archive.infolist()
            self.assertEqual([i.filename for i in infos], [self.top + "/" + f for f in FILES])
            for info in infos:
                with self.subTest(entry=info.filename):
                    self.assertEqual(info.date_time, stamp)
                    mode = 0o755 if info.filename.endswith(".exe") else 0o644
                    self.assertEqual(info.external_attr >> 16, 0o100000 | mode)
                    self.assertEqual(info.extra, b"")

    def test_zip_carries_the_built_programs_and_their_sums(self):
        with zipfile.ZipFile(self.a / self.zip_name) as archive:
            content = {f: archive.read(self.top + "/" + f) for f in FILES}
        self.assertEqual(content["preset-nvidia.exe"],
                         (self.a / "nvidia" / "preset-nvidia.exe").read_bytes())
        self.assertEqual(content["preset-amd.exe"],
                         (self.a / "amd" / "preset-amd.exe").read_bytes())
        self.assertEqual(content["README.md"], (REPO / "README.md").read_bytes())
        self.assertEqual(content["LICENSE"], (REPO / "LICENSE").read_bytes())
        expected = "".join("%s  %s\n" % (hashlib.sha256(content[f]).hexdigest(), f)
                           for f in FILES if f != "SHA256SUMS")
        self.assertEqual(content["SHA256SUMS"].decode("ascii"), expected)


if __name__ == "__main__":
    unittest.main()
