"""Starts preset-nvidia or preset-amd and reads its result line and exit code.

    python read_result.py <program.exe> <command> [arguments...]

prints the five fields and the exit code. Import it to use `run_preset` and
`parse_result_line` in a front-end of your own.
"""
import subprocess
import sys
import tempfile

# Longer than a run can take: a run waits up to 10 seconds for another run on the same
# backup path, and driver calls take a few seconds at most.
TIMEOUT_S = 60

FIELDS = ("result", "vendor", "supported", "changed")


class ResultLineError(ValueError):
    """The bytes are not one result line (a crashed run prints nothing)."""


def parse_result_line(data):
    """Splits the bytes a run printed into a dict of the five fields.

    The first four fields are split at ";"; the message is everything after ";message=",
    since a message may itself contain ";" (and "=")."""
    if not data.endswith(b"\r\n") or data.count(b"\n") != 1:
        raise ResultLineError("not exactly one CR LF line: %r" % data)
    text = data[:-2].decode("ascii")
    head, sep, message = text.partition(";message=")
    if not sep:
        raise ResultLineError("no message field: %r" % text)
    parts = head.split(";")
    if len(parts) != len(FIELDS):
        raise ResultLineError("expected four fields before the message: %r" % text)
    line = {}
    for name, part in zip(FIELDS, parts):
        key, eq, value = part.partition("=")
        if key != name or not eq:
            raise ResultLineError("expected %s=...: %r" % (name, part))
        line[name] = value
    for name in ("supported", "changed"):
        if not line[name].isdigit():
            raise ResultLineError("%s is not a count: %r" % (name, line[name]))
        line[name] = int(line[name])
    line["message"] = message
    return line


def run_preset(program, args, timeout=TIMEOUT_S, env=None):
    """Runs the program without a console window; returns (stdout bytes, exit code).

    Standard output goes to a temporary file and is read as bytes once the run ended.
    `env` is the whole environment of the run (None: this process's own); the programs
    read none, but the simulated drivers are configured through it."""
    flags = subprocess.CREATE_NO_WINDOW if sys.platform == "win32" else 0
    with tempfile.TemporaryFile() as out:
        proc = subprocess.run([str(program), *map(str, args)], stdin=subprocess.DEVNULL,
                              stdout=out, stderr=subprocess.DEVNULL, timeout=timeout,
                              creationflags=flags, env=env, check=False)
        out.seek(0)
        return out.read(), proc.returncode


def main(argv):
    if len(argv) < 3:
        print(__doc__.strip().splitlines()[2].strip(), file=sys.stderr)
        return 2
    data, code = run_preset(argv[1], argv[2:])
    try:
        line = parse_result_line(data)
    except ResultLineError as error:
        print("no result line (%s); exit %d" % (error, code))
        return 1
    for name in FIELDS + ("message",):
        print("%s: %s" % (name, line[name]))
    print("exit: %d" % code)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
