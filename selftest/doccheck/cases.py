"""The one list: every result table of the documents, each row paired with the scenario
runs that produce it. The end-to-end test (tests/e2e/test_docs.py) plays it under Wine;
the developer kit's selftest.py plays it on Windows.

A row is found by its key (see kinds.py: the part of the row that names it, such as a
table's first cell), and what it expects is read from its own text. To add a row to a
document, add its key here with the runs that produce it: a row without a case fails, and
so does a case whose row is gone. A table the documents gain must be listed in TABLES,
as a result table or with the reason it states no answer.

Scenario names ending in "{p}" exist for both programs; a Ref with "{p}" reads the run of
each program a row names.
"""
from .kinds import (AmdPresetTable, Classified, DetailTable, ExitTable, KeyedProseTable, LineTable,
                    NotResults, NvidiaPresetTable, OutcomeTable, ProseTable, Ref,
                    RefusedTable, SourceTable, Sourced, SourcedTable, Stated, Unprovoked,
                    VariantTable, form_lines, same, work_lines)
from .places import (EMPTY, Place, Target, drive_relative, drive_root, formed, long_path,
                     mapped_drive, plain, relative, root_relative, spelled, through_mount, unc,
                     unmapped, with_dot_segments, with_forward_slashes, written)
from .scenarios import Scenario, act, run
from .world import (AMD_GLOBALS, AMD_PER_GPU, NV_NEW_DRIVER, NV_ORIGINAL, NV_TABLE,
                    amd_gamer_values, amd_values)

PROGRAMS = ("nvidia", "amd")
FAULTS = {"nvidia": "SIM_NVAPI_FAULTS", "amd": "SIM_ADLX_FAULTS"}
# A fault that refuses one write of gamer, and one that refuses one restore write.
ONE_WRITE = {"nvidia": "SetSetting:0x00AC8497=-5", "amd": "SetEnabled:gpu0.boost=3"}
SLEEP_MARK = {"nvidia": "-> sleep %d (injected)", "amd": "SLEEP Initialize ADLXInitialize2 %d"}
# Longer than the programs' 10 s wait for the lock, with room to start the runs behind it.
LOCK_HOLD_MS = 13000
EVERY_AMD_SETTING = ",".join(AMD_GLOBALS + AMD_PER_GPU)

SCENARIOS = {}


def scenario(name, program, steps, **kwargs):
    if name in SCENARIOS:
        raise ValueError("two scenarios named %r" % name)
    SCENARIOS[name] = Scenario(name, program, steps, **kwargs)


def fault(program, rule, **kwargs):
    return {FAULTS[program]: rule, **kwargs}


def both(name, make):
    """The scenario `name` ("... {p}") for each program, from make(program) -> kwargs."""
    for program in PROGRAMS:
        scenario(name.replace("{p}", program), program, **make(program))


# -- the command line, and the round trip of each program ----------------------------------------

both("entry {p}", lambda p: dict(steps=[
    run(label="none"), run("bogus", label="other"), run("", label="other"),
    run("apply", "gamer", label="apply-args"), run("apply", "gamer", "", label="apply-args"),
    run("restore", label="restore-args"), run("apply", "turbo", "{backup}", label="preset"),
    run("apply", "", "{backup}", label="preset")]))
both("basics {p}", lambda p: dict(round_trip=True, steps=[
    run("status", label="status"), run("restore", "{backup}", label="nothing"),
    run("apply", "gamer", "{backup}", label="apply"),
    run("APPLY", "Gamer", "{backup}", "extra argument", label="apply-again"),
    run("restore", "{backup}", label="restore"), run("restore", "{backup}", label="nothing")]))
scenario("nvidia unsaved", "nvidia", [
    run("apply", "extremo", "{backup}", env=fault("nvidia", "GetSetting=-1"),
        label="unreadable"),
    act("mkdir"), run("apply", "gamer", "{backup}", label="directory")])
scenario("amd nothing usable", "amd", [
    run("apply", "gamer", "{backup}", env={"SIM_ADLX_UNSUPPORTED": EVERY_AMD_SETTING},
        label="apply")])

# -- two runs at once: a run that holds the lock, asleep in its first driver call --------------

both("lock {p}", lambda p: dict(round_trip=True, steps=[
    run("apply", "gamer", "{backup}", exit=0),
    act("hold-lock", ("apply", "gamer", "{backup}"), "Initialize=sleep:%d" % LOCK_HOLD_MS,
        SLEEP_MARK[p] % LOCK_HOLD_MS),
    act("together", run("apply", "gamer", "{backup}", label="apply"),
        run("restore", "{backup}", "--detail", label="restore")),
    act("join-lock", 0),
    run("restore", "{backup}", exit=0)]))

# -- what the counts mean ---------------------------------------------------------------------------

scenario("nvidia sequence", "nvidia", round_trip=True, steps=[
    run("apply", "gamer", "{backup}", label="a1"), run("apply", "gamer", "{backup}", label="a2"),
    run("apply", "competitivo", "{backup}", label="a3"),
    run("apply", "extremo", "{backup}", label="a4"), run("restore", "{backup}", label="r")])
scenario("nvidia empty profile", "nvidia", state={}, steps=[run("status", label="status")])
scenario("nvidia writes refused", "nvidia", round_trip=True, steps=[
    run("apply", "gamer", "{backup}", env=fault("nvidia", "SetSetting=-1"), label="apply"),
    run("restore", "{backup}", exit=0)])
scenario("nvidia apply commit refused", "nvidia", round_trip=True, steps=[
    run("apply", "gamer", "{backup}", env=fault("nvidia", "SaveSettings=-1"), label="apply"),
    run("restore", "{backup}", exit=0)])
scenario("nvidia setting unreadable", "nvidia", round_trip=True, steps=[
    run("apply", "gamer", "{backup}", env=fault("nvidia", "GetSetting:0x00CE2691=-1"),
        label="apply"),
    run("restore", "{backup}", exit=0)])
scenario("nvidia restore commit refused", "nvidia", round_trip=True, steps=[
    run("apply", "gamer", "{backup}", label="apply"),
    run("restore", "{backup}", env=fault("nvidia", "SaveSettings=-1"), label="refused"),
    run("restore", "{backup}", label="restore")])
scenario("amd sequence", "amd", round_trip=True, steps=[
    run("apply", "gamer", "{backup}", label="a1"), run("apply", "gamer", "{backup}", label="a2"),
    run("apply", "extremo", "{backup}", label="a3"),
    run("apply", "competitivo", "{backup}", label="a4"),
    run("apply", "gamer", "{backup}", label="a5"), run("restore", "{backup}", label="r")])
