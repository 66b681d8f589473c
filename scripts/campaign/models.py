"""What the two vendors' models (nvidia_model.py, amd_model.py) hold a run to alike."""


def changed_settings(before, after):
    """The settings whose value differs between two driver states, in order."""
    return [k for k in sorted(set(before) | set(after)) if before.get(k) != after.get(k)]


def restore_backup_problems(model, state, backup, describe_difference, unreached=()):
    """What any restore is held to about the backup file, `model` as before the run and
    `state` and `backup` as the run left them: the file is never rewritten, and given up only
    once every recorded original is back (`unreached`: recorded keys the run could not
    reach, which have not)."""
    problems = []
    if backup is not None and backup != model.backup:
        problems.append("restore rewrote the backup")
    if backup is None and model.backup is not None and unreached:
        problems.append("restore removed the backup although %s could not be reached" %
                        ", ".join(unreached))
    if backup is None and model.backup is not None and state != model.after_restore():
        problems.append("restore removed the backup before every setting was back: %s" %
                        describe_difference(model.after_restore(), state))
    return problems
