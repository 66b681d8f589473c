"""The integration guide (docs/integration.md) and its examples hold for the real programs.

The guide's table of lines is read and checked against the source: every message of the
programs is listed and no other, the one line no driver fault can bring about (an exception
escaping a backend, e.g. memory exhausted) has the source's exit code, and so do the
guide's two tables of what each preset writes and the messages it names as holding ";".
That every row is printed, and every printed line is a row, is the documents' own test
(test_docs.py), which plays every result table under Wine.
The front-end clients in clients/ must parse every listed line, messages holding ";" and
"=", give every listed (program, command, exit code, line) an outcome of its own, and start
the real programs themselves.
"""
import pathlib
import re
import shutil
import subprocess
import sys
import tempfile
import unittest

from harness import nvidia as nv  # noqa: E402
import test_clients  # noqa: E402
from harness import wine  # noqa: E402

GUIDE = wine.REPO / "docs" / "integration.md"
# The end users' README of the win64 package repeats the table for readers without the guide.
END_USER_README = wine.REPO / "package" / "win64" / "README.md"
CLIENTS = wine.REPO / "clients"
VENDOR = {"preset-nvidia": "NVIDIA", "preset-amd": "AMD"}
COMMANDS = {"status", "apply", "restore", "(none)", "other"}
# Brought about only by an exception escaping a backend; not reachable through a driver.
NOT_PROVOKED = {"Falha inesperada"}
LINE_FIELDS = re.compile(r"result=([a-z]+);vendor=([A-Z]+);supported=([^;]+);changed=([^;]+);"
                         r"message=(.*)")


sys.path.insert(0, str(CLIENTS))
import preset_client  # noqa: E402


class Row:
    """One row of the guide's table: who prints the line, for which commands, with which
    exit code; counts given as letters match any number, digits only themselves."""

    def __init__(self, program, commands, line, code):
        self.program, self.commands, self.line, self.code = program, commands, line, code
        fields = LINE_FIELDS.fullmatch(line)
        if not fields:
            raise AssertionError("guide line does not follow the layout: %r" % line)
        self.kind, self.vendor, self.supported, self.changed, self.message = fields.groups()

    def programs(self):
        return list(VENDOR) if self.program == "both" else [self.program]

    def example_line(self, program, supported=3, changed=2):
        """A concrete line of this row, as a run would print it."""
        def count(text, value):
            return text if text.isdigit() else str(value)
        return ("result=%s;vendor=%s;supported=%s;changed=%s;message=%s\r\n" % (
            self.kind, VENDOR[program], count(self.supported, supported),
            count(self.changed, changed), self.message)).encode("ascii")


def guide_rows(document=GUIDE):
    rows = []
    for raw in document.read_text(encoding="utf-8").splitlines():
        cells = [c.strip() for c in raw.strip().strip("|").split("|")] if raw.startswith("|") else []
        if len(cells) < 4 or not cells[2].startswith("`result="):
            continue
        program = cells[0].strip("`")
        commands = {c.strip() for c in cells[1].split(",")}
        if program not in ("both", *VENDOR) or not commands <= COMMANDS:
            raise AssertionError("unknown program or command in row %r" % raw)
        rows.append(Row(program, commands, cells[2].strip("`"), int(cells[3])))
    return rows


ROWS = guide_rows()


