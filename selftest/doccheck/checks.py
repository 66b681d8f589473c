"""Pairs every row of the documents' result tables with its case, plays the scenarios the
rows need on a host, and judges each row: one Check a row, and one for each pairing fault
(a table the case list does not name, a row without a case, a case whose row is gone).
"""
import concurrent.futures
import pathlib
from dataclasses import dataclass, field

from . import cases as case_list
from . import kinds
from . import playing
from . import tables as md

# The documents whose tables run: the repository's README and every document either ZIP
# ships.
DOCUMENTS = ("README.md", "docs/integration.md", "docs/hostile-paths.md",
             "package/win64/README.md", "package/devkit/README.md",
             "docs/simulated-nvapi.md", "docs/simulated-adlx.md",
             "docs/simulated-faults.md", "CHANGELOG.md")


@dataclass
class Check:
    status: str        # "pass", "fail" or "skip"
    where: str         # document:line (section)
    name: str          # the row's key, or what the check is
    details: list = field(default_factory=list)
    scenarios: tuple = ()


class Docs:
    """The documents at hand: `paths` maps each name of DOCUMENTS to its file, or to None
    where this copy of the project does not hold it (the kit has no repository README)."""

    def __init__(self, paths):
        self.paths = paths
        self.texts = {name: pathlib.Path(path).read_text(encoding="utf-8")
                      for name, path in paths.items() if path is not None}
        self.tables = {name: md.read_tables(name, text) for name, text in self.texts.items()}

    def text(self, name):
        return self.texts[name]

    def table(self, document, section, first_header=None):
        for table in self.tables.get(document, []):
            if table.section == section and (first_header is None
                                              or table.header[0] == first_header):
                return table
        raise LookupError("%s has no table under %r" % (document, section))


def key_text(key):
    if isinstance(key, tuple):
        return " ".join(key_text(k) for k in key)
    return str(key)


def names_of(case):
    """The scenarios a case reads, "{p}" expanded."""
    if isinstance(case, kinds.Ref):
        return {case.name("nvidia"), case.name("amd")}
    if isinstance(case, kinds.Sourced):
        return {case.scenario.replace("{p}", p) for p in ("nvidia", "amd")}
    if isinstance(case, kinds.Stated):
        return {n.replace("{p}", p) for n in case.refs for p in ("nvidia", "amd")}
    if isinstance(case, kinds.Classified):
        return set().union(*(names_of(r) for r in case.refs))
    if isinstance(case, str):
        return {case} if case in case_list.SCENARIOS else set()
    if isinstance(case, dict):
        return set().union(set(), *(names_of(v) for v in case.values()))
    if isinstance(case, (list, tuple)):
        return set().union(set(), *(names_of(v) for v in case))
    return set()


@dataclass
class Planned:
    listed: object
    table: object
    row: object
    key: object
    case: object


def plan(docs, listings):
    """The rows to judge, with their cases, and the Checks of every pairing fault."""
    planned, faults = [], []
    for document, found in docs.tables.items():
        for table in found:
            matching = [s for s in listings if s.matches(table)]
            if not matching:
                faults.append(Check("fail", table.where(), "a table no case list knows",
                                    ["header %s: list it in doccheck/cases.py, as a result "
                                     "table with its rows' cases or with why it states no "
                                     "answer" % (table.header,)]))
                continue
            listed = matching[0]
            if isinstance(listed.kind, kinds.NotResults):
                continue
            seen_keys = set()
            for row in table.rows:
                where = "%s:%d (%s)" % (document, row.line, table.section)
                try:
                    key = listed.kind.key(row, table)
                except (ValueError, IndexError) as error:
                    faults.append(Check("fail", where, "a row that cannot be read",
                                        [str(error)]))
                    continue
                if key in seen_keys:
                    faults.append(Check("fail", where, key_text(key), ["two rows of one key"]))
                    continue
                seen_keys.add(key)
                if key not in listed.cases:
                    faults.append(Check("fail", where, key_text(key),
                                        ["no scenario for this row: add its case to "
                                         "doccheck/cases.py"]))
                    continue
                planned.append(Planned(listed, table, row, key, listed.cases[key]))
            for key in listed.cases:
                if key not in seen_keys:
                    faults.append(Check("fail", table.where(), key_text(key),
                                        ["a case whose row is gone"]))
    for listed in listings:
        present = listed.document in docs.tables
        if present and not any(listed.matches(t) for t in docs.tables[listed.document]):
            faults.append(Check("fail", listed.document, "%s %s" % (listed.section, listed.header),
                                ["the table is gone: change or drop its entry in doccheck/cases.py"]))
    return planned, faults


