"""The kinds of result table the documents hold: how a row is named (its key, the part that
stays when an answer changes), what its own text expects, and how the runs of its
scenarios are held to that.

Every kind reads its expectations from the row (or, where the row says "as for ..." or a
section gives the lines once for a whole table, from that text), never from the case list:
change a number in a document and the rows that state it fail.
"""
import re
from dataclasses import dataclass, field

from . import lines as result_lines
from . import tables as md

PROGRAM_WORDS = {"both": ("nvidia", "amd"), "nvidia": ("nvidia",), "amd": ("amd",),
                 "preset-nvidia": ("nvidia",), "preset-amd": ("amd",)}
COMMANDS = {"(none)", "status", "apply", "restore", "other"}
ANY_COMMAND = {"any", "all"}


def programs_of(cell):
    word = cell.strip("` ")
    if word not in PROGRAM_WORDS:
        raise ValueError("unknown program %r" % cell)
    return PROGRAM_WORDS[word]


# -- references from a row to the runs that produce it -------------------------------------

@dataclass(frozen=True)
class Ref:
    """The runs labelled `label` of the scenario `scenario` ("{p}" stands for the program:
    "nvidia" or "amd")."""
    scenario: str
    label: str

    def name(self, program):
        return self.scenario.replace("{p}", program)


@dataclass
class Unprovoked:
    """A row no simulated driver can bring about, and why; reported as skipped."""
    reason: str


class Seen:
    """The played scenarios, by name, as the kinds look them up."""

    def __init__(self, played):
        self.played = played

    def scenario(self, name):
        if name not in self.played:
            raise KeyError("no scenario named %r" % name)
        return self.played[name]

    def records(self, ref, program="nvidia"):
        return self.scenario(ref.name(program)).labelled(ref.label)

    def record(self, name, label, index=0):
        found = self.scenario(name).labelled(label)
        if len(found) <= index:
            raise LookupError("%s has no run labelled %r" % (name, label))
        return found[index]


def describe(record):
    return "%r, exit %r" % (record.out, record.code)


def held_to(shape, code, program, records, what):
    """Problems of `records` against a documented line and exit code."""
    problems = []
    if not records:
        problems.append("%s: no run carries this label" % what)
    for record in records:
        if code is not None and record.code != code:
            problems.append("%s: exit %r, the row says %d (%r)" % (what, record.code, code,
                                                                     record.out))
        elif shape is not None and not shape.matches(program, record.out):
            problems.append("%s: printed %r, the row says %s" % (what, record.out, shape.text))
    return problems


# -- result-line tables ---------------------------------------------------------------------

@dataclass
class LineRow:
    programs: tuple
    commands: set     # empty: any command the case runs
    shape: object
    code: int


class LineTable:
    """Program | Command | Line | Exit [| what it means]: one documented line a row.
    Key: (program word, message). Case: {command: [Ref, ...]} or Unprovoked."""

    def key(self, row, table):
        parsed = self.parse(row)
        return parsed.programs, parsed.shape.message()

    def parse(self, row):
        cells = row.cells
        commands = {c.strip() for c in cells[1].split(",")}
        if commands & ANY_COMMAND:
            commands = set()
        elif not commands <= COMMANDS:
            raise ValueError("unknown command in %r" % cells[1])
        shape = result_lines.first_line(cells[2])
        if shape is None:
            raise ValueError("no result line in %r" % cells[2])
        return LineRow(programs_of(cells[0]), commands, shape, int(cells[3]))

    def judge(self, row, table, case, seen, docs):
        expected = self.parse(row)
        problems = []
        if expected.commands and set(case) != expected.commands:
            problems.append("the row's commands are %s, the case runs %s"
                            % (sorted(expected.commands), sorted(case)))
        for program in expected.programs:
            for command, refs in sorted(case.items()):
                for ref in refs:
                    problems += held_to(expected.shape, expected.code, program,
                                        seen.records(ref, program),
                                        "%s %s (%s)" % (program, command, ref.name(program)))
        return problems


def main_lines(docs):
    """The integration guide's table of every line, as (programs, commands, shape, code)."""
    table = docs.table("docs/integration.md", "Every line and exit code")
    return [LineTable().parse(row) for row in table.rows]


def known_line(rows):
    """Whether a printed line is listed exactly once for its program, command and exit."""
    def known(program, command, out, code):
        hits = [r for r in rows if program in r.programs
                and (not r.commands or command in r.commands)
                and r.code == code and r.shape.matches(program, out)]
        return len(hits) == 1
    return known


