"""Two release builds of the same commit, in two directories, one after the other and with
different umasks, give byte-identical programs, ZIPs and SHA256SUMS; each ZIP holds exactly
its package's files, in byte order, with the commit's time, its SHA256SUMS matches them, the
SHA256SUMS beside the ZIPs lists both, and every relative link in a shipped document
resolves inside its own ZIP.

Then the second tree makes the packages again, signed with a throwaway self-signed
certificate: osslsigncode verifies both programs inside the ZIP, each is the unsigned one
once its signature is removed, and the sums follow the signed bytes. A wrong password
stops the release before anything is packed.

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
import tempfile
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
VERSION = "%d.%d.%d" % project_version()
CMAKE_PACKAGE = "packages/cmake/lib/cmake/GpuPresetsClient/"
DOCCHECK = ["__init__.py", "cases.py", "checks.py", "hosts.py", "hosts_windows.py", "kinds.py",
            "lines.py", "places.py", "playing.py", "scenarios.py", "tables.py", "world.py"]
# What each package holds, and where its files come from in the source or the build tree.
PACKAGES = {
    "win64": {"CHANGELOG.md": "CHANGELOG.md", "LICENSE": "LICENSE",
              "README.md": "package/win64/README.md", "SIGNING.md": "package/SIGNING.md",
              "preset-amd.exe": "@amd/preset-amd.exe",
              "preset-nvidia.exe": "@nvidia/preset-nvidia.exe"},
    "devkit": dict(
        {"CHANGELOG.md": "CHANGELOG.md", "LICENSE": "LICENSE",
         "README.md": "package/devkit/README.md", "SIGNING.md": "package/SIGNING.md",
         "clients/PresetClient.cs": "clients/PresetClient.cs",
         "clients/preset_client.hpp": "clients/preset_client.hpp",
         "clients/preset_client.py": "clients/preset_client.py",
         "packages/GpuPresets.PresetClient.%s.nupkg" % VERSION:
             "@packages/GpuPresets.PresetClient.%s.nupkg" % VERSION,
         "packages/gpu_presets_client-%s-py3-none-any.whl" % VERSION:
             "@packages/gpu_presets_client-%s-py3-none-any.whl" % VERSION,
         "packages/cmake/include/preset_client.hpp": "clients/preset_client.hpp",
         CMAKE_PACKAGE + "GpuPresetsClientConfig.cmake":
             "package/cmake/GpuPresetsClientConfig.cmake",
         CMAKE_PACKAGE + "GpuPresetsClientConfigVersion.cmake":
             "@packages/GpuPresetsClientConfigVersion.cmake"},
        **{"docs/%s.md" % d: "docs/%s.md" % d for d in
           ["hostile-paths", "integration", "simulated-adlx", "simulated-faults",
            "simulated-nvapi"]},
        **{"selftest.py": "selftest/selftest.py"},
        **{"doccheck/" + f: "selftest/doccheck/" + f for f in DOCCHECK},
        **{"sim/nvapi/" + f: "@sim/nvapi/" + f for f in NVAPI},
        **{"sim/adlx/" + f: "@sim/adlx/" + f for f in ADLX}),
}
LINK = re.compile(r"\[[^\]]*\]\(([^)\s]+)\)")
FENCE = re.compile(r"^ *```.*?^ *```", re.M | re.S)
# An indented code block: lines of four blanks or more after an empty line.
INDENTED = re.compile(r"(?<=\n\n)(?: {4}.*\n)+")
SPAN = re.compile(r"`([^`\n]+)`")
# How the files a kit document may name end; a backup example such as "a/rel.txt" does not.
KIT_ENDINGS = (".exe", ".dll", ".md", ".py", ".hpp", ".h", ".cc", ".cs", ".json", ".cmake",
               ".sh", ".zip", ".whl", ".nupkg")
# Files of Windows that a document names, not files of the kit.
WINDOWS_FILES = {"kernel32.dll", "ntdll.dll", "msvcrt.dll", "advapi32.dll", "version.dll", "windows.h"}


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


def release(build, umask, epoch, fresh=True, check=True, **signing):
    """Runs the release into `build` (made anew unless not `fresh`); `signing` holds the
    RELEASE_SIGN_* variables. Returns the finished process."""
    if fresh:
        shutil.rmtree(build, ignore_errors=True)
    env = {k: v for k, v in os.environ.items() if not k.startswith("RELEASE_SIGN_")}
    env.update(signing, RELEASE_SKIP_TESTS="1", RELEASE_BUILD_DIR=str(build),
               SOURCE_DATE_EPOCH=str(epoch))
    return subprocess.run([str(REPO / "scripts" / "release.sh")], cwd=REPO, env=env,
                          check=check, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE,
                          preexec_fn=lambda: os.umask(umask))


def make_certificate(folder):
    """A throwaway self-signed code-signing certificate: (PKCS#12 file, its PEM)."""
    folder.mkdir(parents=True, exist_ok=True)
    key, cert, pfx = folder / "key.pem", folder / "cert.pem", folder / "signer.pfx"
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2",
                    "-subj", "/CN=gpu-presets test signer", "-keyout", str(key),
                    "-out", str(cert), "-addext", "extendedKeyUsage=codeSigning"],
                   check=True, capture_output=True)
    subprocess.run(["openssl", "pkcs12", "-export", "-inkey", str(key), "-in", str(cert),
                    "-out", str(pfx), "-passout", "pass:" + PASSWORD],
                   check=True, capture_output=True)
    return pfx, cert