class GuideTable(unittest.TestCase):
    """The table itself, and every line quoted elsewhere in the guide, against the source."""

    def test_the_table_lists_rows(self):
        self.assertGreaterEqual(len(ROWS), 20)

    def test_every_quoted_line_is_a_table_line(self):
        for document in (GUIDE, END_USER_README):
            for quoted in re.findall(r"`(result=[^`]*)`", document.read_text(encoding="utf-8")):
                with self.subTest(document=document.name, line=quoted):
                    self.assertTrue(any(r.line == quoted for r in ROWS), quoted)

    def test_the_end_users_readme_lists_the_same_lines(self):
        def key(row):
            return row.program, sorted(row.commands), row.line, row.code
        self.assertEqual([key(r) for r in guide_rows(END_USER_README)], [key(r) for r in ROWS])

    def test_every_message_of_the_source_is_listed_and_no_other(self):
        sources = ["frame/entry.h", "nvidia/nvidia_words.h", "amd/amd_words.h"]
        messages = set()
        for name in sources:
            for text in re.findall(r'constexpr std::string_view k\w+ = "([^"]*)"',
                                   (wine.REPO / name).read_text()):
                if " " in text:
                    messages.add(text)
        self.assertEqual({r.message for r in ROWS}, messages)

    def test_the_lock_wait_it_states_is_the_programs(self):
        wait = re.search(r"kBackupLockWait\{(\d+)\}",
                         (wine.REPO / "store" / "backup_lock.h").read_text())
        self.assertIsNotNone(wait)
        seconds = int(wait.group(1)) // 1000
        for document in (GUIDE, END_USER_README):
            text = " ".join(document.read_text(encoding="utf-8").split())
            self.assertIn("waits up to %d seconds" % seconds, text, document.name)
        self.assertEqual(preset_client.TIMEOUT_S > seconds, True, "the client outwaits the lock")

    def test_it_names_every_message_holding_a_semicolon(self):
        text = " ".join(GUIDE.read_text(encoding="utf-8").split())
        sentence = re.search(r'(\w+) messages contain ";" themselves \(([^)]*)\)', text)
        self.assertIsNotNone(sentence)
        with_semicolon = {r.message for r in ROWS if ";" in r.message}
        self.assertEqual(set(re.findall(r'"([^"]*)"', sentence.group(2))), with_semicolon)
        self.assertEqual(sentence.group(1), {3: "three"}.get(len(with_semicolon)))

    def guide_table(self, header):
        """The body rows of the guide's table whose header row starts with `header`."""
        lines = GUIDE.read_text(encoding="utf-8").splitlines()
        start = next(i for i, line in enumerate(lines) if line.startswith(header))
        rows = []
        for line in lines[start + 2:]:
            if not line.startswith("|"):
                break
            rows.append([c.strip().strip("`") for c in line.strip("|").split("|")])
        return rows

    def test_the_nvidia_preset_table_is_the_programs(self):
        source = (wine.REPO / "nvidia" / "preset_table.cc").read_text()
        expected = [["0x%08X" % int(i, 16), "0x%08X" % int(v, 16)] +
                    ["yes" if int(level) <= preset else "no" for preset in (1, 2, 3)]
                    for i, v, level in re.findall(r"\{(0x\w+), (0x\w+), (\d)\}", source)]
        self.assertEqual(len(expected), 13)
        self.assertEqual(self.guide_table("| Setting id |"), expected)

    def test_the_amd_preset_table_is_the_programs(self):
        source = (wine.REPO / "amd" / "catalogue.cc").read_text()
        arrays = {name: values.split(", ") for name, values in re.findall(
            r"std::array<int32_t, 3> (\w+)\{([^}]*)\}", source)}
        names = dict(re.findall(r'constexpr std::string_view (\w+) = "([^"]*)"', source))
        expected = []
        for name, per_gpu, shape, lowest, values in re.findall(
                r'\{"?([\w-]+)"?, (true|false), SettingShape::(\w+),.*?(\d), (\w+)\},',
                source, re.S):
            preset = ["left alone" if level < int(lowest) else arrays[values][level - 1]
                      for level in (1, 2, 3)]
            expected.append([names.get(name, name), "each GPU" if per_gpu == "true" else "global",
                             {"toggle": "switch"}.get(shape, shape)] + preset)
        self.assertEqual(len(expected), 14)
        self.assertEqual(self.guide_table("| Setting | Scope |"), expected)

    def test_the_unprovoked_line_has_the_code_of_the_source(self):
        # The entry's catch-all prints this line with its unexpected-failure code.
        codes = (wine.REPO / "frame" / "exit_codes.h").read_text()
        self.assertIn("kUnexpectedFailure = 1;", codes)
        self.assertIn('kUnexpected = "Falha inesperada"', (wine.REPO / "frame" / "entry.h").read_text())
        self.assertEqual([r.code for r in ROWS if r.message in NOT_PROVOKED], [1])


# Lines whose message holds ";" and "=" (no real message holds "="), and their parts.
TRICKY = [
    (b"result=error;vendor=AMD;supported=3;changed=2;message=a;b=c\r\n",
     ("error", "AMD", 3, 2, "a;b=c")),
    (b"result=ok;vendor=NVIDIA;supported=0;changed=0;message=x=1;y=2;message=z\r\n",
     ("ok", "NVIDIA", 0, 0, "x=1;y=2;message=z")),
    (b"result=nothing;vendor=AMD;supported=10;changed=7;message=\r\n",
     ("nothing", "AMD", 10, 7, "")),
]
# Bytes that are not one result line: a front-end must not take them for one.
NOT_A_LINE = [
    b"",
    b"result=ok;vendor=AMD;supported=1;changed=0;message=GPU AMD detectada",
    b"result=ok;vendor=AMD;supported=1;changed=0;message=GPU AMD detectada\n",
    b"result=ok;vendor=AMD;supported=1;changed=0;message=a\r\nresult=ok;vendor=AMD;"
    b"supported=1;changed=0;message=b\r\n",
    b"result=ok;vendor=AMD;supported=1;message=GPU AMD detectada\r\n",
    b"result=ok;vendor=AMD;supported=x;changed=0;message=m\r\n",
    b"kind=ok;vendor=AMD;supported=1;changed=0;message=m\r\n",
    b"result=ok;vendor=AMD;supported=1;changed=0;note=m\r\n",
]