# -- hostile-path tables ----------------------------------------------------------------------

def cell_expectation(cell, program, references, column=None):
    """What a cell of a refused-path table expects for `program`: (shape or None, code), or
    None for "(no backup yet)" and an empty cell. "as for a directory, 20 / 21" takes the
    line of the row named so, and its codes per program (nvidia / amd)."""
    text = cell.strip()
    if not text or text.startswith("("):
        return None
    codes = re.search(r",\s*(\d+)(?:\s*/\s*(\d+))?", text.split("`")[-1] if "`" in text
                      else text)
    if codes is None:
        raise ValueError("no exit code in %r" % cell)
    code = int(codes.group(2) if codes.group(2) and program == "amd" else codes.group(1))
    shape = result_lines.first_line(text)
    if shape is None:
        named = re.match(r"as for (an? [\w ]+?),", text)
        if not named:
            raise ValueError("neither a line nor a reference in %r" % cell)
        shape = references(named.group(1), program, column)
    return shape, code


class RefusedTable:
    """Case | Program | apply | restore: rows of one case for each program (a row with an
    empty Case cell continues the one above). Key: (case, program word). Case:
    {"apply": Ref, "restore": Ref} (either may be missing where the cell is empty)."""

    COLUMNS = ("apply", "restore")

    def rows_named(self, table):
        name, out = "", []
        for row in table.rows:
            name = row.cells[0] or name
            out.append((name, row))
        return out

    def key(self, row, table):
        name = next(n for n, r in self.rows_named(table) if r is row)
        return name, row.cells[1]

    def references(self, table):
        def find(text, program, column):
            for name, row in self.rows_named(table):
                if name.lower().startswith(text.lower()) and program in programs_of(row.cells[1]):
                    cell = row.cells[2 + self.COLUMNS.index(column)]
                    return cell_expectation(cell, program, None)[0]
            raise ValueError("no row %r for %s" % (text, program))
        return find

    def judge(self, row, table, case, seen, docs):
        """`case`: {column: Ref} for each scenario that plays the row."""
        return [p for variant in case for p in self.judge_one(row, table, variant, seen)]

    def judge_one(self, row, table, case, seen):
        problems = []
        for index, column in enumerate(self.COLUMNS):
            for program in programs_of(row.cells[1]):
                expected = cell_expectation(row.cells[2 + index], program,
                                            self.references(table), column)
                ref = case.get(column)
                if expected is None:
                    if ref is not None:
                        problems.append("the %s cell is empty, the case runs it" % column)
                    continue
                if ref is None:
                    problems.append("no run for the %s cell" % column)
                    continue
                problems += held_to(expected[0], expected[1], program,
                                    seen.records(ref, program),
                                    "%s %s (%s)" % (program, column, ref.name(program)))
        return problems


class SourceTable:
    """Program | apply | restore: the lines other tables point to (the lines of a refused
    path). Its rows are the programs; the rows of the tables that use it run them."""

    def key(self, row, table):
        return row.cells[0]

    def lines(self, table):
        found = {}
        for row in table.rows:
            for index, column in enumerate(("apply", "restore")):
                for program in programs_of(row.cells[0]):
                    found[(program, column)] = cell_expectation(row.cells[1 + index], program,
                                                                None)
        return found

    def judge(self, row, table, case, seen, docs):
        # Its lines are held to the runs of the tables that read them (`case` names them).
        self.lines(table)
        return []


@dataclass
class Sourced:
    """A row of a table whose lines come from elsewhere in its document: `scenario` per
    program ("{p}" template), each label read as `labels` says."""
    scenario: str
    labels: dict = field(default_factory=dict)  # run label -> what it is read as


class SourcedTable:
    """A table whose rows say which case they are, and whose lines the document gives once
    elsewhere: `sources(docs)` maps (program, reading) to (shape, code)."""

    def __init__(self, sources, programs=("nvidia", "amd")):
        self.sources, self.programs = sources, programs

    def key(self, row, table):
        return row.cells[0]

    def judge(self, row, table, case, seen, docs):
        """`case`: a Sourced for each scenario that plays the row."""
        problems = []
        expected = self.sources(docs)
        for variant, program in [(v, p) for v in case for p in self.programs]:
            played = seen.scenario(variant.scenario.replace("{p}", program))
            for label, reading in variant.labels.items():
                shape, code = expected[(program, reading)]
                problems += held_to(shape, code, program, played.labelled(label),
                                    "%s %s (%s)" % (program, label, played.scenario.name))
        return problems