scenario("amd one gpu", "amd", gpus=1, ids="7", round_trip=True, steps=[
    run("apply", "gamer", "{backup}", label="gamer"), run("restore", "{backup}", exit=0),
    run("apply", "extremo", "{backup}", label="extremo"), run("restore", "{backup}", exit=0)])
scenario("amd already gamer", "amd", gpus=1, ids="7", state=amd_gamer_values(1),
         round_trip=True, steps=[
             run("apply", "gamer", "{backup}", label="apply"),
             run("restore", "{backup}", label="restore")])
scenario("amd writes refused", "amd", gpus=1, ids="7", round_trip=True, steps=[
    run("apply", "gamer", "{backup}", env=fault("amd", "SetEnabled=3;SetMode=3"),
        label="apply"),
    run("restore", "{backup}", exit=0)])
scenario("amd newer services unsupported", "amd", gpus=1, ids="7", steps=[
    run("apply", "gamer", "{backup}", label="apply"),
    run("restore", "{backup}", env={"SIM_ADLX_MISSING_SERVICES": "1,3"}, label="restore")])

# -- what each preset writes: each preset applied to the usual starting values ------------------

both("presets {p}", lambda p: dict(steps=[
    step for preset in ("gamer", "competitivo", "extremo") for step in (
        run("apply", preset, "{backup}", label=preset),
        act("state", NV_ORIGINAL if p == "nvidia" else amd_values(2)), act("remove"))]))

# -- after a driver update or a GPU change -----------------------------------------------------------

scenario("nvidia new driver", "nvidia", steps=[
    run("apply", "gamer", "{backup}", exit=0), act("state", NV_NEW_DRIVER),
    run("restore", "{backup}", label="restore")])
scenario("amd new driver", "amd", gpus=1, ids="7", steps=[
    run("apply", "gamer", "{backup}", exit=0), act("state", amd_values(1, switch=0, mode=2)),
    run("restore", "{backup}", label="restore")])
both("new driver refuses one {p}", lambda p: dict(gpus=1, ids="7", steps=[
    run("apply", "gamer", "{backup}", exit=0),
    run("restore", "{backup}", env=fault(p, ONE_WRITE[p]), label="restore")]))
scenario("amd gpu replaced", "amd", gpus=1, ids="7", round_trip=True, steps=[
    run("apply", "gamer", "{backup}", exit=0),
    run("restore", "{backup}", env={"SIM_ADLX_IDS": "9"}, label="restore"),
    run("restore", "{backup}", env={"SIM_ADLX_IDS": "9"}, label="restore"),
    run("restore", "{backup}", exit=0)])

# -- the clients' outcomes, through clients/preset_client.py ----------------------------------------

SLEEP_LONG = "Initialize=sleep:30000"


def client_runs(p):
    """The runs only a client sees end as they do (a crash, a time limit, a program that is
    not there), and a partial apply and restore; the rest of the outcome table reads the
    runs of "basics" and "entry", which the client classifies too."""
    crash = "SetSetting=exit" if p == "nvidia" else "SetEnabled=crash"
    return dict(round_trip=True, steps=[
        run("status", client=True, env=fault(p, "Initialize=exit" if p == "nvidia"
                                             else "Initialize=crash"),
            crash=True, label="failed"),
        *[run(*args, client=True, missing=True, label="not-started")
          for args in (("status",), ("apply", "gamer", "{backup}"), ("restore", "{backup}"))],
        # The backup is saved before the first write, where this run ends.
        run("apply", "gamer", "{backup}", client=True, env=fault(p, crash), crash=True,
            label="failed"),
        act("together", *[run(command, *args, client=True, timeout=1,
                              env=fault(p, SLEEP_LONG), label=label)
                          for command, args, label in (
                              ("status", (), "timed-out"),
                              ("apply", ("gamer", "{backup}"), "timed-out"),
                              ("restore", ("{backup}",), "restore-timed-out"))]),
        run("apply", "gamer", "{backup}", client=True, env=fault(p, ONE_WRITE[p]),
            label="apply-partial"),
        run("restore", "{backup}", client=True, env=fault(p, crash), crash=True,
            label="restore-failed"),
        run("restore", "{backup}", client=True, env=fault(p, ONE_WRITE[p]),
            label="restore-incomplete"),
        run("restore", "{backup}", client=True, exit=0)])


both("client {p}", client_runs)
# No driver at all: status and apply, then a backup that stays, restore after restore.
both("client no driver {p}", lambda p: dict(library=None, steps=[
    run("status", client=True, label="status 10"),
    run("apply", "gamer", "{backup}", client=True, label="apply 10"),
    act("write", "backup"),
    run("restore", "{backup}", client=True, label="restore 10"),
    run("restore", "{backup}", client=True, label="restore 10")]))
scenario("client nvidia not saved", "nvidia", steps=[
    act("mkdir"), run("apply", "gamer", "{backup}", client=True, label="apply-not-saved")])

# -- the simulated runtime's variants ------------------------------------------------------------

ADLX_VARIANTS = ["", "no-incompatible2", "legacy", "no-initialize2", "no-caller-adl",
                 "no-terminate"]
for variant in ADLX_VARIANTS:
    scenario("amd variant " + (variant or "full"), "amd", library=variant,
             steps=[run("status", label="status")])

# -- hostile paths -------------------------------------------------------------------------------------

ROUND_TRIP = [run("apply", "gamer", "{backup}", label="apply"),
              run("restore", "{backup}", label="restore")]
FORM_ROUND_TRIP = [run("restore", "{backup}", label="nothing")] + ROUND_TRIP
REFUSED = [run("apply", "gamer", "{backup}", label="refused apply"),
           run("restore", "{backup}", label="refused restore")]
ACCENTS, CJK, EMOJI = "configurações", "設定", "\U0001F3AE"

