"""The three front-end clients (clients/) turn real runs into the answer the guide prescribes.

Every case of client_cases.json sets up the simulated driver and runs the real program
through the Python client (plain and on asyncio), through the C++ client (built with MinGW,
run under Wine, where it starts the program with CreateProcessW and hands it the case's
variables through its environment parameter) and through the C# client's RunAsync
(compiled by Mono's mcs, run by mono, starting the program through Wine as the Python
client does). Each must answer exactly the case's outcome, action, backup-path decision,
how the run ended, exit code and standard error, leave the backup where the case says, and
answer a cancelled run within a second. The C++ driver first starts itself with the case's
arguments and fails when they do not come back intact, or when the child holds an
inheritable handle that the driver did not pass it, so every case checks its quoting and
its handle list too; the quoting table pins the Windows command line that the C++ and C#
clients make of awkward arguments, and the C++ driver proves each through the C runtime's
parser. Each client classifies the exit_codes table from the exit code alone, carries the
programs' version and the guide's texts.

PRESETS_CPP_CHECK, PRESETS_CS_CHECK and PRESETS_PY_CLIENT=installed run the same cases
through drivers built against the kit's packages (tests/release/test_packages.py).
"""
import asyncio
import json
import os
import pathlib
import re
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

HERE = pathlib.Path(__file__).resolve().parent
from harness import amd  # noqa: E402
from harness import nvidia as nv  # noqa: E402
from harness import wine  # noqa: E402

# The client from the source tree, or the one a package installed for this interpreter.
if os.environ.get("PRESETS_PY_CLIENT") != "installed":
    sys.path.insert(0, str(wine.REPO / "clients"))
import preset_client  # noqa: E402

sys.path.insert(0, str(wine.REPO / "tests" / "release"))
from release_env import PROGRAMS, project_version  # noqa: E402