def every_table_line():
    """(bytes, fields) for every row of the guide and program it names."""
    cases = []
    for row in ROWS:
        for program in row.programs():
            data = row.example_line(program)
            supported = int(row.supported) if row.supported.isdigit() else 3
            changed = int(row.changed) if row.changed.isdigit() else 2
            cases.append((data, (row.kind, VENDOR[program], supported, changed, row.message)))
    return cases


# The outcome a client must give each listed answer: (command, exit code, kind).
OUTCOME_OF = {
    ("status", 0, "ok"): "supported",
    ("apply", 0, "ok"): "applied",
    ("apply", 21, "error"): "apply-partial",
    ("apply", 20, "error"): "apply-not-saved",
    ("restore", 0, "ok"): "restored",
    ("restore", 0, "nothing"): "nothing-to-restore",
    ("restore", 22, "error"): "restore-incomplete",
    ("status", 10, "unsupported"): "unsupported",
    ("apply", 10, "unsupported"): "unsupported",
    ("restore", 10, "unsupported"): "unsupported-backup-kept",
    ("(none)", 2, "error"): "caller-bug",
    ("other", 2, "error"): "caller-bug",
    ("apply", 2, "error"): "caller-bug",
    ("restore", 2, "error"): "caller-bug",
    ("apply", 3, "error"): "caller-bug",
    ("status", 1, "error"): "failed",
    ("apply", 1, "error"): "failed",
    ("restore", 1, "error"): "restore-failed",
}
# The first argument that stands for each command of the table.
FIRST_ARG = {"(none)": None, "other": "bogus", "status": "status", "apply": "apply",
             "restore": "restore"}
# Runs that did not end by themselves, by command: (how, first argument) -> outcome.
NOT_ENDED = {
    ("not-started", "status"): "not-started",
    ("not-started", "restore"): "not-started",
    ("timed-out", "apply"): "timed-out",
    ("timed-out", "bogus"): "timed-out",
    ("timed-out", "restore"): "restore-timed-out",
}


def every_listed_answer():
    """(program, first argument, exit code or how the run ended, line bytes, expected
    outcome) for every row, and for runs that did not end by themselves."""
    answers = []
    for row in ROWS:
        for program in row.programs():
            for command in sorted(row.commands):
                answers.append((program, FIRST_ARG[command], row.code,
                                row.example_line(program),
                                OUTCOME_OF[(command, row.code, row.kind)]))
    for (how, arg), outcome in NOT_ENDED.items():
        answers.append(("preset-amd", arg, how, b"", outcome))
    return answers


class PythonClient(unittest.TestCase):
    def parts(self, data):
        return tuple(preset_client.parse_result_line(data))

    def test_parses_every_listed_line_and_tricky_messages(self):
        for data, expected in every_table_line() + TRICKY:
            with self.subTest(line=data):
                self.assertEqual(self.parts(data), expected)

    def test_refuses_what_is_not_one_line(self):
        for data in NOT_A_LINE:
            with self.subTest(data=data):
                self.assertIsNone(preset_client.parse_result_line(data))

    def test_gives_every_listed_answer_its_outcome(self):
        for program, arg, code, data, outcome in every_listed_answer():
            with self.subTest(program=program, command=arg, code=code, line=data):
                ended = None if isinstance(code, int) else preset_client.Ended(code)
                result = preset_client.classify(preset_client.Program(program), arg,
                                                None if ended else code, data, ended)
                self.assertEqual(result.outcome.value, outcome)