WORKS = {
    "Accents": [plain(ACCENTS, "cópia de segurança.txt")],
    "CJK": [plain(CJK, CJK + ".txt")],
    "A character outside the basic plane": [plain(EMOJI + " jogos", "backup " + EMOJI + ".txt")],
    "All three, in directories that do not exist yet":
        [plain(ACCENTS, CJK, EMOJI, "novo", ACCENTS + CJK + EMOJI + ".txt")],
    "More than 260 characters": [long_path(made=True), long_path(made=False)],
    "More than 260 characters with `.` and `..` on the way":
        [long_path(spelling=with_dot_segments, text="<long>\\.\\detour\\..")],
    "More than 260 characters with `/`": [long_path(spelling=with_forward_slashes,
                                                   text="<long, with />")],
    "More than 260 characters of non-ASCII names":
        [long_path(piece=ACCENTS + " " + CJK + " " + EMOJI + " " + ACCENTS,
                   name=CJK + EMOJI + ".txt", text="<long, non-ASCII>")],
    "Relative": [relative("sub\\rel backup.txt"), relative("a/../b/./rel.txt",
                                                          make_dirs=[("a",)])],
    "Relative and long, from a non-ASCII working directory":
        [relative("\\".join(["p" * 60] * 5 + ["rel " + EMOJI + ".txt"]),
                  cwd_parts=(ACCENTS + " " + CJK + " " + EMOJI,))],
    "8.3 short names": [plain("a rather long folder name", "a rather long backup name.txt",
                              made=True)],
    "A drive letter mapped to a folder, as `subst` does": [mapped_drive()],
}
for key, places in WORKS.items():
    for index, place in enumerate(places):
        steps = ROUND_TRIP
        if key == "8.3 short names":
            steps = [act("shorten", "folder"), ROUND_TRIP[0], act("shorten", "file"),
                     ROUND_TRIP[1]]
        both("works %s %d {p}" % (key, index), lambda p, place=place, steps=steps: dict(
            place=place, steps=steps, round_trip=True))

FORMS = {
    "Drive letter": [(plain("form", "backup.txt"), FORM_ROUND_TRIP),
                     (plain("form unelevated", "backup.txt"),
                      [run(*r.args, label=r.label, unelevated=True) for r in FORM_ROUND_TRIP])],
    "Relative": [(place, FORM_ROUND_TRIP) for place in (
        relative("sub\\backup.txt"), relative("..\\b\\backup.txt", cwd_parts=("x",)),
        root_relative("b.txt"), drive_relative("b.txt"))],
    "Extended": [(spelled("\\\\?\\", plain("ext", "backup.txt")), FORM_ROUND_TRIP)],
    "Device": [(spelled("\\\\.\\", plain("dev", "backup.txt")), FORM_ROUND_TRIP)],
    "System": [(spelled("\\??\\", plain("nt", "backup.txt")), FORM_ROUND_TRIP)],
    "Share": [(formed("share", "share", plain("share", "backup.txt")), FORM_ROUND_TRIP),
              (unc("\\\\?\\UNC\\", formed("share", "share", plain("unc", "backup.txt"))),
               FORM_ROUND_TRIP),
              (unc("\\\\.\\UNC\\", formed("share", "share", plain("dunc", "backup.txt"))),
               FORM_ROUND_TRIP)],
    "Volume": [(formed("volume", "volume", plain("volume", "backup.txt")), FORM_ROUND_TRIP)],
    "Not understood": [
        (formed("unix", "unix-form", plain("unix", "backup.txt")),
         [act("write", "backup")] + REFUSED),
        (formed("globalroot", "globalroot", plain("globalroot", "backup.txt")),
         [act("write", "backup")] + REFUSED),
        (formed("globalroot", "globalroot", plain("gr unelevated", "backup.txt", made=True)),
         [run(*r.args, label=r.label, unelevated=True) for r in FORM_ROUND_TRIP])],
}
for key, variants in FORMS.items():
    for index, (place, steps) in enumerate(variants):
        refused = any(getattr(s, "label", "") == "refused apply" for s in steps)
        both("form %s %d {p}" % (key, index), lambda p, place=place, steps=steps,
             refused=refused: dict(
                 place=place, steps=steps, round_trip=not refused, keeps_written=refused,
                 needs=("elevated",) if refused else ()))

DRIVE_MISSING = ("Drive that does not exist (`Q:\\saves\\backup.txt`, short or long): an "
                 "elevated run may not see the drives its user mapped, so no volume is no "
                 "proof that no backup is there")
BIG_FILE = ("A file of more than 1 MiB stands at the backup path (the case: 2 MiB of a "
            "well-formed backup)")
# "Paths and states that are refused": each Case cell, exactly as written, with the ways of
# reaching it: [place, steps], the runs labelled "apply" and "restore" answering the row's
# apply and restore cells for each program (a case without a restore cell has no run
# labelled so). REFUSED_WORDS gives the Program cells of a case's rows where they are not
# one "nvidia" and one "amd" row.
REFUSED_WORDS = {DRIVE_MISSING: ("nvidia", "amd"), BIG_FILE: ("both",),
                 "An empty backup path (`apply gamer \"\"`)": ("both",)}
REFUSED_CASES = {
    DRIVE_MISSING: [
        [unmapped(), [run("apply", "gamer", "{backup}", label="apply"),
                      run("restore", "{backup}", label="restore")]],
        [unmapped(long=True), [run("apply", "gamer", "{backup}", label="apply"),
                               run("restore", "{backup}", label="restore")]]],
    "A directory stands at the backup path": [[plain("backup.txt"), [
        act("mkdir"), run("apply", "gamer", "{backup}", label="apply"),
        run("restore", "{backup}", label="restore")]]],
    "Another process holds the backup open with no sharing": [[plain("backup.txt"), [
        run("apply", "gamer", "{backup}", exit=0), act("hold", "backup"),
        run("apply", "extremo", "{backup}", label="apply"),
        run("restore", "{backup}", label="restore"), act("release"),
        run("restore", "{backup}", exit=0)]]],
    "Another process holds `<backup>.tmp` open with no sharing": [[plain("backup.txt"), [
        act("plant-tmp", False), act("hold", "tmp"),
        run("apply", "gamer", "{backup}", label="apply"), act("release"),
        run("apply", "gamer", "{backup}", exit=0), run("restore", "{backup}", exit=0)]]],
    BIG_FILE: [[plain("backup.txt"), [
        act("write", "big"), run("apply", "gamer", "{backup}", label="apply"),
        run("restore", "{backup}", label="restore")]]],
    "An empty backup path (`apply gamer \"\"`)": [[EMPTY, [
        run("apply", "gamer", "{backup}", label="apply")]]],
}
for key, variants in REFUSED_CASES.items():
    for index, (place, steps) in enumerate(variants):
        both("refused %s %d {p}" % (key, index), lambda p, place=place, steps=steps: dict(
            place=place, steps=steps, keeps_written=True))

