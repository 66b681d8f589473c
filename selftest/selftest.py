#!/usr/bin/env python3
"""Checks preset-nvidia.exe and preset-amd.exe on this machine against the simulated drivers
of this kit: every row of every result table that the kit's documents and the programs'
README give, played as a front-end would run the programs.

    python selftest.py [--programs <folder>] [--jobs <n>] [--keep] [--list]
    python3 selftest.py --launcher /usr/lib/wine/wine64 [--prefix <Wine prefix>] ...

Run it from the unpacked developer kit, with the programs' ZIP of the same version unpacked
beside it (or name their folder with --programs), on a Windows test machine that has
neither vendor's driver, from an elevated prompt (the simulated nvapi64.dll goes into
System32, and the checks of links need an elevated run). It prints one row per check and
ends with "N passed, M failed, K skipped"; its exit status is 0 only when none failed.
A check this machine cannot make (no elevation, no symbolic links, a form only Wine has)
is skipped with its reason.

Safe by construction: it refuses to start where System32 holds an nvapi64.dll that is not
one of this kit's, or where an AMD driver is installed; everything it puts in place (the
simulated nvapi64.dll in System32, its work folder, subst drive letters, junctions, mount
points) it removes again, also after a failure or Ctrl+C, and mount points an interrupted
run left behind are taken down at the next start.

With --launcher (Wine's loader) it runs the programs under Wine, in the prefix --prefix,
else $WINEPREFIX, else a new one it makes and removes. --list prints every check with the
commands of its scenarios, and runs nothing. --keep leaves the work folder (state files,
call logs, backups) for a report.
"""
import argparse
import hashlib
import os
import pathlib
import shutil
import subprocess
import sys
import tempfile

HERE = pathlib.Path(__file__).resolve().parent
sys.path[:0] = [str(HERE), str(HERE / "clients")]

from doccheck import cases, checks, hosts, playing, scenarios  # noqa: E402

# Where the kit keeps each document the checks read; the programs' README comes from their
# folder, and the repository's README is not part of the kit.
KIT_DOCUMENTS = {name: name for name in checks.DOCUMENTS if name.startswith("docs/")}
KIT_DOCUMENTS.update({"package/devkit/README.md": "README.md", "CHANGELOG.md": "CHANGELOG.md"})
WORK_MARK = "presets-selftest-"


class Refused(Exception):
    """This machine is not one the self-test may change."""


def programs_folder(given):
    if given:
        return pathlib.Path(given).resolve()
    name = HERE.name.replace("-devkit", "-win64")
    candidates = [HERE.parent / name] + sorted(HERE.parent.glob("*-win64"))
    for folder in candidates:
        if (folder / "preset-nvidia.exe").is_file() and (folder / "preset-amd.exe").is_file():
            return folder
    raise SystemExit("selftest: no folder with preset-nvidia.exe and preset-amd.exe beside "
                     "the kit; unpack the programs' ZIP beside it or give --programs")


def digests(folder):
    return {hashlib.sha256(p.read_bytes()).hexdigest() for p in folder.glob("*.dll")}


def refuse_real_drivers(system32, kit_sim, windows):
    """Refused unless every driver library in the system folder is one of this kit's, and
    (on Windows) no display adapter has an AMD driver."""
    for name, folder in (("nvapi64.dll", "nvapi"), ("amdadlx64.dll", "adlx")):
        found = system32 / name
        if found.exists() and (hashlib.sha256(found.read_bytes()).hexdigest()
                               not in digests(kit_sim / folder)):
            raise Refused("%s holds an %s that is not this kit's simulator: a real driver is "
                          "installed here. Run the self-test on a test machine without it."
                          % (system32, name))
    if windows:
        provider = amd_display_driver()
        if provider:
            raise Refused("an AMD display driver is installed (%s). Run the self-test on a "
                          "test machine without it." % provider)


def amd_display_driver():
    """The provider of an installed AMD display driver, from the display adapters' class
    key, or None."""
    import winreg
    display = r"SYSTEM\CurrentControlSet\Control\Class\{4d36e968-e325-11ce-bfc1-08002be10318}"
    try:
        root = winreg.OpenKey(winreg.HKEY_LOCAL_MACHINE, display)
    except OSError:
        return None
    with root:
        index = 0
        while True:
            try:
                name = winreg.EnumKey(root, index)
            except OSError:
                return None
            index += 1
            try:
                with winreg.OpenKey(root, name) as adapter:
                    text = " ".join(str(winreg.QueryValueEx(adapter, value)[0])
                                    for value in ("ProviderName", "DriverDesc")
                                    if value_exists(adapter, value))
            except OSError:
                continue
            if any(word in text for word in ("Advanced Micro Devices", "AMD", "ATI ")):
                return text


def value_exists(key, name):
    import winreg
    try:
        winreg.QueryValueEx(key, name)
        return True
    except OSError:
        return False


def take_down_left_mounts():
    """Mount points under a work folder of an earlier, interrupted run."""
    out = subprocess.run(["mountvol"], capture_output=True, text=True, check=False).stdout
    for line in out.splitlines():
        path = line.strip()
        if WORK_MARK in path and path.endswith("\\"):
            subprocess.run(["mountvol", path, "/D"], capture_output=True, check=False)


