"""Starts preset-nvidia or preset-amd and turns what it answered into what to do next.

    python -m preset_client [options] <program.exe> <command> [arguments...]
    python -m preset_client --version <program.exe>
        options: --launcher <wine>, --detail, --timeout <seconds>
    (python preset_client.py takes the same, from the single file)

The first prints the five fields of the result line, what the program wrote to standard
error, the exit code, how the run ended, the outcome and the action, and exits 0 only when
the action is "done"; the second prints the program's version. Import it to use
`run_preset`, `parse_result_line`, `classify` and `program_version` in a front-end of your
own, `run_and_classify_async` and `run_preset_async` on asyncio (cancellable), and
`classify_exit_code` where only the exit code is known; standard library only. The outcome
of every (program, command, exit code, line) and the action for each outcome follow
docs/integration.md; anything the programs never answer counts as a crashed run, whose
safe answer is to keep the backup path and restore later.
"""
import asyncio
import collections
import enum
import os
import struct
import subprocess
import sys
import tempfile

__version__ = "0.1.0"

# Longer than a run can take: a run waits up to 10 seconds for another run on the same
# backup path, and driver calls take a few seconds at most.
TIMEOUT_S = 60

FIELDS = ("result", "vendor", "supported", "changed")
MESSAGE_MARK = ";message="
# More than one result line, or any detail, ever needs; the rest is not read.
MAX_OUTPUT = 64 * 1024
# The extra argument that asks the programs to explain each failure on standard error.
DETAIL_ARGUMENT = "--detail"


class Program(enum.Enum):
    NVIDIA = "preset-nvidia"
    AMD = "preset-amd"

    @property
    def vendor(self):
        return self.name

    @classmethod
    def of(cls, path):
        """The program a path names ("...\\preset-amd.exe"), or None."""
        stem = os.path.basename(str(path).replace("\\", "/")).lower()
        if stem.endswith(".exe"):
            stem = stem[:-4]
        return next((p for p in cls if p.value == stem), None)


class Command(enum.Enum):
    STATUS = "status"
    APPLY = "apply"
    RESTORE = "restore"
    OTHER = "other"

    @classmethod
    def of(cls, word):
        """The command a first argument names; the programs ignore ASCII letter case."""
        lowered = (word or "").translate(str.maketrans("ABCDEFGHIJKLMNOPQRSTUVWXYZ",
                                                       "abcdefghijklmnopqrstuvwxyz"))
        return next((c for c in cls if c.value == lowered and c is not cls.OTHER), cls.OTHER)


class Outcome(enum.Enum):
    SUPPORTED = "supported"  # status: the driver can be used; offer the presets
    APPLIED = "applied"
    # Apply exit 21: partly applied, or (changed 0) nothing, when the backup could not be
    # saved, was busy or an elevated run refused its path.
    APPLY_PARTIAL = "apply-partial"
    APPLY_NOT_SAVED = "apply-not-saved"  # NVIDIA apply exit 20: nothing changed, same reasons
    RESTORED = "restored"  # the program deleted the backup
    NOTHING_TO_RESTORE = "nothing-to-restore"
    # Restore exit 22 (with 0 and 0 also: an unreadable, busy or refused path).
    RESTORE_INCOMPLETE = "restore-incomplete"
    UNSUPPORTED = "unsupported"  # exit 10 of status or apply: nothing changed
    UNSUPPORTED_BACKUP_KEPT = "unsupported-backup-kept"  # exit 10 of restore
    CALLER_BUG = "caller-bug"  # exit 2, or 3 of apply: a wrong command line
    NOT_STARTED = "not-started"  # the program could not be started: wrong path or launcher
    TIMED_OUT = "timed-out"  # ended by the client past its time limit
    RESTORE_TIMED_OUT = "restore-timed-out"  # the same during a restore
    CANCELLED = "cancelled"  # ended by the client because its caller cancelled the run
    RESTORE_CANCELLED = "restore-cancelled"  # the same during a restore
    FAILED = "failed"  # crashed, killed, or an answer the programs never give
    RESTORE_FAILED = "restore-failed"  # the same during a restore