PLANTED = {
    "Symbolic link at `<backup>.tmp`": (plain("backup.txt"), ("tmp", "symlink", "text")),
    "Hard link at `<backup>.tmp`": (plain("backup.txt"), ("tmp", "hard link", "text")),
    "Dangling symbolic link at `<backup>.tmp`": (plain("backup.txt"),
                                                 ("tmp", "symlink", "absent")),
    "Symbolic link to the protected folder on the way (`...\\linked folder\\victim.txt`)":
        (plain("linked folder", "victim.txt"), ("folder", "symlink", "backup")),
    "The same, with a backup name that does not exist in the protected folder":
        (plain("linked folder", "new.txt"), ("folder", "symlink", "text")),
    "Symbolic link at the backup path": (plain("backup.txt"), ("backup", "symlink", "secrets")),
    "Hard link at the backup path; restore, apply, restore":
        (plain("backup.txt"), ("backup", "hard link", "backup", "read-only")),
    "Wine's `\\\\?\\unix\\` form of a path with a symbolic link to the protected folder on "
    "the way (a form not understood, standing in for `\\\\?\\GLOBALROOT\\` and volume GUIDs, "
    "which Wine cannot open)":
        (formed("unix", "unix-form", plain("unix linked", "victim.txt")),
         ("folder", "symlink", "backup")),
    "Junction to the protected folder on the way (`mklink /J`; Windows only)":
        (plain("junction folder", "victim.txt"), ("folder", "junction", "backup")),
    "The volume mounted in a folder on the way (`mountvol`; Windows only)":
        (through_mount("victim.txt"), ("folder", "mount point", "backup")),
}
for index, (key, (place, planted)) in enumerate(PLANTED.items()):
    steps = [act("plant", *planted)] + REFUSED
    if key.startswith("Hard link at the backup path"):
        steps = [act("plant", *planted), REFUSED[1], REFUSED[0], REFUSED[1]]
    both("planted %d {p}" % index, lambda p, place=place, steps=steps: dict(
        place=place, steps=steps, needs=("elevated",)))

both("read-only backup {p}", lambda p: dict(round_trip=True, steps=[
    run("apply", "gamer", "{backup}", exit=0), act("readonly"),
    run("apply", "extremo", "{backup}", label="extremo"), act("readonly"),
    run("restore", "{backup}", label="restore")]))
both("stale tmp {p}", lambda p: dict(round_trip=True, steps=[
    act("plant-tmp", True), run("apply", "gamer", "{backup}", label="apply"),
    run("restore", "{backup}", exit=0)]))
both("stale tmp held {p}", lambda p: dict(steps=[
    act("plant-tmp", True), act("hold", "tmp"),
    run("apply", "gamer", "{backup}", label="apply"), act("release")]))


# -- the rows ---------------------------------------------------------------------------------------

BOTH = ("nvidia", "amd")
NV, AMD = ("nvidia",), ("amd",)


def refs(*pairs):
    return [Ref(name, label) for name, label in pairs]


MAIN = {
    (BOTH, "Comando ausente"): {"(none)": refs(("entry {p}", "none"))},
    (BOTH, "Argumentos invalidos"): {"apply": refs(("entry {p}", "apply-args")),
                                     "restore": refs(("entry {p}", "restore-args")),
                                     "other": refs(("entry {p}", "other"))},
    (BOTH, "Perfil invalido"): {"apply": refs(("entry {p}", "preset"))},
    (BOTH, "Falha inesperada"): Unprovoked(
        "only a failure no driver causes (memory running out) ends a run this way; the "
        "project's own tests check the line against the programs' source"),
    (NV, "GPU NVIDIA detectada"): {"status": refs(("basics nvidia", "status"),
                                                  ("nvidia empty profile", "status"))},
    (NV, "NVAPI indisponivel ou nenhuma GPU NVIDIA compativel"): {
        c: refs(("client no driver nvidia", c + " 10")) for c in ("status", "apply", "restore")},
    (NV, "Preset NVIDIA aplicado e backup preservado"): {
        "apply": refs(("basics nvidia", "apply"), ("basics nvidia", "apply-again"))},
    (NV, "Preset NVIDIA aplicado parcialmente"): {
        "apply": refs(("client nvidia", "apply-partial"), ("nvidia writes refused", "apply"),
                      ("nvidia apply commit refused", "apply"))},
    (NV, "Nao foi possivel salvar o backup do perfil NVIDIA"): {
        "apply": refs(("nvidia unsaved", "unreadable"), ("nvidia unsaved", "directory"))},
    (NV, "Configuracoes NVIDIA originais restauradas"): {
        "restore": refs(("basics nvidia", "restore"))},
    (NV, "Restauracao NVIDIA incompleta; backup mantido"): {
        "restore": refs(("client nvidia", "restore-incomplete"),
                        ("nvidia restore commit refused", "refused"))},
    (NV, "Nenhum backup NVIDIA para restaurar"): {"restore": refs(("basics nvidia", "nothing"))},
    (AMD, "GPU AMD detectada"): {"status": refs(("basics amd", "status"))},
    (AMD, "ADLX indisponivel ou nenhuma GPU AMD compativel"): {
        c: refs(("client no driver amd", c + " 10")) for c in ("status", "apply", "restore")},
    (AMD, "Nenhum ajuste 3D AMD compativel foi encontrado"): {
        "apply": refs(("amd nothing usable", "apply"))},
    (AMD, "Preset AMD aplicado e backup preservado"): {
        "apply": refs(("basics amd", "apply"), ("basics amd", "apply-again"))},
    (AMD, "Preset AMD aplicado parcialmente; backup mantido"): {
        "apply": refs(("client amd", "apply-partial"), ("amd writes refused", "apply"))},
    (AMD, "Configuracoes AMD originais restauradas"): {"restore": refs(("basics amd", "restore"))},
    (AMD, "Restauracao AMD incompleta; backup mantido"): {
        "restore": refs(("client amd", "restore-incomplete"))},
    (AMD, "Nenhum backup AMD para restaurar"): {"restore": refs(("basics amd", "nothing"))},
}

LOCKED = {
    (NV, "Nao foi possivel salvar o backup do perfil NVIDIA"): {
        "apply": refs(("lock nvidia", "apply"))},
    (AMD, "Preset AMD aplicado parcialmente; backup mantido"): {
        "apply": refs(("lock amd", "apply"))},
    (BOTH, "Restauracao \u2026 incompleta; backup mantido"): {
        "restore": refs(("lock {p}", "restore"))},
}


def counts(seen, name, label, index=0):
    record = seen.record(name, label, index)
    return [record.supported, record.changed]


def sc(seen, name, label, index=0):
    record = seen.record(name, label, index)
    return [record.supported, record.changed, record.code]