def work_lines(docs):
    """The lines the paragraph of "Paths that work" gives a round trip: apply gamer and
    restore, NVIDIA's in full and AMD's after "AMD:"."""
    text = md.section_text(docs.text("docs/hostile-paths.md"), "Paths that work")
    spans = [s for s in md.code_spans(text.split("\n|")[0])
             if "message=" in s and s.startswith(("result=",) + result_lines.ELLIPSES)]
    if len(spans) != 4:
        raise ValueError("the paragraph of Paths that work gives %d lines, not 4" % len(spans))
    apply_nv, apply_amd, restore_nv, restore_amd = map(result_lines.LineShape, spans)
    return {("nvidia", "apply"): (apply_nv, 0), ("amd", "apply"): (apply_amd, 0),
            ("nvidia", "restore"): (restore_nv, 0), ("amd", "restore"): (restore_amd, 0)}


def refused_lines(docs):
    table = docs.table("docs/hostile-paths.md", "Links an attacker plants", "Program")
    return {(p, "refused " + c): v for (p, c), v in SourceTable().lines(table).items()}


def nameless_lines(docs):
    """The lines of "Names no file can have": what a restore and an apply answer where no
    file can stand."""
    table = docs.table("docs/hostile-paths.md", "Names no file can have", "Program")
    return {(p, "nameless " + c): v for (p, c), v in SourceTable().lines(table).items()}


def nothing_lines(docs):
    found = {}
    for row in main_lines(docs):
        if row.shape.kind() == "nothing":
            for program in row.programs:
                found[(program, "nothing")] = (row.shape, row.code)
    return found


def form_lines(docs):
    return {**work_lines(docs), **refused_lines(docs), **nothing_lines(docs),
            **nameless_lines(docs)}


# -- prose tables: the numbers and outcome words a cell states ------------------------------

def tokens(text, outcomes):
    """The numbers and the outcome words in backticks of a cell, in order."""
    found = []
    for match in re.finditer(r"`([a-z-]+)`|" + md.NUMBER.pattern, text):
        word = match.group(1)
        if word is None:
            found.append(int(match.group(0)))
        elif word in outcomes:
            found.append(word)
    return found


@dataclass
class Stated:
    """A prose row: `cells` maps a column's header to a function of the Seen runs that gives
    the numbers and outcome words that cell states, in order; `refs` are the scenarios it
    reads (for skipping). A function may raise LookupError when runs are missing. `claims`:
    a function of the Seen runs giving the problems with what the row says in words (the
    driver's profile unchanged, the backup saved)."""
    refs: tuple
    cells: dict
    claims: object = None


class ProseTable:
    """A table whose cells state numbers (counts, exit codes) and outcome words in prose.
    Key: the first cell. A cell reading "The same." states what the cell before it does."""

    def __init__(self, outcomes):
        self.outcomes = outcomes

    def key(self, row, table):
        return row.cells[0]

    def judge(self, row, table, case, seen, docs):
        problems = []
        stated_before = None
        for column, cell in zip(table.header[1:], row.cells[1:]):
            stated = (stated_before if cell.strip() == "The same." else
                      tokens(cell, self.outcomes))
            stated_before = stated
            if column not in case.cells:
                if stated:
                    problems.append("%s states %s, but the case checks nothing there"
                                    % (column, stated))
                continue
            try:
                seen_tokens = case.cells[column](seen)
            except (LookupError, TypeError) as error:
                problems.append("%s: %s" % (column, error))
                continue
            if seen_tokens != stated:
                problems.append("%s: the row states %s, the runs give %s"
                                % (column, stated, seen_tokens))
        if case.claims is not None:
            problems += case.claims(seen)
        return problems


class KeyedProseTable(ProseTable):
    """The same, for a table whose key is two cells (Program | Command | ...)."""

    def key(self, row, table):
        return row.cells[0].strip("`"), row.cells[1]

    def judge(self, row, table, case, seen, docs):
        shifted = type(row)(row.cells[1:], row.line)
        shifted_table = type(table)(table.document, table.section, table.header[1:],
                                    table.line)
        return ProseTable.judge(self, shifted, shifted_table, case, seen, docs)


def same(*values):
    """One value that every one of `values` is, for a row that states it once ("exit 0
    each"); a list of them when they differ, so the comparison fails."""
    return values[0] if len(set(values)) == 1 else list(values)


# -- the client's outcomes -----------------------------------------------------------------------

@dataclass
class Classified:
    """Runs the Python client classifies as a row of the outcome table. `unprovoked`: exit
    codes the row names that no simulated driver brings about, with why."""
    refs: tuple
    unprovoked: dict = field(default_factory=dict)