class Ended(enum.Enum):
    """How a run ended: with one result line (whatever it says), not at all, ended by the
    client past its time limit or because it was cancelled, by itself without a line (a
    crash, a kill), or unknown but for its exit code (classify_exit_code)."""
    ANSWERED = "answered"
    NOT_STARTED = "not-started"
    TIMED_OUT = "timed-out"
    CANCELLED = "cancelled"
    NO_LINE = "no-line"
    EXIT_CODE_ONLY = "exit-code-only"


class Action(enum.Enum):
    DONE = "done"
    TELL_USER = "tell-user"  # the backup is safe; try again later
    RETRY_RESTORE_LATER = "retry-restore-later"
    TELL_UNSUPPORTED = "tell-unsupported"
    REPORT_BUG = "report-bug"


# What the front-end does after each outcome, and whether it keeps the backup path. Only a
# finished restore (or none needed) lets go of the path: every other answer leaves a
# backup that a later restore still needs, or one from an earlier apply.
PRESCRIPTION = {
    Outcome.SUPPORTED: (Action.DONE, True),
    Outcome.APPLIED: (Action.DONE, True),
    Outcome.APPLY_PARTIAL: (Action.TELL_USER, True),
    Outcome.APPLY_NOT_SAVED: (Action.TELL_USER, True),
    Outcome.RESTORED: (Action.DONE, False),
    Outcome.NOTHING_TO_RESTORE: (Action.DONE, False),
    Outcome.RESTORE_INCOMPLETE: (Action.RETRY_RESTORE_LATER, True),
    Outcome.UNSUPPORTED: (Action.TELL_UNSUPPORTED, True),
    Outcome.UNSUPPORTED_BACKUP_KEPT: (Action.TELL_UNSUPPORTED, True),
    Outcome.CALLER_BUG: (Action.REPORT_BUG, True),
    Outcome.NOT_STARTED: (Action.REPORT_BUG, True),  # the front-end's path or installation
    Outcome.TIMED_OUT: (Action.TELL_USER, True),
    Outcome.RESTORE_TIMED_OUT: (Action.RETRY_RESTORE_LATER, True),
    Outcome.CANCELLED: (Action.TELL_USER, True),
    Outcome.RESTORE_CANCELLED: (Action.RETRY_RESTORE_LATER, True),
    Outcome.FAILED: (Action.TELL_USER, True),
    Outcome.RESTORE_FAILED: (Action.RETRY_RESTORE_LATER, True),
}

# Every answer the programs give: (command, exit code, kind) -> outcome. None as the
# command stands for any command; NVIDIA_ONLY answers come from preset-nvidia alone.
ANSWERS = {
    (Command.STATUS, 0, "ok"): Outcome.SUPPORTED,
    (Command.APPLY, 0, "ok"): Outcome.APPLIED,
    (Command.APPLY, 21, "error"): Outcome.APPLY_PARTIAL,
    (Command.APPLY, 20, "error"): Outcome.APPLY_NOT_SAVED,
    (Command.RESTORE, 0, "ok"): Outcome.RESTORED,
    (Command.RESTORE, 0, "nothing"): Outcome.NOTHING_TO_RESTORE,
    (Command.RESTORE, 22, "error"): Outcome.RESTORE_INCOMPLETE,
    (Command.STATUS, 10, "unsupported"): Outcome.UNSUPPORTED,
    (Command.APPLY, 10, "unsupported"): Outcome.UNSUPPORTED,
    (Command.RESTORE, 10, "unsupported"): Outcome.UNSUPPORTED_BACKUP_KEPT,
    (None, 2, "error"): Outcome.CALLER_BUG,
    (Command.APPLY, 3, "error"): Outcome.CALLER_BUG,
}
NVIDIA_ONLY = {(Command.APPLY, 20, "error")}