def code(seen, name, label, index=0):
    return seen.record(name, label, index).code


def supported(seen, name, label, index=0):
    return seen.record(name, label, index).supported


def changed(seen, name, label, index=0):
    return seen.record(name, label, index).changed


def outcome(seen, name, label, index=0):
    return seen.record(name, label, index).outcome.outcome.value


def per_gpu_amd(seen):
    one = supported(seen, "amd one gpu", "gamer")
    per_gpu = supported(seen, "amd sequence", "a1") - one
    one_full = supported(seen, "amd one gpu", "extremo")
    per_gpu_full = supported(seen, "amd sequence", "a4") - one_full
    return [one - per_gpu, per_gpu, one_full - per_gpu_full, per_gpu_full, one, one_full,
            supported(seen, "amd sequence", "a1"), supported(seen, "amd sequence", "a3")]


COUNTS = {
    ("preset-nvidia", "status"): Stated(
        ("basics nvidia", "nvidia empty profile"),
        {"supported": lambda s: [supported(s, "basics nvidia", "status"),
                                 supported(s, "nvidia empty profile", "status")],
         "changed": lambda s: [changed(s, "basics nvidia", "status")]}),
    ("preset-nvidia", "apply"): Stated(
        ("nvidia sequence", "nvidia apply commit refused"),
        {"supported": lambda s: [supported(s, "nvidia sequence", x) for x in ("a1", "a3", "a4")],
         "changed": lambda s: [changed(s, "nvidia sequence", "a2"),
                               code(s, "nvidia apply commit refused", "apply")]}),
    ("preset-nvidia", "restore"): Stated(
        ("nvidia restore commit refused",),
        {"supported": lambda s: [],
         "changed": lambda s: [code(s, "nvidia restore commit refused", "refused")]}),
    ("preset-amd", "status"): Stated(
        ("basics amd",), {"supported": lambda s: [supported(s, "basics amd", "status")],
                          "changed": lambda s: [changed(s, "basics amd", "status")]}),
    ("preset-amd", "apply"): Stated(
        ("amd one gpu", "amd sequence"),
        {"supported": per_gpu_amd, "changed": lambda s: [changed(s, "amd sequence", "a2")]}),
    ("preset-amd", "restore"): Stated(("basics amd",), {"supported": lambda s: [],
                                                         "changed": lambda s: []}),
}

MEASURED_COLUMN = "Lines' counts (supported, changed) and exit"


def unchanged_driver(name, label):
    def claim(seen):
        record = seen.record(name, label)
        return [] if record.state_after == record.state_before else [
            "%s %s changed the driver" % (name, label)]
    return claim


MEASURED = {
    "`preset-nvidia` apply gamer, gamer, competitivo, extremo; restore": Stated(
        ("nvidia sequence",), {MEASURED_COLUMN: lambda s: [
            *counts(s, "nvidia sequence", "a1"), *counts(s, "nvidia sequence", "a2"),
            *counts(s, "nvidia sequence", "a3"), *counts(s, "nvidia sequence", "a4"),
            same(*[code(s, "nvidia sequence", a) for a in ("a1", "a2", "a3", "a4")]),
            *counts(s, "nvidia sequence", "r")]}),
    "`preset-nvidia` apply gamer with every write refused (`SetSetting=-1`)": Stated(
        ("nvidia writes refused",), {MEASURED_COLUMN: lambda s: sc(s, "nvidia writes refused",
                                                                   "apply")}),
    "`preset-nvidia` apply gamer with the commit refused (`SaveSettings=-1`)": Stated(
        ("nvidia apply commit refused",),
        {MEASURED_COLUMN: lambda s: sc(s, "nvidia apply commit refused", "apply")},
        claims=unchanged_driver("nvidia apply commit refused", "apply")),
    "`preset-nvidia` apply gamer with one setting unreadable (`GetSetting:0x00CE2691=-1`)":
        Stated(("nvidia setting unreadable",),
               {MEASURED_COLUMN: lambda s: sc(s, "nvidia setting unreadable", "apply")}),
    "`preset-nvidia` apply gamer; restore with the commit refused (`SaveSettings=-1`); restore":
        Stated(("nvidia restore commit refused",), {MEASURED_COLUMN: lambda s: [
            *sc(s, "nvidia restore commit refused", "apply"),
            *sc(s, "nvidia restore commit refused", "refused"),
            *sc(s, "nvidia restore commit refused", "restore")]},
            claims=unchanged_driver("nvidia restore commit refused", "refused")),
    "`preset-amd`, two GPUs: apply gamer, gamer, extremo, competitivo, gamer; restore": Stated(
        ("amd sequence",), {MEASURED_COLUMN: lambda s: [
            *[n for a in ("a1", "a2", "a3", "a4", "a5") for n in counts(s, "amd sequence", a)],
            same(*[code(s, "amd sequence", a) for a in ("a1", "a2", "a3", "a4", "a5")]),
            *counts(s, "amd sequence", "r")]}),
    "`preset-amd`, one GPU already at the gamer values: apply gamer; restore": Stated(
        ("amd already gamer",), {MEASURED_COLUMN: lambda s: [
            *counts(s, "amd already gamer", "apply"), *counts(s, "amd already gamer",
                                                              "restore")]}),
    "`preset-amd`, one GPU, every write refused (`SetEnabled=3;SetMode=3`)": Stated(
        ("amd writes refused",), {MEASURED_COLUMN: lambda s: sc(s, "amd writes refused",
                                                                "apply")},
        claims=lambda s: [] if s.record("amd writes refused", "apply").path_after[0] == "file"
        else ["the backup was not saved"]),
    "`preset-amd`, one GPU: apply gamer; restore with the newer settings services not "
    "supported (`SIM_ADLX_MISSING_SERVICES=1,3`)": Stated(
        ("amd newer services unsupported",), {MEASURED_COLUMN: lambda s: [
            *counts(s, "amd newer services unsupported", "apply"),
            code(s, "amd newer services unsupported", "apply"),
            *counts(s, "amd newer services unsupported", "restore"),
            code(s, "amd newer services unsupported", "restore")]},
        claims=lambda s: [] if s.record("amd newer services unsupported", "restore").path_after
        == ("absent",) else ["the backup was not deleted"]),
}

NV_RESTORE, AMD_RESTORE = "`preset-nvidia` restore", "`preset-amd` restore"


