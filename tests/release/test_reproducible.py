"""Two release builds of the same commit, in two directories, one after the other and with
different umasks, give byte-identical programs, ZIPs and SHA256SUMS; each ZIP holds exactly
its package's files, in byte order, with the commit's time, its SHA256SUMS matches them, the
SHA256SUMS beside the ZIPs lists both, and every relative link in a shipped document
resolves inside its own ZIP.

scripts/release.sh runs this after its own build, naming that build in RELEASE_REPRO_FIRST:
then only the second release is built here, under the umask the first did not have. Run
alone, it builds both (minutes)."""
import hashlib
import os
import pathlib
import posixpath
import re
import shutil
import subprocess
import time
import unittest
import zipfile

from release_env import REPO, project_version

WORK = pathlib.Path(os.environ.get("RELEASE_REPRO_DIR", REPO / "build" / "release-repro"))
FIRST = os.environ.get("RELEASE_REPRO_FIRST")
PROGRAMS = ["nvidia/preset-nvidia.exe", "amd/preset-amd.exe"]
NVAPI = ["nvapi-sim-probe.exe", "nvapi64-initfail.dll", "nvapi64-nohooks.dll",
         "nvapi64-nounloadarg.dll", "nvapi64-onehook.dll", "nvapi64.dll"]
ADLX = ["amdadlx64-legacy.dll", "amdadlx64-no-caller-adl.dll", "amdadlx64-no-incompatible2.dll",
        "amdadlx64-no-initialize2.dll", "amdadlx64-no-terminate.dll", "amdadlx64.dll"]
# What each package holds, and where its files come from in the source or the build tree.
PACKAGES = {
    "win64": {"LICENSE": "LICENSE", "README.md": "package/win64/README.md",
              "preset-amd.exe": "@amd/preset-amd.exe",
              "preset-nvidia.exe": "@nvidia/preset-nvidia.exe"},
    "devkit": dict(
        {"LICENSE": "LICENSE", "README.md": "package/devkit/README.md",
         "clients/preset_client.hpp": "clients/preset_client.hpp",
         "clients/preset_client.py": "clients/preset_client.py"},
        **{"docs/%s.md" % d: "docs/%s.md" % d for d in
           ["hostile-paths", "integration", "simulated-adlx", "simulated-faults",
            "simulated-nvapi"]},
        **{"sim/nvapi/" + f: "@sim/nvapi/" + f for f in NVAPI},
        **{"sim/adlx/" + f: "@sim/adlx/" + f for f in ADLX}),
}
LINK = re.compile(r"\[[^\]]*\]\(([^)\s]+)\)")
FENCE = re.compile(r"^```.*?^```", re.M | re.S)


def commit_time():
    """The time the release command stamps: SOURCE_DATE_EPOCH, or else the commit's."""
    if os.environ.get("SOURCE_DATE_EPOCH", "").isdigit():
        return int(os.environ["SOURCE_DATE_EPOCH"])
    out = subprocess.run(["git", "log", "-1", "--format=%ct"], cwd=REPO, capture_output=True,
                         text=True, check=True)
    return int(out.stdout)


def current_umask():
    mask = os.umask(0o022)
    os.umask(mask)
    return mask


def release(build, umask, epoch):
    shutil.rmtree(build, ignore_errors=True)
    env = dict(os.environ, RELEASE_SKIP_TESTS="1", RELEASE_BUILD_DIR=str(build),
               SOURCE_DATE_EPOCH=str(epoch))
    subprocess.run([str(REPO / "scripts" / "release.sh")], cwd=REPO, env=env, check=True,
                   stdout=subprocess.DEVNULL, preexec_fn=lambda: os.umask(umask))


def anchors(markdown):
    """The fragment names of a document's headings, made the way GitHub makes them."""
    names = set()
    for heading in re.findall(r"^#+\s+(.*?)\s*$", FENCE.sub("", markdown), re.M):
        names.add(re.sub(r"[^\w\- ]", "", heading.lower()).replace(" ", "-"))
    return names


class ReproducibleReleaseTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.a, cls.b = WORK / "a", WORK / "b"
        # One commit time for both builds, as the release command takes it.
        cls.epoch = commit_time()
        if FIRST:  # built by scripts/release.sh under this process's umask
            cls.a = pathlib.Path(FIRST).resolve()
            second_umask = 0o022 if current_umask() == 0o077 else 0o077
        else:
            release(cls.a, 0o022, cls.epoch)
            second_umask = 0o077
        release(cls.b, second_umask, cls.epoch)
        cls.base = "gpu-presets-%d.%d.%d" % project_version()

    def unpacked(self, package):
        """The entries of a package's ZIP as {name inside its top folder: bytes}, in order."""
        top = "%s-%s/" % (self.base, package)
        with zipfile.ZipFile(self.a / ("%s-%s.zip" % (self.base, package))) as archive:
            names = archive.namelist()
            self.assertTrue(all(n.startswith(top) for n in names), names)
            return {n[len(top):]: archive.read(n) for n in names}

    def test_programs_are_identical(self):
        for exe in PROGRAMS:
            with self.subTest(program=exe):
                self.assertEqual((self.a / exe).read_bytes(), (self.b / exe).read_bytes())

    def test_zips_and_their_sums_are_identical(self):
        for name in ["%s-%s.zip" % (self.base, p) for p in PACKAGES] + ["SHA256SUMS"]:
            with self.subTest(file=name):
                self.assertEqual((self.a / name).read_bytes(), (self.b / name).read_bytes())

    def test_sums_beside_the_zips_list_both(self):
        zips = sorted("%s-%s.zip" % (self.base, p) for p in PACKAGES)
        expected = "".join("%s  %s\n" % (hashlib.sha256((self.a / z).read_bytes()).hexdigest(), z)
                           for z in zips)
        self.assertEqual((self.a / "SHA256SUMS").read_text(encoding="ascii"), expected)

    def test_each_zip_holds_its_files_in_order_with_the_commit_time(self):
        # The ZIP's time has two-second steps: an odd commit second is stored one lower.
        stamp = time.gmtime(self.epoch - self.epoch % 2)[:6]
        for package, files in PACKAGES.items():
            with zipfile.ZipFile(self.a / ("%s-%s.zip" % (self.base, package))) as archive:
                infos = archive.infolist()
                self.assertEqual([i.filename for i in infos],
                                 ["%s-%s/%s" % (self.base, package, f)
                                  for f in sorted([*files, "SHA256SUMS"])])
                for info in infos:
                    with self.subTest(entry=info.filename):
                        self.assertEqual(info.date_time, stamp)
                        mode = 0o755 if info.filename.endswith((".exe", ".dll")) else 0o644
                        self.assertEqual(info.external_attr >> 16, 0o100000 | mode)
                        self.assertEqual(info.extra, b"")

    def test_each_zip_carries_the_built_files_and_their_sums(self):
        for package, files in PACKAGES.items():
            content = self.unpacked(package)
            for name, source in files.items():
                with self.subTest(package=package, file=name):
                    origin = self.a / source[1:] if source.startswith("@") else REPO / source
                    self.assertEqual(content[name], origin.read_bytes())
            expected = "".join("%s  %s\n" % (hashlib.sha256(content[f]).hexdigest(), f)
                               for f in sorted(files))
            self.assertEqual(content["SHA256SUMS"].decode("ascii"), expected, package)

    def test_every_relative_link_in_a_shipped_document_resolves_inside_its_zip(self):
        for package in PACKAGES:
            content = self.unpacked(package)
            for doc in (n for n in content if n.endswith(".md")):
                for target in LINK.findall(FENCE.sub("", content[doc].decode("utf-8"))):
                    if re.match(r"[a-z][a-z0-9+.-]*:", target):
                        continue
                    with self.subTest(package=package, document=doc, link=target):
                        path, _, fragment = target.partition("#")
                        name = posixpath.normpath(posixpath.join(posixpath.dirname(doc), path))
                        self.assertIn(name if path else doc, content)
                        if fragment:
                            self.assertIn(fragment, anchors(content[name if path else doc]
                                                            .decode("utf-8")))


if __name__ == "__main__":
    unittest.main()
