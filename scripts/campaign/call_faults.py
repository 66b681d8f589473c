"""Every driver call fails, or the process is killed, at call k: for each command of a
vendor on each of its machines, one case per call the command makes without faults."""
from .runs import KILLED, WORK, Broken, NotStarted, check, parse_result


def command_args(command):
    if command.startswith("apply"):
        return ["apply", command.split()[1], "BACKUP"]
    return ["restore", "BACKUP"]


def prepare(vendor, directory, machine, command):
    """A fresh world ready for `command`; a restore is preceded by a clean apply extremo."""
    world = vendor.World(directory, machine)
    world.first = world.snapshot()  # the state before the first apply
    if command.startswith("restore"):
        out, code = world.run(["apply", "extremo", "BACKUP"])
        check(parse_result(out, code, False)[0] in ("ok", "error"), "setting-up apply failed")
        check(world.backup.exists(), "setting-up apply left no backup")
    return world


def call_points(world, short, most):
    """The k to try: every call in full mode; in short mode the first and last call of
    each run of equal function names (the edges where one step hands over to the next)."""
    names = [l.split(" ", 1)[0] for l in world.calls()]
    if not short:
        return list(range(1, len(names) + 1))
    points = set()
    for i, name in enumerate(names):
        if i == 0 or names[i - 1] != name or i == len(names) - 1 or names[i + 1] != name:
            points.add(i + 1)
    points = sorted(points)
    if len(points) > most:
        # A long run of interleaved calls (one setting after another) has edges everywhere;
        # an even sample of them, with the last call, keeps the short campaign short.
        step = -(-len(points) // most)
        points = sorted(set(points[::step]) | {points[-1]})
    return points


def fault_case(vendor, directory, machine, command, rule, outcome):
    """One case; raises Broken with the reason when an invariant does not hold."""
    world = prepare(vendor, directory, machine, command)
    before_run = world.snapshot()
    out, code = world.run(command_args(command), faults=rule)
    check(world.fault_fired(rule), "the fault %s did not fire (calls differ from the count)" % rule)
    result = parse_result(out, code, killed_allowed=(outcome == "exit"))
    if outcome == "exit":
        check(code == KILLED, "the process was not killed (exit %d)" % code)
    if not world.changed_anything():
        check(world.snapshot() == before_run,
              "a run that changed nothing left the driver state changed")
    if result and result[0] == "ok" and command.startswith("restore"):
        check(world.snapshot() == world.first and not world.backup.exists(),
              "restore said ok but the state or the backup is not back")
    if result and result[0] == "nothing":
        check(not command.startswith("restore"), "restore said nothing with a backup there")
    world.restore_until_done()
    world.check_clean(expected_bytes=world.first)
    return world


def run_fault_campaigns(vendor, short, table, breaks):
    root = WORK / vendor.name / "faults"
    for command in vendor.commands:
        rows = {}
        for outcome, title in ((vendor.failing_status, "every driver call fails"),
                               ("exit", "process killed at call k")):
            rows[outcome] = table.row("%s: %s: %s" % (vendor.name, title, command))
        for machine in vendor.machines(full=not short):
            directory = root / "case"
            try:
                baseline = prepare(vendor, directory, machine, command)
                out, code = baseline.run(command_args(command))
                parse_result(out, code, killed_allowed=False)
            except Broken as error:
                breaks.append("%s / %s / no fault: %s" % (machine.name, command, error))
                continue
            points = call_points(baseline, short, vendor.short_points)
            calls = baseline.calls()
            for outcome, row in rows.items():
                for k in points:
                    row.cases += 1
                    rule = vendor.fault_rule(calls, k, outcome)
                    label = "%s / %s / machine %r / fault %s" % (
                        vendor.name, command, machine.name, rule)
                    try:
                        fault_case(vendor, directory, machine, command, rule, outcome)
                    except Broken as error:
                        row.broken += 1
                        breaks.append(label + ": " + str(error))
                    except NotStarted:
                        raise
                    except Exception as error:  # a harness failure still counts, loudly
                        row.broken += 1
                        breaks.append(label + ": campaign error " + repr(error))
