"""Scenarios: a simulated driver set up, files put at the backup path, then a sequence of
runs of one program, with what other programs, the user or an attacker do between them.

A scenario is data: `cases.py` lists them, `describe` prints one as commands, and
`playing.execute` plays it on a host in a folder of its own. The rows of the documents read the runs that
carry their label; every run, labelled or not, is also held to what holds for all runs:

- it prints one line that the integration guide's table of every line lists for its
  program, command and exit code (or it was meant to end without one);
- a run that changes nothing by its answer (exit 2, 3, 10, 20, a "nothing", a status, an
  exit 21 or 22 with changed 0) leaves the driver as it found it, and one that keeps the
  backup (exit 2, 3, 10, 20, 22, a "nothing") leaves what stands at the path byte for byte;
- an apply that answered 0 left the backup under exactly the name given;
- no run leaves a <backup>.tmp of its own behind.

At the end, a scenario marked `round_trip` has the driver back where it started and no
backup; the victims an attacker's links point at are as they were planted.
"""
from dataclasses import dataclass, field

from .places import DEFAULT_PLACE, Place

# -- steps ---------------------------------------------------------------------------------------

@dataclass
class Run:
    """One run of the scenario's program. "{backup}" in `args` is the backup path as the
    command line gives it. `label`: what the documents' rows read of this run. `exit`: the
    exit code a set-up run must end with. `crash`: it ends without a line on purpose.
    `client`: started through clients/preset_client.py, with its time limit `timeout`.
    `missing`: the program file named is not there. `unelevated`: at the Basic User trust
    level (runas), never elevated."""
    args: tuple
    label: str = None
    env: dict = field(default_factory=dict)
    exit: int = None
    crash: bool = False
    client: bool = False
    timeout: float = 60
    missing: bool = False
    unelevated: bool = False


def run(*args, **kwargs):
    return Run(tuple(args), **kwargs)


@dataclass
class Act:
    """Something done between runs (see Workspace.act_*)."""
    name: str
    params: tuple = ()


def act(name, *params):
    return Act(name, tuple(params))


@dataclass
class Scenario:
    name: str
    program: str                 # "nvidia" or "amd"
    steps: list
    place: Place = None          # the backup path; default <work>\b\backup.txt
    library: object = ""         # the simulated driver's variant; None: none installed
    gpus: int = 2                # AMD: GPUs in the list, and their ids
    ids: str = "7,-2"
    state: object = None         # the driver's values at the start (None: the usual)
    env: dict = field(default_factory=dict)  # SIM_* for every run
    needs: tuple = ()
    round_trip: bool = False
    keeps_written: bool = False  # what a "write" step put at the path is there at the end

    def all_needs(self):
        needs = set(self.needs) | set((self.place or DEFAULT_PLACE).needs)
        if self.program == "nvidia":
            needs.add("nvidia-library" if self.library is not None else "nvidia-absent")
        elif self.library is None:
            needs.add("no-system-runtime")
        for one in flat_steps(self.steps):
            if isinstance(one, Run) and one.unelevated:
                needs.add("runas")
            if isinstance(one, Act):
                words = tuple(x for x in one.params[:2] if isinstance(x, str))
                needs.update(ACT_NEEDS.get((one.name,) + words, ()))
                needs.update(ACT_NEEDS.get((one.name,), ()))
        return needs

    def waits(self):
        """Whether playing it is mostly waiting: for another run's lock, a holder, or a
        client's time limit."""
        return any(isinstance(one, Act) and one.name in ("hold-lock", "hold")
                   or isinstance(one, Run) and one.timeout < 60 for one in flat_steps(self.steps))


def flat_steps(steps):
    """Every step, the runs of a "together" step included."""
    for step in steps:
        yield step
        if isinstance(step, Act) and step.name == "together":
            yield from step.params


ACT_NEEDS = {
    ("hold",): ["holder"],
    ("shorten",): ["short-names"],
    ("plant", "tmp", "symlink"): ["symlinks", "elevated"],
    ("plant", "backup", "symlink"): ["symlinks", "elevated"],
    ("plant", "folder", "symlink"): ["symlinks", "elevated"],
    ("plant", "tmp", "hard link"): ["elevated"],
    ("plant", "backup", "hard link"): ["elevated"],
    ("plant", "folder", "junction"): ["junction", "elevated"],
    ("plant", "folder", "mount point"): ["mount-point", "elevated"],
    ("write",): [],
}




def describe(scenario):
    """The scenario as commands, for --list."""
    s = scenario
    exe = "preset-nvidia.exe" if s.program == "nvidia" else "<work>\\app\\preset-amd.exe"
    out = []
    if s.program == "nvidia":
        out.append("copy sim\\nvapi\\%s %%SystemRoot%%\\System32\\nvapi64.dll"
                   % ("nvapi64-%s.dll" % s.library if s.library else "nvapi64.dll")
                   if s.library is not None else "del %SystemRoot%\\System32\\nvapi64.dll")
        env = {"SIM_NVAPI_STATE": "<work>\\state.txt"}
    else:
        out.append("copy preset-amd.exe <work>\\app\\" + (
            " & copy sim\\adlx\\%s <work>\\app\\amdadlx64.dll"
            % ("amdadlx64-%s.dll" % s.library if s.library else "amdadlx64.dll")
            if s.library is not None else ""))
        env = {"SIM_ADLX_GPUS": s.gpus, "SIM_ADLX_IDS": s.ids,
               "SIM_ADLX_STATE": "<work>\\state.txt"}
    env.update(s.env)
    out.append("set " + " ".join("%s=%s" % kv for kv in env.items()))
    place = s.place or DEFAULT_PLACE
    for step in s.steps:
        for one in (list(step.params) if isinstance(step, Act) and step.name == "together"
                    else [step]):
            if isinstance(one, Run):
                args = " ".join('"%s"' % place.text if a == "{backup}" else
                                ('""' if a == "" else a) for a in one.args)
                prefix = "runas /trustlevel:0x20000 " if one.unelevated else ""
                extra = "".join("%s=%s " % kv for kv in one.env.items())
                out.append("%s%s%s %s%s" % (extra and "set " + extra + "& ", prefix,
                                            exe, args, "   [%s]" % one.label if one.label else ""))
            else:
                out.append("(%s %s)" % (one.name, " ".join(map(str, one.params))))
    return out
