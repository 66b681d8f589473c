"""Starts preset-nvidia or preset-amd and turns what it answered into what to do next.

    python preset_client.py [--launcher <wine>] <program.exe> <command> [arguments...]
    python preset_client.py --version <program.exe>

The first prints the five fields of the result line, the exit code, how the run ended, the
outcome and the action, and exits 0 only when the action is "done"; the second prints the
program's version. Import it to use `run_preset`, `parse_result_line`, `classify` and
`program_version` in a front-end of your own; standard library only. The outcome of every
(program, command, exit code, line) and the action for each outcome follow
docs/integration.md; anything the programs never answer counts as a crashed run, whose
safe answer is to keep the backup path and restore later.
"""
import collections
import enum
import os
import struct
import subprocess
import sys
import tempfile

# Longer than a run can take: a run waits up to 10 seconds for another run on the same
# backup path, and driver calls take a few seconds at most.
TIMEOUT_S = 60

FIELDS = ("result", "vendor", "supported", "changed")
MESSAGE_MARK = ";message="


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
    FAILED = "failed"  # crashed, killed, or an answer the programs never give
    RESTORE_FAILED = "restore-failed"  # the same during a restore


class Ended(enum.Enum):
    """How a run ended: with one result line (whatever it says), not at all, ended by the
    client past its time limit, or by itself without a line (a crash, a kill)."""
    ANSWERED = "answered"
    NOT_STARTED = "not-started"
    TIMED_OUT = "timed-out"
    NO_LINE = "no-line"


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

ResultLine = collections.namedtuple("ResultLine", "kind vendor supported changed message")
# exit_code None: the run did not end by itself, and `ended` says how (Ended.NOT_STARTED or
# Ended.TIMED_OUT); otherwise `ended` is None.
Run = collections.namedtuple("Run", "output exit_code ended")
# `exit_code` None: the run did not end by itself.
Result = collections.namedtuple("Result", "outcome action keep_backup_path line ended exit_code")


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


def classify(program, command, exit_code, output, ended=None):
    """The outcome of one run and what to do about it.

    `program` a Program, `command` a Command (or the first argument, as a string),
    `exit_code` the run's exit code, `output` its bytes. For a run that did not end by
    itself, `exit_code` is None and `ended` is Ended.NOT_STARTED or Ended.TIMED_OUT."""
    if not isinstance(command, Command):
        command = Command.of(command)
    restore = command is Command.RESTORE
    line, outcome = None, None
    if exit_code is None:
        if ended not in (Ended.NOT_STARTED, Ended.TIMED_OUT):
            raise ValueError("a run without an exit code needs ended=NOT_STARTED or TIMED_OUT")
        if ended is Ended.NOT_STARTED:
            outcome = Outcome.NOT_STARTED
        else:
            outcome = Outcome.RESTORE_TIMED_OUT if restore else Outcome.TIMED_OUT
    else:
        line = parse_result_line(output)
        ended = Ended.NO_LINE if line is None else Ended.ANSWERED
    if line is not None and line.vendor == program.vendor:
        for key in ((command, exit_code, line.kind), (None, exit_code, line.kind)):
            if key in ANSWERS and (key not in NVIDIA_ONLY or program is Program.NVIDIA):
                outcome = ANSWERS[key]
                break
    if outcome is None:
        # No line, or one the programs never print: a crash. The backup on disk is always
        # complete, so keeping its path and restoring later is safe.
        outcome = Outcome.RESTORE_FAILED if restore else Outcome.FAILED
    action, keep = PRESCRIPTION[outcome]
    return Result(outcome, action, keep, line, ended, exit_code)


def run_preset(program, *args, timeout=TIMEOUT_S, env=None, launcher=()):
    """Runs the program without a console window; returns Run(stdout bytes, exit code,
    how it ended when it did not end by itself).

    Standard output goes to a temporary file and is read once the run ended. A run that
    overran `timeout` seconds is killed (safe: no setting changes before its original is
    in the backup): Ended.TIMED_OUT. A program or launcher that cannot be started, or,
    with a launcher, a program file this process cannot see: Ended.NOT_STARTED. `env` is
    the whole environment of the run (None: this process's own); the programs read none,
    but the simulated drivers are configured through it. `launcher` goes before the
    program, for example ["wine64"]."""
    # A launcher such as Wine answers a missing program with an exit code of its own, which
    # would pass for a crash of the program.
    if launcher and not os.path.isfile(program):
        return Run(b"", None, Ended.NOT_STARTED)
    flags = subprocess.CREATE_NO_WINDOW if sys.platform == "win32" else 0
    with tempfile.TemporaryFile() as out:
        try:
            proc = subprocess.run([*launcher, str(program), *map(str, args)],
                                  stdin=subprocess.DEVNULL, stdout=out,
                                  stderr=subprocess.DEVNULL, timeout=timeout,
                                  creationflags=flags, env=env, check=False)
        except subprocess.TimeoutExpired:
            return Run(b"", None, Ended.TIMED_OUT)
        except OSError:
            return Run(b"", None, Ended.NOT_STARTED)
        out.seek(0)
        return Run(out.read(), proc.returncode, None)


def run_and_classify(program_path, *args, timeout=TIMEOUT_S, env=None, launcher=()):
    """run_preset, then classify; the program is known by its file name."""
    program = Program.of(program_path)
    if program is None:
        raise ValueError("not preset-nvidia or preset-amd: %s" % program_path)
    run = run_preset(program_path, *args, timeout=timeout, env=env, launcher=launcher)
    return classify(program, args[0] if args else None, run.exit_code, run.output,
                    run.ended), run


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
    launcher = []
    if len(argv) > 2 and argv[1] == "--launcher":
        launcher, argv = [argv[2]], argv[:1] + argv[3:]
    if len(argv) < 3 or Program.of(argv[1]) is None:
        print(__doc__.strip().splitlines()[2].strip(), file=sys.stderr)
        return 2
    result, run = run_and_classify(argv[1], *argv[2:], launcher=launcher)
    if result.line is not None:
        for name, value in zip(FIELDS + ("message",), result.line):
            print("%s: %s" % (name, value))
    else:
        print("no result line")
    print("exit: %s" % ("none" if run.exit_code is None else run.exit_code))
    print("ended: %s" % result.ended.value)
    print("outcome: %s" % result.outcome.value)
    print("action: %s" % result.action.value)
    print("backup path: %s" % ("keep" if result.keep_backup_path else "forget"))
    # Scripts branch on this: 0 only when nothing is left to do about the run.
    return 0 if result.action is Action.DONE else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv))
