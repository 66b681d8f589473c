"""preset-amd under Wine against the simulated ADLX runtime: the round trip a front-end
drives, where the runtime is found (and where a library it loads by bare name is not),
what happens without it, the command line; and the built products: the program imports
only system DLLs, every variant of the runtime exports exactly its set of entries."""
import re
import shutil
import subprocess
import unittest

from harness import amd
from harness.amd import (ALL_EXPORTS, DETECTED, EXE, NOTHING, UNAVAILABLE, VARIANT_MISSING,
                         AmdCase, applied, backup_bytes, default_state, line, restored, sim_dll)
from harness import wine

GAMER_KEYS = ["chill", "boost", "frtc", "sharpening", "mlaa", "aa-mode", "anisotropic",
              "tessellation-mode", "vsync-mode", "fsr", "frame-generation"]
IDS = {0: "7", 1: "-2"}


def original_entries(keys_per_gpu):
    entries = {"global.rsr": "1", "global.afmf": "1"}
    for gpu_id in IDS.values():
        for name in keys_per_gpu:
            entries["gpu.%s.%s" % (gpu_id, name)] = "3" if name in amd.MODES else "1"
    return entries


def key_of(ref):
    """The backup key for the runtime's setting ref ("rsr", "gpu1.chill")."""
    if ref in amd.GLOBALS:
        return "global." + ref
    gpu, name = ref.split(".", 1)
    return "gpu.%s.%s" % (IDS[int(gpu[3:])], name)


