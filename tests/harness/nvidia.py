"""What every preset-nvidia end-to-end script and the campaign (scripts/campaign) share.

The helpers give each test its own directory (state file, call log, backup), put one build
of the simulated "nvapi64.dll" into the prefix's system32 (or take it out), run the real
preset-nvidia.exe under Wine and read back the exact bytes it left behind. Expected result
lines, file bytes and table values are written out here as literals on purpose: the tests
compare against what a front-end would see, not against the product's own constants.
"""
import re

from . import wine  # noqa: E402

EXE = wine.BIN / "nvidia" / "preset-nvidia.exe"
SIM_DIR = wine.BIN / "sim" / "nvapi"
PROBE = SIM_DIR / "nvapi-sim-probe.exe"
VARIANTS = ["", "nohooks", "onehook", "nounloadarg", "initfail"]

# Exit codes of the "exit" fault and of a refused configuration of the simulated library.
SIM_FAULT_EXIT = 99
SIM_CONFIG_EXIT = 98


def sim_dll(variant=""):
    return SIM_DIR / ("nvapi64-%s.dll" % variant if variant else "nvapi64.dll")


# The 13 managed settings in table order: (id, preset value, lowest level).
TABLE = [
    (0x1057EB71, 0x00000001, 1),
    (0x0064B541, 0x00000001, 1),
    (0x00CE2691, 0x00000014, 1),
    (0x00198FFF, 0x00000001, 1),
    (0x00AC8497, 0xFFFFFFFF, 1),
    (0x10835002, 0x00000000, 1),
    (0x107EFC5B, 0x00000000, 1),
    (0x10D2BB16, 0x00000000, 1),
    (0x00A879CF, 0x08416747, 2),
    (0x20FDD1F9, 0x00000000, 2),
    (0x00E73211, 0x00000001, 3),
    (0x0084CD70, 0x00000001, 3),
    (0x002ECAF2, 0x00000001, 3),
]
GAMER_IDS = [row[0] for row in TABLE[:8]]
ALL_IDS = [row[0] for row in TABLE]
PRESET_VALUE = {row[0]: row[1] for row in TABLE}

# A base profile before any apply: every value differs from its preset value, row 2
# (0x0064B541) has no value of its own, and one setting the tool never manages stands by.
FOREIGN_ID = 0x10F9DC81
ORIGINAL = {
    0x1057EB71: 0x00000000,
    0x00CE2691: 0x0000003C,
    0x00198FFF: 0x00000000,
    0x00AC8497: 0x00000002,
    0x10835002: 0x00000001,
    0x107EFC5B: 0x00000001,
    0x10D2BB16: 0x00000005,
    0x00A879CF: 0x00000000,
    0x20FDD1F9: 0x00000001,
    0x00E73211: 0x00000000,
    0x0084CD70: 0x00000000,
    0x002ECAF2: 0x00000000,
    FOREIGN_ID: 0x00000011,
}
ALL_PRESENT = {**ORIGINAL, 0x0064B541: 0x00000000}

# The backup that "apply gamer" records from ORIGINAL, byte for byte.
GAMER_BACKUP = (
    b"format=1\r\n"
    b"vendor=nvidia\r\n"
    b"setting.0x00198FFF=value:0x00000000\r\n"
    b"setting.0x0064B541=missing\r\n"
    b"setting.0x00AC8497=value:0x00000002\r\n"
    b"setting.0x00CE2691=value:0x0000003C\r\n"
    b"setting.0x1057EB71=value:0x00000000\r\n"
    b"setting.0x107EFC5B=value:0x00000001\r\n"
    b"setting.0x10835002=value:0x00000001\r\n"
    b"setting.0x10D2BB16=value:0x00000005\r\n"
)