# A text a front-end may show for each outcome: (English, Portuguese).
TEXTS = {
    Outcome.SUPPORTED: (
        "The graphics driver can be used. Choose a preset.",
        "O driver de vídeo pode ser usado. Escolha um preset."),
    Outcome.APPLIED: (
        "The preset was applied. The original settings are saved for a later restore.",
        "O preset foi aplicado. As configurações originais estão guardadas para "
        "restaurar depois."),
    Outcome.APPLY_PARTIAL: (
        "The preset was applied only in part, or not at all. The original settings are "
        "saved; try again later.",
        "O preset foi aplicado só em parte, ou não foi aplicado. As configurações "
        "originais estão guardadas; tente de novo mais tarde."),
    Outcome.APPLY_NOT_SAVED: (
        "Nothing was changed: the current settings could not be saved first. Try again "
        "later.",
        "Nada foi alterado: não foi possível guardar antes as configurações atuais. Tente "
        "de novo mais tarde."),
    Outcome.RESTORED: (
        "The original settings were restored.",
        "As configurações originais foram restauradas."),
    Outcome.NOTHING_TO_RESTORE: (
        "There was nothing to restore.",
        "Não havia nada para restaurar."),
    Outcome.RESTORE_INCOMPLETE: (
        "Not every setting could be restored. The saved settings are kept; try restoring "
        "again later.",
        "Nem todas as configurações puderam ser restauradas. As configurações guardadas "
        "foram mantidas; tente restaurar de novo mais tarde."),
    Outcome.UNSUPPORTED: (
        "This graphics card or driver is not supported, or not available now. Nothing "
        "was changed.",
        "Esta placa de vídeo ou este driver não é compatível, ou não está disponível "
        "agora. Nada foi alterado."),
    Outcome.UNSUPPORTED_BACKUP_KEPT: (
        "The graphics driver is not available, so nothing could be restored. The saved "
        "settings are kept; restore again once the driver is back.",
        "O driver de vídeo não está disponível, então nada pôde ser restaurado. As "
        "configurações guardadas foram mantidas; restaure de novo quando o driver voltar."),
    Outcome.CALLER_BUG: (
        "The program was started with a wrong command line. Please report this problem.",
        "O programa foi iniciado com uma linha de comando errada. Por favor, informe este "
        "problema."),
    Outcome.NOT_STARTED: (
        "The program could not be started. Check the installation, and please report this "
        "problem.",
        "Não foi possível iniciar o programa. Verifique a instalação e, por favor, informe "
        "este problema."),
    Outcome.TIMED_OUT: (
        "The program took too long and was stopped. The original settings are safe; try "
        "again later.",
        "O programa demorou demais e foi interrompido. As configurações originais estão "
        "seguras; tente de novo mais tarde."),
    Outcome.RESTORE_TIMED_OUT: (
        "Restoring took too long and was stopped. The saved settings are kept; try "
        "restoring again later.",
        "A restauração demorou demais e foi interrompida. As configurações guardadas "
        "foram mantidas; tente restaurar de novo mais tarde."),
    Outcome.CANCELLED: (
        "Cancelled. Any setting already changed can still be restored.",
        "Cancelado. Qualquer configuração já alterada ainda pode ser restaurada."),
    Outcome.RESTORE_CANCELLED: (
        "Restoring was cancelled. The saved settings are kept; restore again later.",
        "A restauração foi cancelada. As configurações guardadas foram mantidas; "
        "restaure de novo mais tarde."),
    Outcome.FAILED: (
        "The program failed unexpectedly. The original settings are safe; try again later.",
        "O programa falhou de forma inesperada. As configurações originais estão "
        "seguras; tente de novo mais tarde."),
    Outcome.RESTORE_FAILED: (
        "Restoring failed unexpectedly. The saved settings are kept; try restoring again "
        "later.",
        "A restauração falhou de forma inesperada. As configurações guardadas foram "
        "mantidas; tente restaurar de novo mais tarde."),
}
LANGUAGES = ("en", "pt")

ResultLine = collections.namedtuple("ResultLine", "kind vendor supported changed message")
# exit_code None: the run did not end by itself, and `ended` says how (Ended.NOT_STARTED,
# Ended.TIMED_OUT or Ended.CANCELLED); otherwise `ended` is None. `errors`: the bytes of
# standard error.
Run = collections.namedtuple("Run", "output exit_code ended errors", defaults=(b"",))
# `exit_code` None: the run did not end by itself. `detail`: what the program wrote to
# standard error, as text (UTF-8, anything else replaced), never part of the line.
Result = collections.namedtuple("Result",
                                "outcome action keep_backup_path line ended exit_code detail",
                                defaults=("",))