def make_prefix(launcher):
    prefix = pathlib.Path(tempfile.mkdtemp(prefix="presets-selftest-wine-"))
    env = dict(os.environ, WINEPREFIX=str(prefix), WINEDEBUG="-all")
    quiet = dict(env=env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                 stderr=subprocess.DEVNULL, check=False, timeout=600)
    subprocess.run([launcher, "wineboot", "-i"], **quiet)
    subprocess.run([wineserver(launcher), "-w"], **quiet)
    return prefix


def wineserver(launcher):
    return str(pathlib.Path(launcher).with_name("wineserver"))


def documents(programs):
    paths = {name: None for name in checks.DOCUMENTS}
    for name, inside in KIT_DOCUMENTS.items():
        paths[name] = HERE / inside if (HERE / inside).is_file() else None
    readme = programs / "README.md"
    paths["package/win64/README.md"] = readme if readme.is_file() else None
    return checks.Docs(paths)


def row_text(check):
    text = "%-4s  %s: %s" % (check.status.upper(), check.where, check.name)
    if check.status == "skip":
        text += "  -- skipped: " + "; ".join(check.details)
    return text


def list_checks(host, docs):
    """Every check with the scenarios it reads (and why this host would skip one), then the
    commands of each scenario."""
    import preset_client
    outcomes = {o.value for o in preset_client.Outcome}
    planned, faults = checks.plan(docs, cases.listed_tables(outcomes))
    for fault in faults:
        print(row_text(fault))
    used = set()
    for item in planned:
        print("%s:%d (%s): %s" % (item.table.document, item.row.line, item.table.section,
                                  checks.key_text(item.key)))
        if isinstance(item.case, checks.kinds.Unprovoked):
            print("    not played: " + item.case.reason)
            continue
        for name in sorted(checks.names_of(item.case) & set(cases.SCENARIOS)):
            reason = playing.lacking(host, cases.SCENARIOS[name])
            print("    %s%s" % (name, "  (skipped here: %s)" % reason if reason else ""))
            used.add(name)
    print()
    print("Scenarios (<work> is a folder of the self-test's own):")
    for name in sorted(used):
        print("  %s" % name)
        for command in scenarios.describe(cases.SCENARIOS[name]):
            print("        " + command)


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--launcher", help="Wine's loader, to run the programs under Wine")
    parser.add_argument("--prefix", help="the Wine prefix to use (with --launcher)")
    parser.add_argument("--programs", help="the folder of preset-nvidia.exe and preset-amd.exe")
    parser.add_argument("--jobs", type=int, default=3, help="scenarios played at once")
    parser.add_argument("--list", action="store_true", help="print the checks and their "
                        "commands; run nothing")
    parser.add_argument("--keep", action="store_true", help="leave the work folder")
    args = parser.parse_args(argv[1:])
    programs = programs_folder(args.programs)
    exes = {"nvidia": programs / "preset-nvidia.exe", "amd": programs / "preset-amd.exe"}
    windows = sys.platform == "win32" and not args.launcher
    made_prefix = None
    host = None
    # Nothing is put in place or taken away before the machine passed the safety checks.
    safe = False
    try:
        if windows:
            if sys.maxsize <= 2 ** 32:
                raise SystemExit("selftest: run it with a 64-bit Python: a 32-bit one sees "
                                 "SysWOW64 in place of System32")
            from doccheck import hosts_windows
            host = hosts_windows.WindowsHost(exes, HERE / "sim")
            if not args.list:
                refuse_real_drivers(host.system32(), HERE / "sim", True)
                safe = True
                take_down_left_mounts()
            where = "Windows, %s" % ("elevated" if host.elevated else "not elevated")
        else:
            if not args.launcher:
                raise SystemExit("selftest: on a system other than Windows, give Wine's loader "
                                 "with --launcher")
            prefix = args.prefix or os.environ.get("WINEPREFIX")
            if not prefix and not args.list:
                made_prefix = prefix = make_prefix(args.launcher)
            prefix = pathlib.Path(prefix or tempfile.gettempdir())
            system32 = prefix / "drive_c" / "windows" / "system32"
            if not args.list:
                refuse_real_drivers(system32, HERE / "sim", False)
                safe = True
            host = hosts.WineHost(exes, HERE / "sim", args.launcher, prefix)
            where = "Wine (%s, prefix %s)" % (args.launcher, prefix)
        docs = documents(programs)
        if args.list:
            list_checks(host, docs)
            return 0
        print("# programs: %s; simulated drivers: %s; on %s" % (programs, HERE / "sim", where))
        results = checks.run_checks(host, docs, jobs=args.jobs)
        for check in results:
            print(row_text(check))
            if check.status == "fail":
                for detail in check.details:
                    print("        " + detail)
        counts = {s: sum(1 for c in results if c.status == s) for s in ("pass", "fail", "skip")}
        if args.keep:
            print("# the work folder stays: %s" % str(host.base).replace("\\\\?\\", "", 1))
        print("%d passed, %d failed, %d skipped" % (counts["pass"], counts["fail"], counts["skip"]))
        return 1 if counts["fail"] else 0
    except Refused as refusal:
        print("selftest: refused: %s" % refusal)
        return 2
    finally:
        if host is not None and safe:
            if host.lacks("nvidia-absent") is None:
                host.put_nvapi(None)
            if args.keep:
                host.keep_base = True
            host.clean_up()
        if made_prefix is not None:
            subprocess.run([wineserver(args.launcher), "-k"],
                           env=dict(os.environ, WINEPREFIX=str(made_prefix)),
                           capture_output=True, check=False)
            shutil.rmtree(made_prefix, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main(sys.argv))
