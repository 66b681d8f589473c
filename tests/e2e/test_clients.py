"""The three front-end clients (clients/) turn real runs into the answer the guide prescribes.

Every case of client_cases.json sets up the simulated driver and runs the real program
through the Python client, through the C++ client (built with MinGW, run under Wine, where
it starts the program with CreateProcessW) and through the C# client (compiled by Mono's
mcs, run by mono, starting the program through Wine as the Python client does). Each must
answer exactly the case's outcome, action, backup-path decision, how the run ended and exit
code, and leave the backup where the case says. The C++ driver first starts itself with the
case's arguments and fails when they do not come back intact, so every case checks its
quoting too; the quoting table pins the Windows command line that the C++ and C# clients
make of awkward arguments, and the C++ driver proves each through the C runtime's parser.
"""
import json
import os
import pathlib
import shutil
import subprocess
import sys
import tempfile
import unittest

HERE = pathlib.Path(__file__).resolve().parent
sys.path.insert(0, str(HERE))
import amd_harness as amd  # noqa: E402
import nvidia_harness as nv  # noqa: E402
import wine  # noqa: E402

sys.path.insert(0, str(wine.REPO / "clients"))
import preset_client  # noqa: E402

sys.path.insert(0, str(wine.REPO / "tests" / "release"))
from release_env import PROGRAMS, project_version  # noqa: E402

TABLE = json.loads((HERE / "client_cases.json").read_text(encoding="utf-8"))
CASES = TABLE["cases"]
CPP_DRIVER = wine.BIN / "clients" / "preset-client-check.exe"
CS_DRIVER = pathlib.Path(os.environ.get("PRESETS_CS_CHECK", wine.REPO / "build" / "native" /
                                        "tests" / "preset-client-check-cs.exe"))
MONO = "mono"
CANNED_BACKUP = {
    "nvidia": nv.GAMER_BACKUP,
    "amd": amd.backup_bytes({"global.rsr": "0", "gpu.7.chill": "0"}),
}


class Case:
    """One case made ready in a folder of its own: program, driver, files, arguments."""

    def __init__(self, case, base):
        self.case, self.dir = case, base
        self.env = {}
        if case["program"] == "preset-nvidia":
            self.exe = nv.EXE
            if case["driver"]:
                wine.install_dll(nv.sim_dll(), "nvapi64.dll")
            else:
                wine.remove_dll("nvapi64.dll")
            (base / "state.txt").write_bytes(nv.state_bytes(nv.ORIGINAL))
            self.env["SIM_NVAPI_STATE"] = wine.winpath(base / "state.txt")
        else:
            # The runtime is found beside the program, or else in system32: none there.
            wine.remove_dll(amd.DLL_NAME)
            app = base / "app"
            app.mkdir()
            self.exe = app / "preset-amd.exe"
            shutil.copyfile(amd.EXE, self.exe)
            if case["driver"]:
                shutil.copyfile(amd.sim_dll(), app / amd.DLL_NAME)
            self.env.update({"SIM_ADLX_GPUS": "2", "SIM_ADLX_IDS": "7,-2",
                             "SIM_ADLX_STATE": wine.winpath(base / "state.txt")})
        if case.get("exe") == "missing":
            self.exe = base / "not here" / self.exe.name
        self.env.update(case.get("env", {}))
        relative = case.get("backup_path", "backup.txt")
        self.backup = base.joinpath(*relative.split("\\"))
        if "backup" in case:
            self.backup.parent.mkdir(parents=True, exist_ok=True)
            self.backup.write_bytes(CANNED_BACKUP[case["backup"]])
        if "folder" in case:
            (base / case["folder"]).mkdir()
        places = {"{backup}": wine.winpath(base) + "\\" + relative, "{dir}": wine.winpath(base)}
        self.args = [self.fill(a, places) for a in case["args"]]
        self.timeout = case.get("timeout", preset_client.TIMEOUT_S)

    @staticmethod
    def fill(arg, places):
        for mark, value in places.items():
            arg = arg.replace(mark, value)
        return arg


