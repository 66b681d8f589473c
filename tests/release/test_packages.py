"""Each client package of the devkit ZIP is taken in the way its ecosystem takes a
dependency, and the program built from it runs the client case table, cancelling included.

- NuGet: Debian's nuget installs the .nupkg from a folder source; mcs compiles the C#
  check program against the assembly it installed (so its RunAsync, a Task taking a
  CancellationToken, is public), and the program runs beside that assembly.
- Python: the wheel goes into a fresh venv with `pip install --no-index`; it offers
  __version__, async functions and `python -m preset_client`; the venv's interpreter runs
  the case table against the installed package.
- CMake: a consumer project finds GpuPresetsClient by its config file and builds the C++
  check program with MinGW against GpuPresets::PresetClient.

Then tests/e2e/test_clients.py runs under the venv's interpreter with those three programs.
scripts/release.sh runs this after it has packed the ZIPs (RELEASE_BUILD_DIR names the
release tree, whose programs and simulated drivers the cases run in a Wine prefix of that
tree); it takes about a minute, so the test command does not.
"""
import os
import pathlib
import shutil
import subprocess
import sys
import tempfile
import unittest
import zipfile

from release_env import REPO, project_version

BUILD = pathlib.Path(os.environ.get("RELEASE_BUILD_DIR", REPO / "build" / "release")).resolve()
VERSION = "%d.%d.%d" % project_version()
DEVKIT = BUILD / ("gpu-presets-%s-devkit.zip" % VERSION)
NUGET_ID = "GpuPresets.PresetClient"


def run(args, **kwargs):
    """Runs a command that must succeed; returns its standard output as text."""
    proc = subprocess.run([str(a) for a in args], capture_output=True, text=True,
                          stdin=subprocess.DEVNULL, check=False, **kwargs)
    if proc.returncode != 0:
        raise AssertionError("%s failed (%d):\n%s%s" % (args, proc.returncode, proc.stdout,
                                                         proc.stderr))
    return proc.stdout


class PackagesFromTheKit(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.work = pathlib.Path(tempfile.mkdtemp(prefix="release-packages-"))
        with zipfile.ZipFile(DEVKIT) as archive:
            archive.extractall(cls.work)
        cls.packages = cls.work / ("gpu-presets-%s-devkit" % VERSION) / "packages"

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.work, ignore_errors=True)

    def nuget_check(self):
        """The C# check program compiled against the assembly NuGet installed."""
        installed = self.work / "nuget"
        run(["nuget", "install", NUGET_ID, "-Version", VERSION, "-Source", self.packages,
             "-OutputDirectory", installed, "-NonInteractive"],
            env=dict(os.environ, HOME=str(self.work)))
        lib = installed / ("%s.%s" % (NUGET_ID, VERSION)) / "lib" / "net45"
        self.assertEqual(sorted(p.name for p in lib.iterdir()),
                         [NUGET_ID + ".dll", NUGET_ID + ".xml"])
        check = lib / "preset-client-check-cs.exe"
        run(["mcs", "-langversion:6", "-warn:4", "-warnaserror+", "-r:System.Core",
             "-r:" + str(lib / (NUGET_ID + ".dll")), "-out:" + str(check),
             REPO / "clients" / "preset_client_check.cs"])
        return check

    def venv_python(self):
        """The interpreter of a fresh venv that the wheel was installed into, offline."""
        venv = self.work / "venv"
        run([sys.executable, "-m", "venv", venv])
        python = venv / "bin" / "python"
        wheel = self.packages / ("gpu_presets_client-%s-py3-none-any.whl" % VERSION)
        run([python, "-m", "pip", "install", "--no-index", "--disable-pip-version-check",
             "--no-cache-dir", wheel])
        facts = run([python, "-c", "import inspect, preset_client as c; print(c.__version__, "
                     "inspect.iscoroutinefunction(c.run_and_classify_async), "
                     "inspect.iscoroutinefunction(c.run_preset_async), "
                     "c.__file__.startswith(%r))" % str(venv)], cwd=self.work)
        self.assertEqual(facts.split(), [VERSION, "True", "True", "True"])
        exe = BUILD / "nvidia" / "preset-nvidia.exe"
        self.assertEqual(run([python, "-m", "preset_client", "--version", exe]), VERSION + "\n")
        return python

    def cmake_check(self):
        """The C++ check program of a MinGW project that found the package by its config."""
        build = self.work / "cmake-consumer"
        run(["cmake", "-S", REPO / "tests" / "release" / "cmake_consumer", "-B", build,
             "-G", "Ninja", "-DCMAKE_BUILD_TYPE=Release",
             "-DCMAKE_TOOLCHAIN_FILE=%s" % (REPO / "cmake" / "mingw-w64-x86_64.cmake"),
             "-DCMAKE_PREFIX_PATH=%s" % (self.packages / "cmake"),
             "-DCHECK_SOURCE=%s" % (REPO / "clients" / "preset_client_check.cc")])
        run(["cmake", "--build", build])
        return build / "preset-client-check.exe"

    def test_each_package_runs_the_client_cases(self):
        env = dict(os.environ, PRESETS_CS_CHECK=str(self.nuget_check()),
                   PRESETS_CPP_CHECK=str(self.cmake_check()), PRESETS_PY_CLIENT="installed",
                   PRESETS_WIN_BIN=str(BUILD), E2E_WINEPREFIX=str(BUILD / "wineprefix"),
                   # the harness and the kit's checks it builds on, and no client beside them
                   PYTHONPATH=os.pathsep.join([str(REPO / "tests"), str(REPO / "selftest")]))
        cases = subprocess.run([str(self.venv_python()),
                                str(REPO / "tests" / "e2e" / "test_clients.py")],
                               env=env, stdin=subprocess.DEVNULL, capture_output=True,
                               text=True, timeout=900, check=False)
        self.assertEqual(cases.returncode, 0, cases.stdout + cases.stderr)


if __name__ == "__main__":
    unittest.main()