def classifier():
    """The client's classification of a run (clients/preset_client.py must be importable)."""
    import preset_client

    def classify(program, record):
        ended = None if record.ended is None else preset_client.Ended(record.ended)
        return preset_client.classify(
            preset_client.Program("preset-" + program), record.args[0] if record.args else None,
            None if ended else record.code, record.out, ended)
    return classify


def play_all(host, names, known, classify, jobs, report=None):
    """Plays the scenarios `names` on `host`, `jobs` at a time: those that need the system
    folder without the NVIDIA library after all others, the ones that wait longest first."""
    chosen = [case_list.SCENARIOS[n] for n in sorted(names)]
    with_library = [s for s in chosen if not (s.program == "nvidia" and s.library is None)]
    without = [s for s in chosen if s.program == "nvidia" and s.library is None]
    played = {}

    def play(s):
        result = playing.execute(host, s, known, classify)
        played[s.name] = result
        if report:
            report(result)

    for group, variant in ((with_library, ""), (without, None)):
        if not group:
            continue
        if host.lacks("nvidia-library" if variant is not None else "nvidia-absent") is None:
            host.put_nvapi(variant)
        # Scenarios that mostly wait (for a lock, a holder, a time limit) get threads of
        # their own beside the `jobs` that keep the processor busy.
        waiting = [s for s in group if s.waits()]
        with concurrent.futures.ThreadPoolExecutor(len(waiting) or 1) as idle, \
                concurrent.futures.ThreadPoolExecutor(jobs) as busy:
            futures = [idle.submit(play, s) for s in waiting]
            futures += [busy.submit(play, s) for s in group if not s.waits()]
            for future in futures:
                future.result()
    if host.lacks("nvidia-absent") is None:
        host.put_nvapi(None)
    return played


def judge(planned, played, docs):
    """One Check a row; a row played by several scenarios (a list of cases, one a way of
    reaching it) gets one Check each, so that a way this host cannot take is skipped alone."""
    checks = []
    seen = kinds.Seen(played)
    for item in planned:
        where = "%s:%d (%s)" % (item.table.document, item.row.line, item.table.section)
        name = key_text(item.key)
        if isinstance(item.case, kinds.Unprovoked):
            checks.append(Check("skip", where, name, [item.case.reason]))
            continue
        ways = item.case if isinstance(item.case, list) else [item.case]
        for index, way in enumerate(ways):
            label = name if len(ways) == 1 else "%s [%d of %d]" % (name, index + 1, len(ways))
            case = [way] if isinstance(item.case, list) else way
            checks.append(judge_one(item, case, label, where, played, seen, docs))
    return checks


def judge_one(item, case, name, where, played, seen, docs):
    names = sorted(names_of(case) & set(played))
    skipped = [played[n].skipped for n in names if played[n].skipped]
    if skipped:
        return Check("skip", where, name, [skipped[0]], tuple(names))
    problems = []
    for n in names:
        problems += ["%s: %s" % (n, p) for p in played[n].problems]
    try:
        problems += item.listed.kind.judge(item.row, item.table, case, seen, docs)
    except (LookupError, ValueError, TypeError, AttributeError) as error:
        problems.append("%s: %s" % (type(error).__name__, error))
    return Check("fail" if problems else "pass", where, name, problems, tuple(names))


def run_checks(host, docs, jobs=4, classify=None, report=None):
    """Every Check of the documents `docs` on `host`: the pairing faults, then one a row."""
    import preset_client
    outcomes = {o.value for o in preset_client.Outcome}
    listings = case_list.listed_tables(outcomes)
    planned, faults = plan(docs, listings)
    known = kinds.known_line(kinds.main_lines(docs))
    names = set()
    for item in planned:
        names |= names_of(item.case)
    names &= set(case_list.SCENARIOS)
    played = play_all(host, names, known, classify or classifier(), jobs, report)
    return faults + judge(planned, played, docs)