class ClientCases(unittest.TestCase):
    maxDiff = None

    @classmethod
    def setUpClass(cls):
        wine.ensure_prefix()

    def setUp(self):
        self.addCleanup(wine.remove_dll, "nvapi64.dll")
        self.addCleanup(wine.remove_dll, amd.DLL_NAME)

    def each_case(self, answer):
        """Runs `answer(case)` for every case, in a new folder; it returns the three words."""
        for row in CASES:
            with self.subTest(case=row["name"]):
                base = pathlib.Path(tempfile.mkdtemp(prefix="client-e2e-"))
                self.addCleanup(shutil.rmtree, base, ignore_errors=True)
                case = Case(row, base)
                self.assertEqual(answer(case), row["expect"])
                if "backup_after" in row:
                    self.assertEqual(case.backup.is_file(), row["backup_after"])

    def test_python_client(self):
        def answer(case):
            result, _ = preset_client.run_and_classify(
                case.exe, *case.args, timeout=case.timeout, env=wine.base_env(case.env),
                launcher=[wine.WINE])
            return [result.outcome.value, result.action.value,
                    "keep" if result.keep_backup_path else "forget", result.ended.value,
                    "-" if result.exit_code is None else str(result.exit_code)]
        self.each_case(answer)

    def test_cpp_client(self):
        self.assertTrue(CPP_DRIVER.is_file(), "%s was not built" % CPP_DRIVER)

        def answer(case):
            out, code = wine.run(CPP_DRIVER, [str(case.timeout * 1000), case.case["program"],
                                              wine.winpath(case.exe), *case.args],
                                 env=case.env, timeout=case.timeout + 120)
            self.assertEqual(code, 0, out)
            return out.decode("utf-8").split()
        self.each_case(answer)

    def test_cs_client(self):
        self.assertTrue(CS_DRIVER.is_file(), "%s was not built" % CS_DRIVER)

        def answer(case):
            out, code = run_cs(["--launcher", wine.WINE,
                                str(case.timeout * 1000), case.case["program"], str(case.exe),
                                *case.args], env=wine.base_env(case.env),
                               timeout=case.timeout + 120)
            self.assertEqual(code, 0, out)
            return out.decode("utf-8").split()
        self.each_case(answer)

    def test_cpp_and_cs_quote_by_the_windows_rules(self):
        # The C++ driver prints a line only once its arguments came back through the
        # programs' C runtime; the C# client's must be the same line.
        rows = pathlib.Path(tempfile.mkdtemp(prefix="client-quoting-")) / "rows.txt"
        self.addCleanup(shutil.rmtree, rows.parent, ignore_errors=True)
        rows.write_text("".join(" ".join(a.encode("utf-16-be").hex() or "-" for a in r["args"])
                                + "\n" for r in TABLE["quoting"]))
        lines = [r["line"].encode("utf-16-be").hex() for r in TABLE["quoting"]]
        out, code = wine.run(CPP_DRIVER, ["--quote", wine.winpath(rows)])
        self.assertEqual((out.decode("ascii").split(), code), (lines, 0))
        out, code = run_cs(["--quote", str(rows)])
        self.assertEqual((out.decode("ascii").split(), code), (lines, 0))

    def test_every_client_reads_the_programs_version(self):
        version = "%d.%d.%d" % project_version()
        for name, exe in PROGRAMS.items():
            with self.subTest(program=name):
                self.assertEqual(preset_client.program_version(exe), version)
                out, code = wine.run(CPP_DRIVER, ["--version", wine.winpath(exe)])
                self.assertEqual((out, code), (version.encode() + b"\r\n", 0))
                self.assertEqual(run_cs(["--version", str(exe)]), (version.encode() + b"\n", 0))


def run_cs(args, env=None, timeout=120):
    """Runs the C# driver with mono; returns (stdout bytes, exit code)."""
    proc = subprocess.run([MONO, str(CS_DRIVER), *args], env=env, stdin=subprocess.DEVNULL,
                          capture_output=True, timeout=timeout, check=False)
    return proc.stdout, proc.returncode


if __name__ == "__main__":
    unittest.main()
