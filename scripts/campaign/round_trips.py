"""The random round trips: seeded sequences of applies, restores (some with a fault) and the
user's own changes, each run against the program and against the vendor's model of the
driver and the backup, then a final restore. One runner serves every vendor."""
from .runs import WORK, Broken, check, parse_result
from .steps import Apply, UserChange, describe


def run_step(vendor, world, model, step):
    """Runs one step and checks it against the model, which then follows what happened."""
    if isinstance(step, UserChange):
        world.user_change(step.setting, step.value)
        model.user_change(step.setting, step.value)
        return
    before = world.snapshot()
    out, code = world.run(step.args(), faults=step.fault)
    if step.fault and world.fault_fired(step.fault):
        parse_result(out, code,
                     killed_allowed=step.fault.endswith("=" + vendor.killing_outcome))
        state, backup = world.state_now(), world.backup_now()
        problems = (model.faulty_apply_problems(step.preset, state, backup)
                    if isinstance(step, Apply) else
                    model.faulty_restore_problems(state, backup, step.fault))
        check(not problems, "; ".join(problems))
        if not world.changed_anything():
            check(world.snapshot() == before,
                  "a run that changed nothing left the driver state changed")
        model.state, model.backup = state, backup  # what actually happened, now checked
    else:
        expected = model.apply(step.preset) if isinstance(step, Apply) else model.restore()
        kind, supported, changed = parse_result(out, code, killed_allowed=False)
        check((code, kind, supported, changed) == expected,
              "result exit=%d %s supported=%d changed=%d, expected exit=%d %s "
              "supported=%d changed=%d" % ((code, kind, supported, changed) + expected))
        check(world.state_now() == model.state, "driver state: %s" %
              vendor.describe_difference(model.state, world.state_now()))
        check(world.backup_now() == model.backup, "backup holds %r, expected %r" % (
            world.backup_now(), model.backup))
    check(not world.tmp.exists(), "a temporary backup file is left")


def run_sequence(vendor, directory, machine, steps):
    """Runs the steps and a final restore; raises Broken at the first wrong step."""
    world = vendor.World(directory, machine)
    model = vendor.Model(machine, world.state_now())
    for number, step in enumerate(steps, 1):
        try:
            run_step(vendor, world, model, step)
        except Broken as error:
            raise Broken("step %d (%s): %s" % (number, describe(step, vendor), error))
    try:
        expected = model.after_restore()
        world.restore_until_done()
        world.check_clean(expected_values=expected)
    except Broken as error:
        raise Broken("final restore: " + str(error))


def shrink(vendor, directory, machine, steps):
    """The shortest sequence (dropping steps one at a time) that still breaks."""
    current = list(steps)
    progress = True
    while progress:
        progress = False
        for i in range(len(current)):
            candidate = current[:i] + current[i + 1:]
            try:
                run_sequence(vendor, directory, machine, candidate)
            except Broken:
                current = candidate
                progress = True
                break
    return current


def run_random(vendor, base_seed, count, table, breaks, only_seed=None):
    row = table.row("%s: random round trips" % vendor.name)
    directory = WORK / vendor.name / "random"
    machines = vendor.machines(full=True)
    seeds = [only_seed] if only_seed is not None else range(base_seed, base_seed + count)
    for seed in seeds:
        machine, steps = vendor.generate(seed, machines)
        row.cases += 1
        try:
            run_sequence(vendor, directory, machine, steps)
        except Broken as error:
            row.broken += 1
            smallest = shrink(vendor, directory, machine, steps)
            try:
                run_sequence(vendor, directory, machine, smallest)
                reason = str(error)
            except Broken as small_error:
                reason = str(small_error)
            breaks.append("%s random seed %d, machine %r, shortest sequence: %s\n    %s" % (
                vendor.name, seed, machine.name,
                "; ".join(describe(s, vendor) for s in smallest) or "(none)",
                reason))
        if only_seed is not None:
            print("%s seed %d, machine %r:" % (vendor.name, seed, machine.name))
            for number, step in enumerate(steps, 1):
                print("  %d. %s" % (number, describe(step, vendor)))
