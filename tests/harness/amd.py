"""What every preset-amd end-to-end script and the campaign (scripts/campaign) share.

Each test gets its own directory holding a copy of preset-amd.exe (so a runtime placed
beside it is found there), the simulated runtime's state file and call log, and the backup.
The simulated "amdadlx64.dll" goes beside the program, into the prefix's system32, or
nowhere. Expected lines, file bytes and setting values are literals on purpose: the tests
compare against what a front-end sees, not against the product's own constants.
"""
import shutil

from . import wine  # noqa: E402

EXE = wine.BIN / "amd" / "preset-amd.exe"
SIM_DIR = wine.BIN / "sim" / "adlx"
DLL_NAME = "amdadlx64.dll"
SIM_CRASH_EXIT = 99
SIM_CONFIG_EXIT = 98  # the runtime refused its configuration

ALL_EXPORTS = {
    "ADLXQueryFullVersion", "ADLXQueryVersion", "ADLXInitializeWithCallerAdl",
    "ADLXInitializeWithIncompatibleDriver", "ADLXInitialize",
    "ADLXInitializeWithIncompatibleDriver2", "ADLXInitialize2", "ADLXTerminate",
}
VARIANT_MISSING = {
    "": set(),
    "no-incompatible2": {"ADLXInitializeWithIncompatibleDriver2"},
    "legacy": {"ADLXInitializeWithIncompatibleDriver2", "ADLXInitialize2"},
    "no-initialize2": {"ADLXInitialize2"},
    "no-caller-adl": {"ADLXInitializeWithCallerAdl"},
    "no-terminate": {"ADLXTerminate"},
}

GLOBALS = ["rsr", "afmf"]
PER_GPU = ["chill", "boost", "frtc", "sharpening", "mlaa", "aa-mode", "anisotropic",
           "tessellation-mode", "enhanced-sync", "vsync-mode", "fsr", "frame-generation"]
MODES = {"aa-mode", "tessellation-mode", "vsync-mode"}


def sim_dll(variant=""):
    return SIM_DIR / ("amdadlx64-%s.dll" % variant if variant else DLL_NAME)


def line(kind, supported, changed, message):
    return ("result=%s;vendor=AMD;supported=%d;changed=%d;message=%s\r\n"
            % (kind, supported, changed, message)).encode()


UNAVAILABLE = line("unsupported", 0, 0, "ADLX indisponivel ou nenhuma GPU AMD compativel")
NO_SETTING = line("unsupported", 0, 0, "Nenhum ajuste 3D AMD compativel foi encontrado")
DETECTED = line("ok", 1, 0, "GPU AMD detectada")
NOTHING = line("nothing", 0, 0, "Nenhum backup AMD para restaurar")


def applied(supported, changed):
    return line("ok", supported, changed, "Preset AMD aplicado e backup preservado")


def applied_partly(supported, changed):
    return line("error", supported, changed, "Preset AMD aplicado parcialmente; backup mantido")


def restored(count):
    return line("ok", count, count, "Configuracoes AMD originais restauradas")


def restore_incomplete(supported, changed):
    return line("error", supported, changed, "Restauracao AMD incompleta; backup mantido")


def default_state(gpus=2):
    """The simulated runtime's values before anything changed them: on, and modes at 3."""
    state = {name: 1 for name in GLOBALS}
    for gpu in range(gpus):
        for name in PER_GPU:
            state["gpu%d.%s" % (gpu, name)] = 3 if name in MODES else 1
    return state


def backup_bytes(entries):
    """The file preset-amd writes: header, then entries in byte order, CR LF line ends."""
    text = "format=1\r\nvendor=amd\r\n"
    for key in sorted(entries, key=lambda k: k.encode()):
        text += "%s=%s\r\n" % (key, entries[key])
    return text.encode()


def parse_backup(data):
    entries = {}
    for raw in data.decode().split("\r\n"):
        if "=" in raw:
            key, value = raw.split("=", 1)
            entries[key] = value
    return entries


def read_state(state_file, gpus=2):
    """The runtime's values: its state file over the defaults."""
    values = default_state(gpus)
    if state_file.exists():
        for raw in state_file.read_text().splitlines():
            key, value = raw.split("=", 1)
            values[key] = int(value)
    return values


class AmdCase(wine.WineCase):
    """One directory per test; no runtime anywhere unless the test places one."""

    maxDiff = None
    folder_prefix = "amd-e2e-"

    def setUp(self):
        super().setUp()
        self.addCleanup(wine.remove_dll, DLL_NAME)
        wine.remove_dll(DLL_NAME)
        self.app = self.dir / "app"
        self.app.mkdir()
        self.exe = self.app / "preset-amd.exe"
        shutil.copyfile(EXE, self.exe)
        self.log = self.dir / "adlx.log"
        self.state_file = self.dir / "state.txt"
        self.backup = self.dir / "backup.txt"

    def place(self, where, variant=""):
        """Puts the runtime beside the program ("app") or into system32."""
        if where == "app":
            shutil.copyfile(sim_dll(variant), self.app / DLL_NAME)
        elif where == "system32":
            wine.install_dll(sim_dll(variant), DLL_NAME)

    def run_tool(self, *args, gpus=2, ids="7,-2", env=None, cwd=None, stderr=None):
        sim = {
            "SIM_ADLX_GPUS": gpus,
            "SIM_ADLX_IDS": ids,
            "SIM_ADLX_LOG": wine.winpath(self.log),
            "SIM_ADLX_STATE": wine.winpath(self.state_file),
            "SIM_ADLX_WATCH": wine.winpath(self.backup),
        }
        sim.update(env or {})
        return wine.run(self.exe, list(args), env=sim, cwd=cwd or self.dir, stderr=stderr)

    def backup_arg(self):
        return wine.winpath(self.backup)

    def log_lines(self):
        if not self.log.exists():
            return []
        return self.log.read_text().splitlines()

    def state(self, gpus=2):
        return read_state(self.state_file, gpus)

    def assertResult(self, result, expected_line, expected_code):
        out, code = result
        self.assertEqual(out, expected_line)
        self.assertEqual(code, expected_code)

    def assertNothingLeaked(self):
        """Every run that initialised terminated with no object alive and no call the
        runtime refused as a misuse, and every load was followed by an unload."""
        lines = self.log_lines()
        for entry in lines:
            self.assertFalse(entry.startswith(("LEAK", "MISUSE", "CONFIG-ERROR")), entry)
        for entry in lines:
            if entry.startswith("ADLXTerminate"):
                self.assertTrue(entry.startswith("ADLXTerminate live=0 misuse=0 "), entry)
        self.assertEqual(lines.count("DLL attached"), lines.count("DLL detached"))

    def calls(self, name):
        return [entry for entry in self.log_lines() if entry.split(" ", 1)[0] == name]