# The same after a later "apply extremo": the gamer entries stay, rows 9 to 13 join.
EXTREMO_AFTER_GAMER_BACKUP = (
    b"format=1\r\n"
    b"vendor=nvidia\r\n"
    b"setting.0x00198FFF=value:0x00000000\r\n"
    b"setting.0x002ECAF2=value:0x00000000\r\n"
    b"setting.0x0064B541=missing\r\n"
    b"setting.0x0084CD70=value:0x00000000\r\n"
    b"setting.0x00A879CF=value:0x00000000\r\n"
    b"setting.0x00AC8497=value:0x00000002\r\n"
    b"setting.0x00CE2691=value:0x0000003C\r\n"
    b"setting.0x00E73211=value:0x00000000\r\n"
    b"setting.0x1057EB71=value:0x00000000\r\n"
    b"setting.0x107EFC5B=value:0x00000001\r\n"
    b"setting.0x10835002=value:0x00000001\r\n"
    b"setting.0x10D2BB16=value:0x00000005\r\n"
    b"setting.0x20FDD1F9=value:0x00000001\r\n"
)

UNSUPPORTED = (b"result=unsupported;vendor=NVIDIA;supported=0;changed=0;"
               b"message=NVAPI indisponivel ou nenhuma GPU NVIDIA compativel\r\n")
DETECTED = b"result=ok;vendor=NVIDIA;supported=13;changed=0;message=GPU NVIDIA detectada\r\n"
NOTHING = (b"result=nothing;vendor=NVIDIA;supported=0;changed=0;"
           b"message=Nenhum backup NVIDIA para restaurar\r\n")


def applied(supported, changed):
    return (b"result=ok;vendor=NVIDIA;supported=%d;changed=%d;"
            b"message=Preset NVIDIA aplicado e backup preservado\r\n" % (supported, changed))


def applied_partly(supported, changed):
    return (b"result=error;vendor=NVIDIA;supported=%d;changed=%d;"
            b"message=Preset NVIDIA aplicado parcialmente\r\n" % (supported, changed))


def backup_failed(supported):
    return (b"result=error;vendor=NVIDIA;supported=%d;changed=0;"
            b"message=Nao foi possivel salvar o backup do perfil NVIDIA\r\n" % supported)


def restored(count):
    return (b"result=ok;vendor=NVIDIA;supported=%d;changed=%d;"
            b"message=Configuracoes NVIDIA originais restauradas\r\n" % (count, count))


def restore_incomplete(supported, changed):
    return (b"result=error;vendor=NVIDIA;supported=%d;changed=%d;"
            b"message=Restauracao NVIDIA incompleta; backup mantido\r\n" % (supported, changed))


# Interface ids by the name the simulated library logs.
ID_OF = {
    "NvAPI_Initialize": 0x0150E828,
    "NvAPI_DRS_CreateSession": 0x0694D52E,
    "NvAPI_DRS_LoadSettings": 0x375DBD6B,
    "NvAPI_DRS_GetBaseProfile": 0xDA8466A0,
    "NvAPI_DRS_GetSetting": 0x73BF8338,
    "NvAPI_DRS_SetSetting": 0x577DD202,
    "NvAPI_DRS_DeleteProfileSetting": 0xE4A26362,
    "NvAPI_DRS_SaveSettings": 0xFCBC7E14,
    "NvAPI_DRS_DestroySession": 0xDAD9CFF8,
    "NvAPI_Unload": 0xD22BDD7E,
    "UnloadWithArgument": 0xD7C61344,
}

OPEN = ["NvAPI_Initialize", "NvAPI_DRS_CreateSession", "NvAPI_DRS_LoadSettings",
        "NvAPI_DRS_GetBaseProfile"]
CLOSE = ["NvAPI_DRS_DestroySession", "UnloadWithArgument"]
SESSION = "session=0x5E550001"
PROFILE = "session=0x5E550001 profile=0xBA5E0001"


def state_bytes(settings, types=None):
    """The state file as the simulated library writes it: sorted by id, CR LF."""
    types = types or {}
    lines = []
    for sid in sorted(settings):
        line = "0x%08X=0x%08X" % (sid, settings[sid])
        if types.get(sid):
            line += " type=%d" % types[sid]
        lines.append(line + "\r\n")
    return "".join(lines).encode("ascii")