# What each action of the client is called in the table's Action column.
ACTION_WORDS = {"done": "done", "tell-user": "tell the user", "report-bug": "report a bug",
                "retry-restore-later": "retry `restore` later",
                "tell-unsupported": "tell the user the GPU is unsupported"}


class OutcomeTable:
    """Outcome | When | Action | Backup path: the client's answer to runs. Key: the outcome.
    The When cell names the commands ("any command", "the same during restore") and exit
    codes; every run must be of a named command and exit code, and every one named must be
    seen (or be unprovoked)."""

    def key(self, row, table):
        return row.cells[0].strip("`")

    def when(self, text):
        """The commands the cell names (none: any) and its exit codes. Commands are named
        at its start ("status or apply, ...", "NVIDIA apply, ..."), as "any command", or as
        "the same during restore"."""
        if text.startswith("any command"):
            commands = {"status", "apply", "restore"}
        elif text.startswith("the same during restore"):
            commands = {"restore"}
        else:
            head = re.match(r"(?:NVIDIA |AMD )?((?:status|apply|restore)(?: or "
                            r"(?:status|apply|restore))*)\b", text)
            commands = set(head.group(1).split(" or ")) if head else set()
        codes = {int(c) for c in re.findall(r"exit (\d+)", text)}
        return commands, codes

    def judge(self, row, table, case, seen, docs):
        outcome = self.key(row, table)
        commands, codes = self.when(row.cells[1])
        keep = {"keep": True, "forget": False}.get(row.cells[3])
        problems, seen_commands, seen_codes = [], set(), set()
        for ref in case.refs:
            for name in sorted({ref.name("nvidia"), ref.name("amd")}):
                for record in seen.scenario(name).labelled(ref.label):
                    what = "%s %s" % (name, " ".join(map(str, record.args)))
                    result = record.outcome
                    seen_commands.add(record.command())
                    if result.line is not None:
                        seen_codes.add(record.code)
                        if codes and record.code not in codes:
                            problems.append("%s: exit %s, the row names %s"
                                            % (what, record.code, sorted(codes)))
                    if result.outcome.value != outcome:
                        problems.append("%s: the client says %s" % (what, result.outcome.value))
                    if not row.cells[2].startswith(ACTION_WORDS[result.action.value]):
                        problems.append("%s: the client's action is %s, the row says %r"
                                        % (what, result.action.value, row.cells[2]))
                    if keep is None or result.keep_backup_path != keep:
                        problems.append("%s: the client keeps the path: %s, the row: %r"
                                        % (what, result.keep_backup_path, row.cells[3]))
        if commands and seen_commands != commands:
            problems.append("the row names %s, the runs are of %s"
                            % (sorted(commands), sorted(seen_commands)))
        missing = codes - seen_codes - set(case.unprovoked)
        if missing:
            problems.append("no run ended with exit %s" % sorted(missing))
        return problems


# -- the simulated runtime's variants -------------------------------------------------------------

class VariantTable:
    """File | Exports missing | What `preset-amd` does with it. Key: the file. "calls `X`"
    means status answers 0 and the log shows the entry X; "presence check fails" means the
    line of an unusable runtime, and no initialise entry called."""

    def key(self, row, table):
        return row.cells[0].strip("`")

    def judge(self, row, table, case, seen, docs):
        record = seen.record(case, "status")
        text = row.cells[2]
        called = re.search(r"calls (?:the older )?`(\w+)`", text)
        problems = []
        entries = [l.split(" ", 1)[0] for l in record.log.splitlines()
                   if l.startswith("ADLXInitialize")]
        if called:
            if record.code != 0:
                problems.append("status %s, the row says it calls %s" % (describe(record),
                                                                          called.group(1)))
            if entries != [called.group(1)]:
                problems.append("initialise entries called: %s, the row says %s"
                                % (entries, called.group(1)))
        elif "presence check fails" in text:
            unusable = [r for r in main_lines(docs) if "amd" in r.programs
                        and r.shape.kind() == "unsupported" and "status" in r.commands]
            expected = [n for n in md.numbers(text)] or [unusable[0].code]
            if [record.code] != expected or not unusable[0].shape.matches("amd", record.out):
                problems.append("status %s, the row says %s" % (describe(record), text))
            if entries:
                problems.append("initialise entries called: %s" % entries)
        else:
            problems.append("the row says neither what it calls nor that it fails")
        return problems