def recorded_back(name, label, keys):
    """The restore wrote every recorded value back: each recorded setting holds what it held
    before the first apply."""
    def claim(seen):
        played = seen.scenario(name)
        start = played.records[0].state_before
        after = seen.record(name, label).state_after
        wrong = [k for k in keys(start) if after.get(k) != start.get(k)]
        return ["%s: %s not back" % (name, wrong)] if wrong else []
    return claim


def gone(seen, program):
    """The outcome and exit code every restore answers with the driver gone."""
    name = "client no driver " + program
    return [same(*[outcome(seen, name, "restore 10", i) for i in (0, 1)]),
            same(*[code(seen, name, "restore 10", i) for i in (0, 1)])]


GPU_CHANGE = {
    "The driver was updated or reinstalled, same GPU": Stated(
        ("nvidia new driver", "amd new driver"),
        {NV_RESTORE: lambda s: [outcome(s, "nvidia new driver", "restore")],
         AMD_RESTORE: lambda s: [outcome(s, "amd new driver", "restore")]},
        claims=lambda s: recorded_back("nvidia new driver", "restore", lambda start: [
            sid for sid, _, lowest in NV_TABLE if lowest == 1])(s)
        + recorded_back("amd new driver", "restore", lambda start: [
            k for k in start if not k.endswith(".enhanced-sync")])(s)),
    "The new driver refuses a recorded setting": Stated(
        ("new driver refuses one nvidia", "new driver refuses one amd"),
        {NV_RESTORE: lambda s: [outcome(s, "new driver refuses one nvidia", "restore"),
                                code(s, "new driver refuses one nvidia", "restore")],
         AMD_RESTORE: lambda s: [outcome(s, "new driver refuses one amd", "restore"),
                                 code(s, "new driver refuses one amd", "restore")]}),
    "The GPU was replaced by another of the same vendor": Stated(
        ("basics nvidia", "amd gpu replaced"),
        {NV_RESTORE: lambda s: [outcome(s, "basics nvidia", "restore")],
         AMD_RESTORE: lambda s: [outcome(s, "amd gpu replaced", "restore"),
                                 same(*[code(s, "amd gpu replaced", "restore", i)
                                        for i in (0, 1)]),
                                 *counts(s, "amd gpu replaced", "restore")]}),
    "That vendor's driver or GPU is gone": Stated(
        ("client no driver nvidia", "client no driver amd"),
        {NV_RESTORE: lambda s: gone(s, "nvidia"), AMD_RESTORE: lambda s: gone(s, "amd")}),
}

OUTCOMES = {
    "supported": Classified((Ref("basics {p}", "status"),)),
    "applied": Classified((Ref("basics {p}", "apply"), Ref("basics {p}", "apply-again"))),
    "apply-partial": Classified((Ref("client {p}", "apply-partial"),)),
    "apply-not-saved": Classified((Ref("client nvidia not saved", "apply-not-saved"),)),
    "restored": Classified((Ref("basics {p}", "restore"),)),
    "nothing-to-restore": Classified((Ref("basics {p}", "nothing"),)),
    "restore-incomplete": Classified((Ref("client {p}", "restore-incomplete"),)),
    "unsupported": Classified((Ref("client no driver {p}", "status 10"),
                               Ref("client no driver {p}", "apply 10"))),
    "unsupported-backup-kept": Classified((Ref("client no driver {p}", "restore 10"),)),
    "caller-bug": Classified(tuple(Ref("entry {p}", label) for label in (
        "none", "other", "apply-args", "restore-args", "preset"))),
    "not-started": Classified((Ref("client {p}", "not-started"),)),
    "timed-out": Classified((Ref("client {p}", "timed-out"),)),
    "restore-timed-out": Classified((Ref("client {p}", "restore-timed-out"),)),
    "failed": Classified((Ref("client {p}", "failed"),), unprovoked={
        1: "exit 1 comes only from a failure no driver causes (memory running out)"}),
    "restore-failed": Classified((Ref("client {p}", "restore-failed"),)),
    "cancelled": Unprovoked("cancelled by the front-end itself, not an answer of the programs "
                            "(tests/e2e/test_clients.py cancels a run of each client)"),
    "restore-cancelled": Unprovoked("cancelled by the front-end itself, during a restore"),
}

EXIT_CODES = {
    0: refs(("basics {p}", "status"), ("basics {p}", "nothing")),
    1: Unprovoked("only a failure no driver causes (memory running out) ends a run with 1"),
    2: refs(("entry {p}", "none"), ("entry {p}", "other")),
    3: refs(("entry {p}", "preset")),
    10: refs(("client no driver {p}", "status 10")),
    20: refs(("nvidia unsaved", "directory")),
    21: refs(("client {p}", "apply-partial")),
    22: refs(("client {p}", "restore-incomplete")),
}

WORK_ROWS = {key: Sourced("works %s %d {p}" % (key, i), {"apply": "apply", "restore": "restore"})
             for key, places in WORKS.items() for i in range(len(places))}


def sourced_rows(prefix, table, labels):
    rows = {}
    for key, variants in table.items():
        rows[key] = [Sourced("%s %s %d {p}" % (prefix, key, i), labels)
                     for i in range(len(variants))]
    return rows


FORM_LABELS = {"nothing": "nothing", "apply": "apply", "restore": "restore",
               "refused apply": "refused apply", "refused restore": "refused restore"}
FORM_ROWS = {key: [Sourced("form %s %d {p}" % (key, i),
                           {label: label for label in FORM_LABELS
                            if any(getattr(s, "label", None) == label for s in steps)})
                   for i, (_, steps) in enumerate(variants)]
             for key, variants in FORMS.items()}
PLANTED_ROWS = {key: [Sourced("planted %d {p}" % i, {"refused apply": "refused apply",
                                                      "refused restore": "refused restore"})]
                for i, key in enumerate(PLANTED)}

REFUSED_ROWS = {}
for key, variants in REFUSED_CASES.items():
    labels = {s.label for s in variants[0][1] if getattr(s, "label", None)}
    for word in REFUSED_WORDS.get(key, ("nvidia", "amd")):
        REFUSED_ROWS[(key, word)] = [{c: Ref("refused %s %d %s" % (
            key, i, "{p}" if word == "both" else word), c) for c in labels}
            for i in range(len(variants))]

# -- names no file can have, a path ending in a separator, trailing dots and spaces --------------