def parse_state(data):
    settings = {}
    for line in data.decode("ascii").splitlines():
        m = re.fullmatch(r"0x([0-9A-F]{8})=0x([0-9A-F]{8})( type=\d+)?", line)
        if not m:
            raise AssertionError("unexpected state line %r" % line)
        settings[int(m.group(1), 16)] = int(m.group(2), 16)
    return settings


def get_line(sid, result):
    return "NvAPI_DRS_GetSetting %s id=0x%08X -> %s" % (PROFILE, sid, result)


def set_line(sid, value, result="0"):
    return "NvAPI_DRS_SetSetting %s id=0x%08X type=0 value=0x%08X -> %s" % (
        PROFILE, sid, value, result)


def delete_line(sid, result="0"):
    return "NvAPI_DRS_DeleteProfileSetting %s id=0x%08X -> %s" % (PROFILE, sid, result)


class SimulatedNvapiCase(wine.WineCase):
    """A test with its own folder, where the simulated library keeps its state file and
    writes its call log."""

    def setUp(self):
        super().setUp()
        self.state = self.dir / "state.txt"
        self.log = self.dir / "calls.log"

    def sim_env(self, faults=None, types=None, env=None, state=True):
        """The simulated library's variables for a run with a fresh call log: the state file
        (none when `state` is false), the fault rules and the setting types where given,
        then `env`."""
        if self.log.exists():
            self.log.unlink()
        variables = {"SIM_NVAPI_LOG": wine.winpath(self.log)}
        if state:
            variables["SIM_NVAPI_STATE"] = wine.winpath(self.state)
        if faults is not None:
            variables["SIM_NVAPI_FAULTS"] = faults
        if types is not None:
            variables["SIM_NVAPI_SETTING_TYPE"] = types
        variables.update(env or {})
        return variables


class NvidiaCase(SimulatedNvapiCase):
    """A test with its own directory and one build of the library in system32.

    `variant` names the build ("" for the full one); None runs without any library."""

    variant = ""
    needs = EXE
    folder_prefix = "nvidia-e2e-"

    def setUp(self):
        super().setUp()
        self.backup = self.dir / "backup.txt"
        self.use_library(self.variant)
        self.addCleanup(wine.remove_dll, "nvapi64.dll")

    def use_library(self, variant):
        if variant is None:
            wine.remove_dll("nvapi64.dll")
        else:
            wine.install_dll(sim_dll(variant), "nvapi64.dll")

    def write_state(self, settings, types=None):
        self.state.write_bytes(state_bytes(settings, types))

    def run_tool(self, *args, faults=None, types=None, env=None, cwd=None):
        """Runs preset-nvidia with a fresh call log; returns (stdout bytes, exit code)."""
        result = wine.run(EXE, [str(a) for a in args], env=self.sim_env(faults, types, env),
                          cwd=cwd)
        # The library refuses a misuse with a status the tool may take for an ordinary
        # failure; its log flags it, and no run of the tool may show one.
        self.assertEqual([l for l in self.log_lines() if l.startswith("MISUSE")], [])
        return result

    def log_lines(self):
        """Every line of the last run's log; empty when the library was never reached."""
        if not self.log.exists():
            return []
        data = self.log.read_bytes()
        self.assertTrue(data.endswith(b"\r\n"), "log lines end in CR LF")
        return data.decode("ascii").split("\r\n")[:-1]

    def calls(self):
        """The driver calls of the last run, without hook lines and library notes."""
        return [l for l in self.log_lines() if not l.startswith(("hook.", "sim."))]

    def call_names(self):
        return [l.split(" ", 1)[0] for l in self.calls()]

    def assertResult(self, result, line, code):
        self.assertEqual(result, (line, code))

    def assertState(self, settings):
        self.assertEqual(parse_state(self.state.read_bytes()), settings)