# -- exit codes -----------------------------------------------------------------------------------

class ExitTable:
    """Exit | Meaning. Key: the code. Case: the runs that end with it (or Unprovoked)."""

    def key(self, row, table):
        return int(row.cells[0])

    def judge(self, row, table, case, seen, docs):
        code = self.key(row, table)
        problems = []
        for ref in case:
            for program in (("nvidia", "amd") if "{p}" in ref.scenario else ("nvidia",)):
                for record in seen.records(ref, program):
                    if record.code != code:
                        problems.append("%s: %s" % (ref.name(program), describe(record)))
        return problems


# -- what a run asked for its detail writes to standard error ------------------------------------

class DetailTable:
    """Exit | Run | Standard error with `--detail` | What it tells. Key: the Run cell. Case:
    Refs to runs asked for their detail, or Unprovoked. Each run must end with an exit code
    the first cell names and write exactly the lines of the third cell ("(AMD: ...)" gives
    AMD's own; "nothing": none), a `C:\\...` in them standing for the run's own folder; a
    line may come more than once (an AMD apply saves once a pass)."""

    def key(self, row, table):
        return row.cells[1]

    @staticmethod
    def patterns(cell, program):
        nvidia, _, amd = cell.partition("(AMD:")
        text = amd if program == "amd" and amd else nvidia
        return [re.compile(".*".join(re.escape(piece) for piece in span.split("C:\\...")))
                for span in md.code_spans(text)]

    def judge(self, row, table, case, seen, docs):
        codes = {int(c) for c in re.findall(r"\d+", row.cells[0])}
        problems = []
        for ref in case:
            for program in (("nvidia", "amd") if "{p}" in ref.scenario else (None,)):
                played = seen.scenario(ref.name(program) if program else ref.scenario)
                own = played.scenario.program
                wanted = self.patterns(row.cells[2], own)
                for record in played.labelled(ref.label):
                    lines = record.err.decode("utf-8", "replace").splitlines()
                    what = "%s %s" % (played.scenario.name, ref.label)
                    if record.code not in codes:
                        problems.append("%s: exit %r, the row says %s" % (
                            what, record.code, row.cells[0]))
                    unmatched = [l for l in lines if not any(p.fullmatch(l) for p in wanted)]
                    missing = [p.pattern for p in wanted if not any(p.fullmatch(l) for l in lines)]
                    if unmatched or missing:
                        problems.append("%s: wrote %r, the row says %r" % (
                            what, lines, md.code_spans(row.cells[2]) or "nothing"))
        return problems


# -- what each preset writes ----------------------------------------------------------------------

PRESETS = ("gamer", "competitivo", "extremo")


class NvidiaPresetTable:
    """Setting id | Value | gamer | competitivo | extremo: after `apply <preset>` on the
    usual profile, a "yes" setting holds Value and a "no" setting its original."""

    def key(self, row, table):
        return row.cells[0].strip("`")

    def judge(self, row, table, case, seen, docs):
        sid = int(row.cells[0].strip("`"), 16)
        value = int(row.cells[1].strip("`"), 16)
        problems = []
        for preset, cell in zip(PRESETS, row.cells[2:]):
            record = seen.record(case, preset)
            want = value if cell == "yes" else record.state_before.get(sid)
            if record.state_after.get(sid) != want:
                problems.append("after apply %s: %s, the row says %s" % (
                    preset, record.state_after.get(sid), cell))
        return problems


class AmdPresetTable:
    """Setting | Scope | Shape | gamer | competitivo | extremo: after `apply <preset>` on the
    runtime's starting values, each GPU's (or the global) setting holds the number given, or
    its start where the row says "left alone"."""

    def key(self, row, table):
        return row.cells[0].strip("`")

    def judge(self, row, table, case, seen, docs):
        name = row.cells[0].strip("`")
        problems = []
        for preset, cell in zip(PRESETS, row.cells[3:]):
            record = seen.record(case, preset)
            keys = ([name.split(".", 1)[1]] if row.cells[1] == "global" else
                    sorted(k for k in record.state_after if k.endswith("." + name)))
            if not keys:
                problems.append("the driver holds no setting %s" % name)
            for key in keys:
                want = record.state_before.get(key) if cell == "left alone" else int(cell)
                if record.state_after.get(key) != want:
                    problems.append("after apply %s: %s=%s, the row says %s" % (
                        preset, key, record.state_after.get(key), cell))
        return problems


class NotResults:
    """A table that states no answer of the programs; `why` says what it is."""

    def __init__(self, why):
        self.why = why