NAMELESS = {
    "A character Windows refuses in names: `*`, `?`, `<`, `>`, `\"`, `|`, or a control "
    "character, anywhere after the root": [written("{dir}\\b*.txt"), written("{dir}\\a?\\b.txt"),
                                           written("{dir}\\b|.txt"),
                                           written("{dir}\\b\x01.txt")],
    "`.` or `..` in a form taken literally": [written("\\\\?\\{dir}\\x\\..\\b.txt"),
                                              written("\\??\\{dir}\\.\\b.txt")],
    "A device, where the system turns the path into one": [
        written("{dir}\\NUL"), written("{dir}\\CON"), written("{dir}\\COM1"),
        written("{dir}\\LPT1"), written("\\\\.\\NUL")],
    "A stream other than the file's own": [written("{dir}\\b.txt:s"),
                                           written("{dir}\\b.txt:s:$DATA")],
    "A root alone": [drive_root()],
}
NAMELESS_STEPS = [run("restore", "{backup}", label="restore"),
                  run("apply", "gamer", "{backup}", label="apply")]
for key, places in NAMELESS.items():
    for index, place in enumerate(places):
        both("nameless %s %d {p}" % (key[:40], index),
             lambda p, place=place: dict(place=place, steps=NAMELESS_STEPS))
NAMELESS_ROWS = {key: [Sourced("nameless %s %d {p}" % (key[:40], i),
                               {"restore": "nameless restore", "apply": "nameless apply"})
                       for i in range(len(places))]
                 for key, places in NAMELESS.items()}


def trailing(prefix, tail):
    """<work>\\b\\b.txt spelt with `prefix` before it and `tail` after it; the file is
    b.txt, which the spelling names where the system drops the tail."""
    def make(host, root):
        path = root / "b" / "b.txt"
        path.parent.mkdir(parents=True, exist_ok=True)
        return Target(prefix + host.to_program(path) + tail, path)
    return Place("%s<work>\\b\\b.txt%s" % (prefix, tail), make)


TRAILING = {
    "plain": [(trailing("", "."), FORM_ROUND_TRIP), (trailing("", " "), FORM_ROUND_TRIP),
              (written("{dir}\\d..\\b.txt"), REFUSED), (written("{dir}\\d \\b.txt"), REFUSED)],
    "`\\\\.\\`": [(trailing("\\\\.\\", "."), FORM_ROUND_TRIP),
                 (trailing("\\\\.\\", " "), FORM_ROUND_TRIP)],
    "`\\\\?\\`": [(trailing("\\\\?\\", "."), REFUSED), (trailing("\\\\?\\", " "), REFUSED),
                 (written("\\\\?\\{dir}\\d.\\b.txt"), REFUSED)],
    "`\\??\\`": [(trailing("\\??\\", "."), REFUSED), (trailing("\\??\\", " "), REFUSED)],
}
for key, variants in TRAILING.items():
    for index, (place, steps) in enumerate(variants):
        both("trailing %s %d {p}" % (key, index),
             lambda p, place=place, steps=steps: dict(place=place, steps=steps))
TRAILING_ROWS = {key: [Sourced("trailing %s %d {p}" % (key, i),
                               {s.label: s.label for s in steps})
                       for i, (_, steps) in enumerate(variants)]
                 for key, variants in TRAILING.items()}

# -- what a run asked for its detail writes to standard error ------------------------------------

both("detail {p}", lambda p: dict(steps=[
    run("restore", "{backup}", "--detail", label="nothing"),
    run("apply", "--detail", label="arguments"),
    run("apply", "turbo", "{backup}", "--detail", label="preset")]))
scenario("detail nvidia no library", "nvidia", [run("status", "--detail", label="status")],
         library=None)
both("detail folder {p}", lambda p: dict(place=plain("x"), steps=[
    act("write", "hosts"), run("apply", "gamer", "{backup}\\b.txt", "--detail", label="apply")]))
both("detail nameless {p}", lambda p: dict(place=written("{dir}\\b<1>.txt"), steps=[
    run("apply", "gamer", "{backup}", "--detail", label="apply")]))
DETAIL_WRITE = {"nvidia": "SetSetting:0x00CE2691=-1", "amd": "SetEnabled:gpu0.boost=3"}
both("detail refused write {p}", lambda p: dict(steps=[
    run("apply", "gamer", "{backup}", "--detail", env=fault(p, DETAIL_WRITE[p]), label="apply"),
    run("restore", "{backup}", exit=0)], round_trip=True))
both("detail not ours {p}", lambda p: dict(keeps_written=True, steps=[
    act("write", "hosts"), run("restore", "{backup}", "--detail", label="restore")]))

DETAIL = {
    "`restore C:\\...\\none.txt` (no backup there)": (Ref("detail {p}", "nothing"),),
    "(memory exhausted in a backend)": Unprovoked(
        "only a failure no driver causes (memory running out) ends a run with 1"),
    "`apply` with too few arguments, an unknown preset": (Ref("detail {p}", "arguments"),
                                                         Ref("detail {p}", "preset")),
    "`status` without `nvapi64.dll`": (Ref("detail nvidia no library", "status"),),
    "`apply gamer C:\\...\\x\\b.txt`, `x` a file": (Ref("detail folder {p}", "apply"),),
    "`apply gamer C:\\...\\b<1>.txt`": (Ref("detail nameless {p}", "apply"),),
    "`apply gamer`, the driver refuses one write": (Ref("detail refused write {p}", "apply"),),
    "`restore` of a file that is not a backup": (Ref("detail not ours {p}", "restore"),),
    "`restore` while another run holds the path": (Ref("lock {p}", "restore"),),
}

READ_ONLY = {
    "Read-only backup, a later `apply` adds entries": Stated(
        ("read-only backup {p}",), {"What happens": lambda s: [
            *counts(s, "read-only backup nvidia", "extremo"),
            *counts(s, "read-only backup amd", "extremo")]}),
    "Read-only backup, `restore`": Stated(("read-only backup {p}",),
                                          {"What happens": lambda s: []}),
    "Read-only `<backup>.tmp` left behind (a run killed before its rename)": Stated(
        ("stale tmp {p}", "stale tmp held {p}"), {"What happens": lambda s: [
            code(s, "stale tmp held nvidia", "apply"), code(s, "stale tmp held amd", "apply")]},
        claims=lambda s: ["%s: apply over a stale read-only temporary file ended with %s"
                          % (p, code(s, "stale tmp %s" % p, "apply"))
                          for p in ("nvidia", "amd") if code(s, "stale tmp %s" % p, "apply")]),
}

ADLX_FILES = {("amdadlx64-%s.dll" % v if v else "amdadlx64.dll"): "amd variant " + (v or "full")
              for v in ADLX_VARIANTS}