def outcome_text(outcome, language="en"):
    """The text a front-end may show for `outcome`, in "en" (English) or "pt"
    (Portuguese)."""
    if language not in LANGUAGES:
        raise ValueError("no texts in %r; there are %s" % (language, ", ".join(LANGUAGES)))
    return TEXTS[outcome][LANGUAGES.index(language)]


def parse_result_line(data):
    """The fields of the bytes a run printed, or None when they are not one result line.

    The first four fields are split at ";"; the message is everything after the first
    ";message=", since a message may itself contain ";" (and "=")."""
    if not data.endswith(b"\r\n") or b"\n" in data[:-2] or b"\r" in data[:-2]:
        return None
    try:
        text = data[:-2].decode("ascii")
    except UnicodeDecodeError:
        return None
    head, mark, message = text.partition(MESSAGE_MARK)
    parts = head.split(";")
    if not mark or len(parts) != len(FIELDS):
        return None
    values = []
    for name, part in zip(FIELDS, parts):
        key, eq, value = part.partition("=")
        if key != name or not eq:
            return None
        values.append(value)
    kind, vendor, supported, changed = values
    if not (supported.isascii() and supported.isdigit() and changed.isascii()
            and changed.isdigit()):
        return None
    return ResultLine(kind, vendor, int(supported), int(changed), message)


# How each way a run can end without an exit code is classified: (outcome, during restore).
NOT_ENDED = {
    Ended.NOT_STARTED: (Outcome.NOT_STARTED, Outcome.NOT_STARTED),
    Ended.TIMED_OUT: (Outcome.TIMED_OUT, Outcome.RESTORE_TIMED_OUT),
    Ended.CANCELLED: (Outcome.CANCELLED, Outcome.RESTORE_CANCELLED),
}


def _outcome_of(program, command, exit_code, kind):
    """The outcome of an answer the programs give, or None for one they never give."""
    for key in ((command, exit_code, kind), (None, exit_code, kind)):
        if key in ANSWERS and (key not in NVIDIA_ONLY or program is Program.NVIDIA):
            return ANSWERS[key]
    return None


def _result(outcome, command, line, ended, exit_code, errors):
    if outcome is None:
        # No line, or one the programs never print: a crash. The backup on disk is always
        # complete, so keeping its path and restoring later is safe.
        outcome = Outcome.RESTORE_FAILED if command is Command.RESTORE else Outcome.FAILED
    action, keep = PRESCRIPTION[outcome]
    return Result(outcome, action, keep, line, ended, exit_code,
                  errors.decode("utf-8", "replace"))


def classify(program, command, exit_code, output, ended=None, errors=b""):
    """The outcome of one run and what to do about it.

    `program` a Program, `command` a Command (or the first argument, as a string),
    `exit_code` the run's exit code, `output` its bytes, `errors` the bytes of its standard
    error (handed back as the result's `detail`, never read for the outcome). For a run that
    did not end by itself, `exit_code` is None and `ended` is Ended.NOT_STARTED,
    Ended.TIMED_OUT or Ended.CANCELLED."""
    if not isinstance(command, Command):
        command = Command.of(command)
    line, outcome = None, None
    if exit_code is None:
        if ended not in NOT_ENDED:
            raise ValueError("a run without an exit code needs ended=NOT_STARTED, TIMED_OUT "
                             "or CANCELLED")
        outcome = NOT_ENDED[ended][command is Command.RESTORE]
    else:
        line = parse_result_line(output)
        ended = Ended.NO_LINE if line is None else Ended.ANSWERED
    if line is not None and line.vendor == program.vendor:
        outcome = _outcome_of(program, command, exit_code, line.kind)
    return _result(outcome, command, line, ended, exit_code, errors)