TABLE = json.loads((HERE / "client_cases.json").read_text(encoding="utf-8"))
CASES = TABLE["cases"]
CPP_DRIVER = pathlib.Path(os.environ.get("PRESETS_CPP_CHECK",
                                         wine.BIN / "clients" / "preset-client-check.exe"))
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
        self.cancel = case.get("cancel", False)
        self.log = base / "calls.log"
        if self.cancel:
            log = "SIM_NVAPI_LOG" if case["program"] == "preset-nvidia" else "SIM_ADLX_LOG"
            self.env[log] = wine.winpath(self.log)
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
        self.detail = case.get("detail", False)

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

    def each_case(self, answer, rows=CASES):
        """Runs `answer(case)` for every row, in a new folder; it returns the seven words:
        outcome, action, backup path, how the run ended, exit code, standard error as hex,
        milliseconds from the cancel to the answer."""
        for row in rows:
            with self.subTest(case=row["name"]):
                base = pathlib.Path(tempfile.mkdtemp(prefix="client-e2e-"))
                self.addCleanup(shutil.rmtree, base, ignore_errors=True)
                for attempt in range(wine.STARTS):
                    (base / str(attempt)).mkdir()
                    case = Case(row, base / str(attempt))
                    words = answer(case)
                    # No line and exit 1 is what a run Wine failed to start ends with (the
                    # programs never do): the case is played again in a new folder.
                    if words[3:5] != ["no-line", "1"] or row["expect"][3:5] == words[3:5]:
                        break
                stderr = row.get("stderr", "").encode("utf-8").hex() or "-"
                self.assertEqual(words[:6], row["expect"] + [stderr])
                if case.cancel:
                    self.assertLess(int(words[6]), 1000, "a cancelled run answers at once")
                else:
                    self.assertEqual(words[6], "-")
                if "backup_after" in row:
                    self.assertEqual(case.backup.is_file(), row["backup_after"])

    def python_args(self, case):
        return dict(timeout=case.timeout, env=wine.base_env(case.env), launcher=[wine.WINE],
                    detail=case.detail)

    def test_python_client(self):
        def answer(case):
            result, _ = preset_client.run_and_classify(case.exe, *case.args,
                                                       **self.python_args(case))
            return python_words(result) + ["-"]
        self.each_case(answer, [row for row in CASES if not row.get("cancel")])

    def test_python_client_on_asyncio(self):
        async def answer(case):
            cancel = asyncio.Event()
            watch = asyncio.ensure_future(cancel_on_sleep(case.log, cancel)) if case.cancel \
                else None
            result, _ = await preset_client.run_and_classify_async(
                case.exe, *case.args, cancel=cancel, **self.python_args(case))
            answered = time.monotonic()
            if watch is not None and not watch.done():
                watch.cancel()
            taken = "-" if watch is None or watch.cancelled() else \
                str(int((answered - watch.result()) * 1000))
            return python_words(result) + [taken]
        self.each_case(lambda case: asyncio.run(answer(case)))

    def test_python_task_cancelled_ends_the_run(self):
        # asyncio's own cancelling: the run is ended and the task raises CancelledError.
        async def answer(case):
            task = asyncio.ensure_future(preset_client.run_and_classify_async(
                case.exe, *case.args, **self.python_args(case)))
            cancelled_at = await cancel_on_sleep(case.log, asyncio.Event())
            task.cancel()
            with self.assertRaises(asyncio.CancelledError):
                await task
            return time.monotonic() - cancelled_at

        for row in (r for r in CASES if r.get("cancel")):
            with self.subTest(case=row["name"]):
                base = pathlib.Path(tempfile.mkdtemp(prefix="client-e2e-"))
                self.addCleanup(shutil.rmtree, base, ignore_errors=True)
                self.assertLess(asyncio.run(answer(Case(row, base))), 1.0)

    def test_cpp_client(self):
        self.assertTrue(CPP_DRIVER.is_file(), "%s was not built" % CPP_DRIVER)

        def answer(case):
            # The variables reach the program only through the client's environment
            # parameter: the driver itself runs without them.
            options = [a for k, v in case.env.items() for a in ("--env", "%s=%s" % (k, v))]
            options += ["--detail"] if case.detail else []
            options += ["--cancel-on", wine.winpath(case.log)] if case.cancel else []
            out, code = wine.run(CPP_DRIVER, options + [
                str(case.timeout * 1000), case.case["program"], wine.winpath(case.exe),
                *case.args], timeout=case.timeout + 120)
            self.assertEqual(code, 0, out)
            return out.decode("utf-8").split()
        self.each_case(answer)

    def test_cs_client(self):
        self.assertTrue(CS_DRIVER.is_file(), "%s was not built" % CS_DRIVER)

        def answer(case):
            options = ["--launcher", wine.WINE] + (["--detail"] if case.detail else [])
            options += ["--cancel-on", str(case.log)] if case.cancel else []
            out, code = run_cs(options + [str(case.timeout * 1000), case.case["program"],
                                          str(case.exe), *case.args],
                               env=wine.base_env(case.env), timeout=case.timeout + 120)
            self.assertEqual(code, 0, out)
            return out.decode("utf-8").split()
        self.each_case(answer)

    def test_every_client_classifies_from_the_exit_code_alone(self):
        rows = TABLE["exit_codes"]
        expected = [" ".join(row["expect"]) for row in rows]
        got = [" ".join(python_words(preset_client.classify_exit_code(
            preset_client.Program(row["program"]), None if row["command"] == "-" else
            row["command"], row["code"]))[:5]) for row in rows]
        self.assertEqual(got, expected)
        folder = pathlib.Path(tempfile.mkdtemp(prefix="client-codes-"))
        self.addCleanup(shutil.rmtree, folder, ignore_errors=True)
        codes = folder / "codes.txt"
        codes.write_text("".join("%(program)s %(command)s %(code)d\n" % row for row in rows))
        out, code = wine.run(CPP_DRIVER, ["--classify-code", wine.winpath(codes)])
        self.assertEqual((out.decode("ascii").splitlines(), code), (expected, 0))
        self.assertEqual(run_cs(["--classify-code", str(codes)]),
                         ("".join(e + "\n" for e in expected).encode("ascii"), 0))

    def test_every_client_gives_each_outcome_the_guides_texts(self):
        guide = (wine.REPO / "docs" / "integration.md").read_text(encoding="utf-8")
        table = re.search(r"^\| Outcome \| English \| Portuguese \|\n\|[-|]+\|\n((?:\|.*\n)+)",
                          guide, re.M).group(1)
        rows = [[c.strip().strip("`") for c in line.strip().strip("|").split("|")]
                for line in table.splitlines()]
        self.assertEqual([r[0] for r in rows], [o.value for o in preset_client.Outcome])
        expected = "".join("\t".join(r) + "\n" for r in rows).encode("utf-8")
        self.assertEqual("".join("%s\t%s\t%s\n" % (o.value, preset_client.outcome_text(o),
                                                  preset_client.outcome_text(o, "pt"))
                                 for o in preset_client.Outcome).encode("utf-8"), expected)
        self.assertEqual(wine.run(CPP_DRIVER, ["--texts"]), (expected, 0))
        self.assertEqual(run_cs(["--texts"]), (expected, 0))

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
        # Each client carries the version of the programs it was made with.
        self.assertEqual(preset_client.__version__, version)
        self.assertEqual(wine.run(CPP_DRIVER, ["--client-version"]),
                         (version.encode() + b"\r\n", 0))
        self.assertEqual(run_cs(["--client-version"]), (version.encode() + b"\n", 0))
        for name, exe in PROGRAMS.items():
            with self.subTest(program=name):
                self.assertEqual(preset_client.program_version(exe), version)
                out, code = wine.run(CPP_DRIVER, ["--version", wine.winpath(exe)])
                self.assertEqual((out, code), (version.encode() + b"\r\n", 0))
                self.assertEqual(run_cs(["--version", str(exe)]), (version.encode() + b"\n", 0))


def python_words(result):
    """The Python client's answer as the drivers print it, without the cancel time."""
    return [result.outcome.value, result.action.value,
            "keep" if result.keep_backup_path else "forget", result.ended.value,
            "-" if result.exit_code is None else str(result.exit_code),
            result.detail.encode("utf-8").hex() or "-"]


async def cancel_on_sleep(log, cancel):
    """Sets `cancel` once the simulated driver's call log shows that the run sleeps in a
    driver call (the run cannot end by itself before its sleep has); returns that moment."""
    while not (log.is_file() and b"sleep" in log.read_bytes().lower()):
        await asyncio.sleep(0.01)
    cancel.set()
    return time.monotonic()


def run_cs(args, env=None, timeout=120):
    """Runs the C# driver with mono; returns (stdout bytes, exit code)."""
    proc = subprocess.run([MONO, str(CS_DRIVER), *args], env=env, stdin=subprocess.DEVNULL,
                          capture_output=True, timeout=timeout, check=False)
    return proc.stdout, proc.returncode


if __name__ == "__main__":
    unittest.main()