class RoundTrip(AmdCase):
    def setUp(self):
        super().setUp()
        self.place("app")

    def assertEachChangeFollowsItsBackup(self):
        """Before every write, the backup on disk already holds that setting's original,
        and the file only ever grows: earlier entries are never dropped or changed."""
        watched = None
        history = []
        originals = default_state()
        writes = 0
        for entry in self.log_lines():
            if entry.startswith("watch "):
                watched = entry[len("watch "):].replace("\\r", "\r").replace("\\n", "\n")
                history.append(amd.parse_backup(watched.encode()))
            match = re.match(r"(SetEnabled|SetMode) (\S+)#\d+ (-?\d+) -> 0$", entry)
            if match:
                writes += 1
                key = key_of(match.group(2))
                self.assertIsNotNone(watched, entry)
                self.assertIn("\r\n%s=%s\r\n" % (key, originals[match.group(2)]), watched, entry)
        for before, after in zip(history, history[1:]):
            for key, value in before.items():
                self.assertEqual(after.get(key), value)
        return writes

    def test_gamer_then_extremo_then_restore(self):
        before = self.state()
        self.assertResult(self.run_tool("apply", "gamer", self.backup_arg()),
                          applied(24, 24), 0)
        self.assertEqual(self.backup.read_bytes(), backup_bytes(original_entries(GAMER_KEYS)))
        state = self.state()
        for gpu in (0, 1):
            self.assertEqual(state["gpu%d.vsync-mode" % gpu], 1)
            self.assertEqual(state["gpu%d.enhanced-sync" % gpu], 1)
            for name in GAMER_KEYS[:-3] + ["fsr", "frame-generation"]:
                self.assertEqual(state["gpu%d.%s" % (gpu, name)], 0, name)
        self.assertEqual((state["rsr"], state["afmf"]), (0, 0))
        self.assertEqual(self.assertEachChangeFollowsItsBackup(), 24)

        self.assertResult(self.run_tool("apply", "extremo", self.backup_arg()),
                          applied(26, 4), 0)
        self.assertEqual(self.backup.read_bytes(),
                         backup_bytes(original_entries(GAMER_KEYS + ["enhanced-sync"])))
        state = self.state()
        for gpu in (0, 1):
            self.assertEqual(state["gpu%d.vsync-mode" % gpu], 0)
            self.assertEqual(state["gpu%d.enhanced-sync" % gpu], 0)
        self.assertEqual(self.assertEachChangeFollowsItsBackup(), 28)

        self.assertResult(self.run_tool("restore", self.backup_arg()), restored(26), 0)
        self.assertEqual(self.state(), before)
        self.assertFalse(self.backup.exists())
        self.assertNothingLeaked()
        self.assertEqual(len(self.calls("ADLXInitialize2")), 3)
        self.assertEqual(len(self.calls("ADLXTerminate")), 3)

    def test_terminate_comes_before_the_line(self):
        marker = b"[ADLXTerminate]\n"
        env = {"SIM_ADLX_MARK_STDOUT": "1"}
        self.assertResult(self.run_tool("status", env=env), marker + DETECTED, 0)
        self.assertResult(self.run_tool("apply", "competitivo", self.backup_arg(), env=env),
                          marker + applied(26, 26), 0)
        self.assertResult(self.run_tool("restore", self.backup_arg(), env=env),
                          marker + restored(26), 0)
        self.assertResult(self.run_tool("status", env=env, gpus=0), marker + UNAVAILABLE, 10)
        self.assertNothingLeaked()

    def test_each_run_releases_everything_before_terminate(self):
        self.run_tool("apply", "gamer", self.backup_arg())
        lines = self.log_lines()
        terminate = next(i for i, e in enumerate(lines) if e.startswith("ADLXTerminate"))
        made = [e.rsplit(" ", 1)[1] for e in lines[:terminate]
                if re.search(r" -> -?\d+ \S+#\d+$", e)]
        released = [e.split(" ")[1] for e in lines[:terminate] if e.startswith("Release ")]
        self.assertEqual(sorted(made), sorted(released))
        self.assertEqual(len(made), 6 + 2 * (1 + 11))
        self.assertEqual(lines[terminate + 1:], ["DLL detached"])

    def test_applying_again_writes_nothing(self):
        self.run_tool("apply", "gamer", self.backup_arg())
        first = self.backup.read_bytes()
        self.log.unlink()
        self.assertResult(self.run_tool("apply", "gamer", self.backup_arg()), applied(24, 0), 0)
        self.assertEqual(self.backup.read_bytes(), first)
        self.assertEqual(self.calls("SetEnabled") + self.calls("SetMode"), [])

    def test_status_counts_one_for_two_gpus(self):
        self.assertResult(self.run_tool("status"), DETECTED, 0)
        self.assertEqual(self.log_lines(), [
            "DLL attached",
            "ADLXQueryFullVersion -> 0",
            "ADLXQueryVersion -> 0",
            "ADLXInitialize2 0x000100050000007C -> 0",
            "GetGPUs -> 0 gpulist#1",
            "Empty gpulist#1 -> 0",
            "Get3DSettingsServices -> 0 services#2",
            "Release services#2 -> 0",
            "Release gpulist#1 -> 0",
            "ADLXTerminate live=0 misuse=0 -> 0",
            "DLL detached",
        ])

    def test_foreign_entries_outlive_the_restore(self):
        self.backup.write_bytes(b"format=1\r\nvendor=nvidia\r\nsetting.0x1057EB71=missing\r\n")
        self.assertResult(self.run_tool("apply", "gamer", self.backup_arg()), applied(24, 24), 0)
        entries = original_entries(GAMER_KEYS)
        entries["setting.0x1057EB71"] = "missing"
        self.assertEqual(self.backup.read_bytes(), backup_bytes(entries))
        self.assertResult(self.run_tool("restore", self.backup_arg()), restored(24), 0)
        self.assertEqual(self.backup.read_bytes(),
                         b"format=1\r\nvendor=amd\r\nsetting.0x1057EB71=missing\r\n")

    def test_backup_in_a_new_directory_with_a_relative_path(self):
        self.assertResult(self.run_tool("apply", "gamer", "sub\\dir\\b.txt"), applied(24, 24), 0)
        self.assertTrue((self.dir / "sub" / "dir" / "b.txt").exists())
        self.assertResult(self.run_tool("RESTORE", "sub\\dir\\b.txt"), restored(24), 0)
        self.assertFalse((self.dir / "sub" / "dir" / "b.txt").exists())