def classify_exit_code(program, command, exit_code):
    """The outcome of a run of which only the exit code is known, for example one started
    elevated with ShellExecuteEx("runas"), whose output cannot be read. Each exit code the
    programs give belongs to one kind of line, so the outcome is the line's, with one loss:
    restore's exit 0 reads as Outcome.RESTORED also when there was nothing to restore (the
    action is the same). `ended` is Ended.EXIT_CODE_ONLY."""
    if not isinstance(command, Command):
        command = Command.of(command)
    kind = {0: "ok", 10: "unsupported"}.get(exit_code, "error")
    outcome = _outcome_of(program, command, exit_code, kind)
    return _result(outcome, command, None, Ended.EXIT_CODE_ONLY, exit_code, b"")


_FLAGS = subprocess.CREATE_NO_WINDOW if sys.platform == "win32" else 0


def _argv(program, args, launcher, detail):
    """The command line of a run, or None when a launcher would be given a program file
    this process cannot see: a launcher such as Wine answers a missing program with an exit
    code of its own, which would pass for a crash of the program."""
    if launcher and not os.path.isfile(program):
        return None
    return [*launcher, str(program), *map(str, args), *([DETAIL_ARGUMENT] if detail else [])]


def _finished(out, err, exit_code):
    out.seek(0)
    err.seek(0)
    return Run(out.read(MAX_OUTPUT), exit_code, None, err.read(MAX_OUTPUT))


def _given_up(err, ended):
    """A run the client ended: no line, but what it wrote to standard error so far."""
    err.seek(0)
    return Run(b"", None, ended, err.read(MAX_OUTPUT))


def run_preset(program, *args, timeout=TIMEOUT_S, env=None, launcher=(), detail=False):
    """Runs the program without a console window; returns Run(stdout bytes, exit code,
    how it ended when it did not end by itself, stderr bytes).

    Standard output and error go to temporary files, read once the run ended. A run that
    overran `timeout` seconds is killed (safe: no setting changes before its original is
    in the backup): Ended.TIMED_OUT. A program or launcher that cannot be started, or,
    with a launcher, a program file this process cannot see: Ended.NOT_STARTED. `env` is
    the whole environment of the run (None: this process's own); the programs read none,
    but the simulated drivers are configured through it. `launcher` goes before the
    program, for example ["wine64"]. `detail` adds "--detail" after the arguments: the
    programs then explain each failure on standard error."""
    argv = _argv(program, args, launcher, detail)
    if argv is None:
        return Run(b"", None, Ended.NOT_STARTED)
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
        try:
            proc = subprocess.run(argv, stdin=subprocess.DEVNULL, stdout=out, stderr=err,
                                  timeout=timeout, creationflags=_FLAGS, env=env, check=False)
        except subprocess.TimeoutExpired:
            return _given_up(err, Ended.TIMED_OUT)
        except OSError:
            return Run(b"", None, Ended.NOT_STARTED)
        return _finished(out, err, proc.returncode)


async def _end(proc):
    """Ends a run the client gave up on, and waits until it has ended."""
    try:
        proc.kill()
    except ProcessLookupError:
        pass  # it ended by itself meanwhile
    await proc.wait()


async def run_preset_async(program, *args, timeout=TIMEOUT_S, env=None, launcher=(),
                           detail=False, cancel=None):
    """run_preset on asyncio (on Windows its default loop, the proactor, starts processes).

    `cancel`, an asyncio.Event: once it is set, the run is ended and counts as
    Ended.CANCELLED (unless it had ended by itself first). A task cancelled while it waits
    here ends the run too, then raises CancelledError as asyncio expects."""
    argv = _argv(program, args, launcher, detail)
    if argv is None:
        return Run(b"", None, Ended.NOT_STARTED)
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
        try:
            proc = await asyncio.create_subprocess_exec(
                *argv, stdin=subprocess.DEVNULL, stdout=out, stderr=err,
                creationflags=_FLAGS, env=env)
        except OSError:
            return Run(b"", None, Ended.NOT_STARTED)
        exited = asyncio.ensure_future(proc.wait())
        waits = [exited] + ([asyncio.ensure_future(cancel.wait())] if cancel else [])
        try:
            await asyncio.wait(waits, timeout=timeout, return_when=asyncio.FIRST_COMPLETED)
        except asyncio.CancelledError:
            await _end(proc)
            raise
        finally:
            for waiting in waits[1:]:
                waiting.cancel()
        if not exited.done():
            await _end(proc)
            return _given_up(err, Ended.CANCELLED if cancel and cancel.is_set()
                             else Ended.TIMED_OUT)
        return _finished(out, err, proc.returncode)