NVIDIA_WRITES = {"0x%08X" % sid: "presets nvidia" for sid in (
    0x1057EB71, 0x0064B541, 0x00CE2691, 0x00198FFF, 0x00AC8497, 0x10835002, 0x107EFC5B,
    0x10D2BB16, 0x00A879CF, 0x20FDD1F9, 0x00E73211, 0x0084CD70, 0x002ECAF2)}
AMD_WRITES = {name: "presets amd" for name in
              ["global.rsr", "global.afmf"] + AMD_PER_GPU}


# -- every table of the documents ------------------------------------------------------------------

class Listed:
    """A table of a document: where it stands, its kind, and its rows' cases (by key)."""

    def __init__(self, document, section, header, kind, cases=None):
        self.document, self.section, self.header = document, section, tuple(header)
        self.kind, self.cases = kind, cases

    def matches(self, table):
        return (table.document == self.document and table.section == self.section
                and table.header == self.header)


LINE_HEADER = ("Program", "Command", "Line", "Exit")


def listed_tables(outcomes):
    """Every table the documents hold. `outcomes`: the client's outcome names."""
    guide, hostile = "docs/integration.md", "docs/hostile-paths.md"
    win64 = "package/win64/README.md"
    return [
        Listed("README.md", "The two commands",
             ("Command, on a fresh `git clone` (2 cores, machine otherwise idle)", "Time"),
             NotResults("how long the commands took, measured by hand")),
        Listed("README.md", "The result line", LINE_HEADER, LineTable(), MAIN),
        Listed("README.md", "Two runs at once", LINE_HEADER, LineTable(), LOCKED),
        Listed(guide, "Every line and exit code", LINE_HEADER + ("What the front-end does",),
             LineTable(), MAIN),
        Listed(guide, "What the counts mean", ("Program", "Command", "supported", "changed"),
             KeyedProseTable(outcomes), COUNTS),
        Listed(guide, "What the counts mean", ("Runs, in order", MEASURED_COLUMN),
             ProseTable(outcomes), MEASURED),
        Listed(guide, "What each preset writes",
             ("Setting id", "Value", "gamer", "competitivo", "extremo"),
             NvidiaPresetTable(), NVIDIA_WRITES),
        Listed(guide, "What each preset writes",
             ("Setting", "Scope", "Shape", "gamer", "competitivo", "extremo"),
             AmdPresetTable(), AMD_WRITES),
        Listed(guide, "After a driver update or a GPU change",
             ("What changed", NV_RESTORE, AMD_RESTORE), ProseTable(outcomes), GPU_CHANGE),
        Listed(guide, "Examples", ("Outcome", "When", "Action", "Backup path"), OutcomeTable(),
             OUTCOMES),
        Listed(guide, "Standard error and --detail",
             ("Exit", "Run", "Standard error with `--detail`", "What it tells"), DetailTable(),
             DETAIL),
        Listed(guide, "Texts to show the user", ("Outcome", "English", "Portuguese"),
             NotResults("the clients' text for each outcome, held to the clients' own by "
                        "tests/e2e/test_clients.py")),
        Listed(hostile, "Paths that work", ("Case", "Example"), SourcedTable(work_lines),
             {k: [v] for k, v in WORK_ROWS.items()}),
        Listed(hostile, "Path forms", ("Form", "Example", "Root the walk starts from"),
             SourcedTable(form_lines), FORM_ROWS),
        Listed(hostile, "Names no file can have", ("Program", "apply", "restore"), SourceTable(),
             {"nvidia": "the Name rows below", "amd": "the Name rows below"}),
        Listed(hostile, "Names no file can have", ("Name", "Examples"), SourcedTable(form_lines),
             NAMELESS_ROWS),
        Listed(hostile, "Trailing dots and spaces",
             ("Form", "`...\\b.txt.` or `...\\b.txt `",
              "a folder on the way ending in a dot or a space"),
             SourcedTable(form_lines), TRAILING_ROWS),
        Listed(hostile, "Paths and states that are refused", ("Case", "Program", "apply", "restore"),
             RefusedTable(), REFUSED_ROWS),
        Listed(hostile, "Links an attacker plants", ("Program", "apply", "restore"), SourceTable(),
             {"nvidia": "the Planted rows below and the Not understood form",
              "amd": "the Planted rows below and the Not understood form"}),
        Listed(hostile, "Links an attacker plants", ("Planted", "Victim"),
             SourcedTable(form_lines), PLANTED_ROWS),
        Listed(hostile, "Read-only files", ("Case", "What happens"), ProseTable(outcomes),
             READ_ONLY),
        Listed(win64, "preset-nvidia and preset-amd", ("File", "What it is"),
             NotResults("the files of the ZIP")),
        Listed(win64, "The result line", LINE_HEADER + ("Meaning",), LineTable(), MAIN),
        Listed(win64, "Exit codes", ("Exit", "Meaning"), ExitTable(), EXIT_CODES),
        Listed("package/devkit/README.md", "What is here", ("Path", "What it is"),
             NotResults("the files of the kit")),
        Listed("docs/simulated-nvapi.md", "The files", ("File", "Offers"),
             NotResults("what each library variant offers; the programs' answers to them are "
                        "the end-to-end tests' (test_nvidia_variants.py)")),
        Listed("docs/simulated-nvapi.md", "Environment variables", ("Variable", "Meaning", "Unset"),
             NotResults("the simulated library's configuration")),
        Listed("docs/simulated-nvapi.md", "Behaviour", ("Status", "When", "`MISUSE` line ends in"),
             NotResults("statuses of the simulated library, not answers of the programs")),
        Listed("docs/simulated-nvapi.md", "Faults", ("`SIM_NVAPI_FAULTS`", "Effect"),
             NotResults("what a fault rule does to the library")),
        Listed("docs/simulated-adlx.md", "The files",
             ("File", "Exports missing", "What `preset-amd` does with it"), VariantTable(),
             ADLX_FILES),
        Listed("docs/simulated-adlx.md", "Variables", ("Variable", "Grammar", "Default", "Meaning"),
             NotResults("the simulated runtime's configuration")),
        Listed("docs/simulated-adlx.md", "Misuse", ("What the caller did", "Result", "`MISUSE` line"),
             NotResults("the simulated runtime's answers to a caller that misuses it, run by "
                        "the misuse table of tests/e2e/test_adlx_sim.py")),
        Listed("docs/simulated-faults.md", "Older spellings", ("Spelling", "NVIDIA", "ADLX"),
             NotResults("spellings of fault rules")),
    ]