class ClientRunsRealProgram(nv.NvidiaCase):
    """The clients start preset-nvidia.exe themselves: the Python one through Wine (here;
    the C++ one in test_clients.py)."""

    def sim_env(self, **extra):
        env = {"SIM_NVAPI_STATE": wine.winpath(self.state)}
        env.update(extra)
        return env

    def test_python_client_round_trip(self):
        self.write_state(nv.ORIGINAL)
        b = wine.winpath(self.backup)
        steps = [
            (["status"], {}, nv.DETECTED, 0, "supported"),
            (["apply", "gamer", b], {}, nv.applied(8, 8), 0, "applied"),
            (["restore", b], {"SIM_NVAPI_FAULTS": "SetSetting@0x00AC8497=-5"},
             nv.restore_incomplete(8, 7), 22, "restore-incomplete"),
            (["restore", b], {}, nv.restored(8), 0, "restored"),
        ]
        for args, extra, expected, code, outcome in steps:
            with self.subTest(args=args):
                run = preset_client.run_preset(nv.EXE, *args, launcher=[wine.WINE],
                                               env=wine.base_env(self.sim_env(**extra)))
                self.assertEqual((run.output, run.exit_code), (expected, code))
                result = preset_client.classify(preset_client.Program.NVIDIA, args[0],
                                                run.exit_code, run.output)
                self.assertEqual(result.outcome.value, outcome)
        self.assertEqual(nv.parse_state(self.state.read_bytes()), nv.ORIGINAL)

    def test_python_client_command_line(self):
        # Its exit status is 0 only when nothing is left to do.
        self.write_state(nv.ORIGINAL)
        cases = [
            (wine.WINE, 0, ["result: ok", "vendor: NVIDIA", "supported: 13", "changed: 0",
                            "message: GPU NVIDIA detectada", "exit: 0", "ended: answered",
                            "outcome: supported", "action: done", "backup path: keep"]),
            (str(self.dir / "no-such-launcher"), 1,
             ["no result line", "exit: none", "ended: not-started", "outcome: not-started",
              "action: report-bug", "backup path: keep"]),
        ]
        for launcher, status, lines in cases:
            with self.subTest(launcher=launcher), tempfile.TemporaryFile() as out:
                proc = subprocess.run([sys.executable, str(CLIENTS / "preset_client.py"),
                                       "--launcher", launcher, str(nv.EXE), "status"],
                                      env=wine.base_env(self.sim_env()),
                                      stdin=subprocess.DEVNULL, stdout=out,
                                      stderr=subprocess.DEVNULL, timeout=120, check=False)
                out.seek(0)
                self.assertEqual((out.read().decode().splitlines(), proc.returncode),
                                 (lines, status))


class CppClient(unittest.TestCase):
    """The C++ client, built with MinGW and run under Wine, gives every listed answer its
    outcome and parses every listed line and the tricky ones as the Python client does."""

    DRIVER = wine.BIN / "clients" / "preset-client-check.exe"

    def run_driver(self, answers_file):
        out, code = wine.run(self.DRIVER, ["--classify", wine.winpath(answers_file)],
                             timeout=120)
        return out.decode("ascii").replace("\r\n", "\n"), code

    def classify(self, answers):
        """Runs the client over (program, first argument, exit code or how the run ended,
        bytes); its lines."""
        folder = pathlib.Path(tempfile.mkdtemp(prefix="guide-client-"))
        self.addCleanup(shutil.rmtree, folder, ignore_errors=True)
        source = folder / "answers.txt"
        source.write_text("".join("%s %s %s %s\n" % (program, arg or "-", code, data.hex())
                                  for program, arg, code, data in answers))
        out, code = self.run_driver(source)
        self.assertEqual(code, 0, out)
        return out.split("\n")[:-1]

    def test_gives_every_listed_answer_its_outcome(self):
        answers = every_listed_answer()
        got = self.classify([a[:4] for a in answers])
        self.assertEqual([g.split(" ")[0] for g in got], [a[4] for a in answers])

    def test_parses_every_listed_line_and_tricky_messages(self):
        lines = every_table_line() + TRICKY
        got = self.classify([("preset-amd" if fields[1] == "AMD" else "preset-nvidia",
                              "status", 0, data) for data, fields in lines])
        self.assertEqual([g.split("\t", 1)[1] for g in got],
                         ["%s\t%s\t%d\t%d\t%s" % fields for _, fields in lines])

    def test_refuses_what_is_not_one_line(self):
        got = self.classify([("preset-amd", "status", 0, data) for data in NOT_A_LINE])
        self.assertEqual(got, ["failed tell-user keep no-line 0"] * len(NOT_A_LINE))


class CsClient(CppClient):
    """The same for the C# client, compiled by mcs and run by mono."""

    def run_driver(self, answers_file):
        out, code = test_clients.run_cs(["--classify", str(answers_file)])
        return out.decode("ascii"), code


if __name__ == "__main__":
    unittest.main()