PASSWORD = "test password"


def named_paths(markdown):
    """Every path or file name in the document's code (fenced and indented blocks, `spans`)
    that names a file or folder of the kit: relative, without a drive, variable or
    placeholder, and ending like a kit file or in "/"."""
    code = FENCE.findall(markdown) + INDENTED.findall(markdown)
    code += SPAN.findall(INDENTED.sub("", FENCE.sub("", markdown)))
    for token in re.findall(r"[^\s\"'`()\[\]{},;|=]+", "\n".join(code)):
        token = token.rstrip(".:")
        if not token or token[0] in "-/~" or re.search(r"[:\\$%<>*]", token):
            continue
        if token.endswith("/") or token.lower().endswith(KIT_ENDINGS):
            yield token


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
        cls.base = "gpu-presets-%d.%d.%d" % project_version()
        if FIRST:  # built by scripts/release.sh under this process's umask
            cls.a = pathlib.Path(FIRST).resolve()
            second_umask = 0o022 if current_umask() == 0o077 else 0o077
        else:
            release(cls.a, 0o022, cls.epoch)
            second_umask = 0o077
        release(cls.b, second_umask, cls.epoch)
        outputs = PROGRAMS + cls.zips() + ["SHA256SUMS"]
        cls.unsigned_b = {name: (cls.b / name).read_bytes() for name in outputs}
        # The signed packages come out of the second tree, whose build is already done.
        cls.pfx, cls.cert = make_certificate(WORK / "signing")
        cls.signing = {"RELEASE_SIGN_PFX": str(cls.pfx), "RELEASE_SIGN_PASS": PASSWORD}
        release(cls.b, 0o022, cls.epoch, fresh=False, **cls.signing)

    @classmethod
    def zips(cls):
        return ["%s-%s.zip" % (cls.base, p) for p in PACKAGES]

    def unpacked(self, package, tree=None):
        """The entries of a package's ZIP as {name inside its top folder: bytes}, in order."""
        top = "%s-%s/" % (self.base, package)
        with zipfile.ZipFile((tree or self.a) / ("%s-%s.zip" % (self.base, package))) as archive:
            names = archive.namelist()
            self.assertTrue(all(n.startswith(top) for n in names), names)
            return {n[len(top):]: archive.read(n) for n in names}

    def test_programs_are_identical(self):
        for exe in PROGRAMS:
            with self.subTest(program=exe):
                self.assertEqual((self.a / exe).read_bytes(), self.unsigned_b[exe])

    def test_zips_and_their_sums_are_identical(self):
        for name in self.zips() + ["SHA256SUMS"]:
            with self.subTest(file=name):
                self.assertEqual((self.a / name).read_bytes(), self.unsigned_b[name])

    def test_signed_programs_verify_and_are_the_unsigned_ones_underneath(self):
        signed = self.unpacked("win64", self.b)
        unsigned = self.unpacked("win64")
        folder = pathlib.Path(tempfile.mkdtemp(prefix="release-signed-"))
        self.addCleanup(shutil.rmtree, folder, ignore_errors=True)
        for name in ("preset-nvidia.exe", "preset-amd.exe"):
            with self.subTest(program=name):
                self.assertNotEqual(signed[name], unsigned[name])
                (folder / name).write_bytes(signed[name])
                verify = subprocess.run(["osslsigncode", "verify", "-in", str(folder / name),
                                         "-CAfile", str(self.cert)], capture_output=True,
                                        text=True, check=False)
                self.assertEqual(verify.returncode, 0, verify.stdout + verify.stderr)
                self.assertIn("Signature verification: ok", verify.stdout)
                self.assertIn("Text description: " + name[:-4], verify.stdout)
                bare = folder / ("bare-" + name)
                subprocess.run(["osslsigncode", "remove-signature", "-in", str(folder / name),
                                "-out", str(bare)], check=True, capture_output=True)
                self.assertEqual(bare.read_bytes(), unsigned[name])
        # Everything else is as unsigned, and every sum follows the signed bytes.
        self.assertEqual({n: d for n, d in signed.items() if not n.endswith((".exe", "SUMS"))},
                         {n: d for n, d in unsigned.items() if not n.endswith((".exe", "SUMS"))})
        self.assertEqual(signed["SHA256SUMS"].decode("ascii"),
                         "".join("%s  %s\n" % (hashlib.sha256(signed[f]).hexdigest(), f)
                                 for f in sorted(signed) if f != "SHA256SUMS"))
        devkit = self.zips()[1]
        self.assertEqual((self.b / devkit).read_bytes(), self.unsigned_b[devkit])
        self.assertEqual((self.b / "SHA256SUMS").read_text(encoding="ascii"),
                         "".join("%s  %s\n" % (hashlib.sha256((self.b / z).read_bytes())
                                                .hexdigest(), z) for z in sorted(self.zips())))

    def test_a_wrong_password_stops_the_release_before_packing(self):
        before = {z: (self.b / z).read_bytes() for z in self.zips()}
        failed = release(self.b, 0o022, self.epoch, fresh=False, check=False,
                         RELEASE_SIGN_PFX=str(self.pfx), RELEASE_SIGN_PASS="wrong")
        self.assertNotEqual(failed.returncode, 0)
        self.assertEqual({z: (self.b / z).read_bytes() for z in self.zips()}, before)

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

    def test_every_path_a_shipped_document_names_is_in_its_zip(self):
        # A path resolves from the document's folder or the package's; "../<the other
        # package's folder>/..." names a file of the other ZIP unpacked beside this one, as
        # the quick start has it. A bare file name is a file of either ZIP, a ZIP itself,
        # or a file of Windows.
        unpacked = {p: self.unpacked(p) for p in PACKAGES}
        known = {posixpath.basename(n).lower() for c in unpacked.values() for n in c}
        known |= {z.lower() for z in self.zips()} | WINDOWS_FILES

        def holds(content, name):
            return name in content or (name.endswith("/") and any(
                n.startswith(name) for n in content))

        for package, content in unpacked.items():
            for doc in (n for n in content if n.endswith(".md")):
                for path in set(named_paths(content[doc].decode("utf-8"))):
                    with self.subTest(package=package, document=doc, path=path):
                        if "/" not in path:
                            self.assertIn(path.lower(), known)
                            continue
                        found = False
                        for start in {posixpath.dirname(doc), ""}:
                            name = posixpath.normpath(posixpath.join(start, path))
                            name += "/" if path.endswith("/") else ""
                            if name.startswith("../"):
                                top, _, rest = name[3:].partition("/")
                                other = [p for p in PACKAGES if top == "%s-%s" % (self.base, p)]
                                found |= bool(other) and holds(unpacked[other[0]], rest)
                            else:
                                found |= holds(content, name)
                        self.assertTrue(found, "names a file that is not in the ZIP")

    def test_the_kits_first_round_trip_works_verbatim(self):
        # The README's block, run as it stands from the folder that holds both ZIPs, with a
        # home (and so a Wine prefix) of its own; each run must answer what its comment says.
        readme = self.unpacked("devkit")["README.md"].decode("utf-8")
        block = re.search(r"## A first round trip under Wine\n.*?```sh\n(.*?)```", readme,
                          re.S).group(1)
        expected = [dict(pair.split(": ") for pair in comment.split(", "))
                    for comment in re.findall(r"#\s*((?:[\w ]+: [\w-]+(?:, )?)+)$", block, re.M)]
        folder = pathlib.Path(tempfile.mkdtemp(prefix="release-quick-start-"))
        home = folder / "home"
        home.mkdir()
        for zip_name in self.zips():
            shutil.copyfile(self.a / zip_name, folder / zip_name)
        env = {"PATH": os.environ["PATH"], "HOME": str(home), "LANG": "C.UTF-8"}
        self.addCleanup(shutil.rmtree, folder, ignore_errors=True)
        self.addCleanup(subprocess.run, ["/usr/lib/wine/wineserver", "-k"], check=False,
                        env=dict(env, WINEPREFIX=str(home / ".wine-presets")))
        out = subprocess.run(["bash", "-c", block], cwd=folder, env=env, capture_output=True,
                             text=True, timeout=900, check=False).stdout
        runs = [dict(line.split(": ", 1) for line in run.strip().splitlines()
                     if ": " in line) for run in re.split(r"^backup path: \w+$", out, flags=re.M)]
        self.assertEqual(len(runs) - 1, len(expected), out)
        for number, (wanted, got) in enumerate(zip(expected, runs)):
            with self.subTest(run=number, expected=wanted):
                self.assertEqual({k: got.get(k) for k in wanted}, wanted, out)

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