class WhereTheRuntimeIs(AmdCase):
    def test_beside_the_program_and_in_system32(self):
        for where in ("app", "system32"):
            with self.subTest(where=where):
                self.place(where)
                self.assertResult(self.run_tool("status"), DETECTED, 0)
                (self.app / amd.DLL_NAME).unlink(missing_ok=True)
                wine.remove_dll(amd.DLL_NAME)

    def test_a_library_the_runtime_loads_by_bare_name_is_not_taken_from_cwd_or_path(self):
        self.place("app")
        for where in ("cwd", "path"):
            with self.subTest(where=where):
                work, env, marker = wine.plant_library(self.dir / where, where)
                env["SIM_ADLX_LOAD_BY_NAME"] = "planted.dll"
                self.log.unlink(missing_ok=True)
                self.assertResult(self.run_tool("status", env=env, cwd=work), DETECTED, 0)
                self.assertEqual(self.calls("LOAD-BY-NAME"),
                                 ["LOAD-BY-NAME planted.dll -> error 126"])
                self.assertFalse(marker.exists())

    def test_without_any_runtime(self):
        self.backup.write_bytes(b"format=1\r\nvendor=amd\r\nglobal.rsr=1\r\n")
        self.assertResult(self.run_tool("status"), UNAVAILABLE, 10)
        self.assertResult(self.run_tool("apply", "gamer", self.backup_arg()), UNAVAILABLE, 10)
        self.assertResult(self.run_tool("restore", self.backup_arg()), UNAVAILABLE, 10)
        self.assertEqual(self.backup.read_bytes(), b"format=1\r\nvendor=amd\r\nglobal.rsr=1\r\n")
        self.backup.unlink()
        self.assertResult(self.run_tool("apply", "extremo", self.backup_arg()), UNAVAILABLE, 10)
        self.assertFalse(self.backup.exists())

    def test_restore_without_backup_does_not_load_the_runtime(self):
        self.place("app")
        self.assertResult(self.run_tool("restore", self.backup_arg()), NOTHING, 0)
        self.assertResult(self.run_tool("restore", wine.winpath(self.dir / "no" / "x.txt")),
                          NOTHING, 0)
        self.assertEqual(self.log_lines(), [])


class CommandLine(AmdCase):
    def setUp(self):
        super().setUp()
        self.place("app")

    def test_errors_never_reach_the_runtime(self):
        cases = [
            ([], line("error", 0, 0, "Comando ausente"), 2),
            ([""], line("error", 0, 0, "Argumentos invalidos"), 2),
            (["apply", "gamer"], line("error", 0, 0, "Argumentos invalidos"), 2),
            (["apply", "gamer", ""], line("error", 0, 0, "Argumentos invalidos"), 2),
            (["restore"], line("error", 0, 0, "Argumentos invalidos"), 2),
            (["apply", "turbo", self.backup_arg()], line("error", 0, 0, "Perfil invalido"), 3),
            (["apply", "", self.backup_arg()], line("error", 0, 0, "Perfil invalido"), 3),
            (["reset", self.backup_arg()], line("error", 0, 0, "Argumentos invalidos"), 2),
        ]
        for args, expected, code in cases:
            with self.subTest(args=args):
                before = sorted(self.dir.iterdir())
                # Run from self.dir: an empty path must not become a ".tmp" there.
                self.assertResult(self.run_tool(*args), expected, code)
                self.assertEqual(sorted(self.dir.iterdir()), before)
        self.assertEqual(self.log_lines(), [])
        self.assertFalse(self.backup.exists())

    def test_words_ignore_case_and_extra_arguments(self):
        self.assertResult(self.run_tool("STATUS", "extra"), DETECTED, 0)
        self.assertResult(self.run_tool("Apply", "EXTREMO", self.backup_arg(), "x"),
                          applied(26, 26), 0)


def objdump():
    return shutil.which("x86_64-w64-mingw32-objdump") or "objdump"


def imports_and_exports(path):
    text = subprocess.run([objdump(), "-p", str(path)], capture_output=True, text=True,
                          check=True).stdout
    imports = set(re.findall(r"DLL Name: (\S+)", text))
    exports = set()
    table = text.split("[Ordinal/Name Pointer] Table", 1)
    if len(table) == 2:
        for raw in table[1].splitlines()[1:]:
            match = re.match(r"\s*\[\s*\d+\]\s+(\S+)", raw)
            if not match:
                break
            exports.add(match.group(1))
    return imports, exports


class BuiltProducts(unittest.TestCase):
    def test_program_imports_only_system_dlls(self):
        imports, _ = imports_and_exports(EXE)
        # ntdll.dll: whether the run is elevated is asked of its token, and names are opened
        # and renamed relative to a folder handle, which only its calls offer.
        self.assertEqual(imports, {"KERNEL32.dll", "msvcrt.dll", "ntdll.dll"})

    def test_every_runtime_variant_exports_its_set(self):
        for variant, missing in VARIANT_MISSING.items():
            with self.subTest(variant=variant):
                imports, exports = imports_and_exports(sim_dll(variant))
                # ntdll.dll: its files are held by the programs' own handle owner, which
                # closes through the table of system calls.
                self.assertEqual(imports, {"KERNEL32.dll", "msvcrt.dll", "ntdll.dll"})
                self.assertEqual(exports, ALL_EXPORTS - missing)


if __name__ == "__main__":
    unittest.main()