def _program_of(path):
    program = Program.of(path)
    if program is None:
        raise ValueError("not preset-nvidia or preset-amd: %s" % path)
    return program


def _classify_run(program, args, run):
    return classify(program, args[0] if args else None, run.exit_code, run.output, run.ended,
                    run.errors)


def run_and_classify(program_path, *args, timeout=TIMEOUT_S, env=None, launcher=(),
                     detail=False):
    """run_preset, then classify; the program is known by its file name. Returns
    (Result, Run)."""
    program = _program_of(program_path)
    run = run_preset(program_path, *args, timeout=timeout, env=env, launcher=launcher,
                     detail=detail)
    return _classify_run(program, args, run), run


async def run_and_classify_async(program_path, *args, timeout=TIMEOUT_S, env=None,
                                 launcher=(), detail=False, cancel=None):
    """run_preset_async, then classify: run_and_classify on asyncio. Setting `cancel`, an
    asyncio.Event, ends the run; its outcome is then Outcome.CANCELLED, during a restore
    Outcome.RESTORE_CANCELLED. Returns (Result, Run)."""
    program = _program_of(program_path)
    run = await run_preset_async(program_path, *args, timeout=timeout, env=env,
                                 launcher=launcher, detail=detail, cancel=cancel)
    return _classify_run(program, args, run), run


VERSION_KEY = "VS_VERSION_INFO\0".encode("utf-16-le")
FIXED_SIGNATURE = 0xFEEF04BD


def program_version(path):
    """The program's version, "major.minor.patch" from the numbers of its version resource
    (what Explorer shows under Details), or None. Reads the file itself, so it works on
    any system."""
    try:
        with open(path, "rb") as image:
            data = image.read()
    except OSError:
        return None
    # The resource is the key, padding to a 4-byte boundary, then the fixed file info:
    # signature, structure version, and the file version's two 32-bit halves.
    at = data.find(VERSION_KEY)
    while at >= 6:
        fixed = (at + len(VERSION_KEY) + 3) & ~3
        if fixed + 16 <= len(data):
            signature, _, high, low = struct.unpack_from("<4I", data, fixed)
            if signature == FIXED_SIGNATURE:
                return "%d.%d.%d" % (high >> 16, high & 0xFFFF, low >> 16)
        at = data.find(VERSION_KEY, at + 1)
    return None


def main(argv):
    if len(argv) == 3 and argv[1] == "--version":
        version = program_version(argv[2])
        print(version or "no version")
        return 0 if version else 1
    launcher, detail, timeout, rest = [], False, TIMEOUT_S, argv[1:]
    while rest and rest[0] in ("--launcher", "--detail", "--timeout"):
        option = rest.pop(0)
        if option == "--detail":
            detail = True
        elif not rest or (option == "--timeout" and not rest[0].isdigit()):
            rest = []  # an option without its value: the usage below
        elif option == "--launcher":
            launcher = [rest.pop(0)]
        else:
            timeout = int(rest.pop(0))
    if len(rest) < 2 or Program.of(rest[0]) is None:
        print("\n".join(__doc__.strip().splitlines()[2:5]), file=sys.stderr)
        return 2
    result, run = run_and_classify(rest[0], *rest[1:], timeout=timeout, launcher=launcher,
                                   detail=detail)
    if result.line is not None:
        for name, value in zip(FIELDS + ("message",), result.line):
            print("%s: %s" % (name, value))
    else:
        print("no result line")
    for text in result.detail.splitlines():
        print("stderr: %s" % text)
    print("exit: %s" % ("none" if run.exit_code is None else run.exit_code))
    print("ended: %s" % result.ended.value)
    print("outcome: %s" % result.outcome.value)
    print("action: %s" % result.action.value)
    print("backup path: %s" % ("keep" if result.keep_backup_path else "forget"))
    # Scripts branch on this: 0 only when nothing is left to do about the run.
    return 0 if result.action is Action.DONE else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv))
