"""The host on Windows itself: the programs run directly, the simulated NVIDIA library goes
into System32 (which takes an elevated prompt), and the acts are the system's own:
ctypes for a file held with no sharing, 8.3 names, drive letters and volume names;
`subst`, `mklink /J`, `mountvol` and `runas /trustlevel:0x20000` for the rest.

Paths of ours are kept in the extended form (\\\\?\\C:\\...) for this process's own file
operations, so folders past 260 characters need no setting of the machine; the programs
get the plain form.
"""
import ctypes
import os
import pathlib
import subprocess
import tempfile
import threading
import time

from . import hosts

EXTENDED = "\\\\?\\"
GENERIC_READ = 0x80000000
OPEN_EXISTING = 3
FILE_FLAG_BACKUP_SEMANTICS = 0x02000000
INVALID_HANDLE = ctypes.c_void_p(-1).value
BASIC_USER = "0x20000"  # runas /trustlevel: the Basic User level, never elevated
UNELEVATED_WAIT_S = 60


def kernel32():
    library = ctypes.WinDLL("kernel32", use_last_error=True)
    library.CreateFileW.restype = ctypes.c_void_p
    library.CreateFileW.argtypes = [ctypes.c_wchar_p, ctypes.c_uint32, ctypes.c_uint32,
                                    ctypes.c_void_p, ctypes.c_uint32, ctypes.c_uint32,
                                    ctypes.c_void_p]
    library.CloseHandle.argtypes = [ctypes.c_void_p]
    return library


def plain(path):
    """The spelling the programs get: without the extended prefix."""
    text = str(path)
    return text[len(EXTENDED):] if text.startswith(EXTENDED) else text


def is_elevated():
    try:
        return bool(ctypes.windll.shell32.IsUserAnAdmin())
    except (AttributeError, OSError):
        return False


class WindowsHost(hosts.Host):
    windows = True

    def __init__(self, programs, kit_sim):
        super().__init__(programs, kit_sim)
        self.elevated = is_elevated()
        self.probed = {}

    def make_base(self):
        return pathlib.Path(EXTENDED + tempfile.mkdtemp(prefix="presets-selftest-"))

    def drive(self):
        return os.path.splitdrive(tempfile.gettempdir())[0]

    def probe(self, name, function):
        if name not in self.probed:
            self.probed[name] = function()
        return self.probed[name]

    def system32(self):
        return pathlib.Path(os.environ.get("SystemRoot", "C:\\Windows")) / "System32"

    def lacks(self, need):
        if need == "nvidia-library" and not self.elevated:
            return ("the simulated nvapi64.dll goes into System32, which takes an elevated "
                    "prompt")
        if need == "nvidia-absent" and not self.elevated and (self.system32() / hosts.NVAPI).exists():
            return ("System32 holds a simulated nvapi64.dll, which only an elevated prompt may "
                    "take away for the rows without a driver")
        if need in ("elevated", "mount-point", "share") and not self.elevated:
            return "needs an elevated prompt"
        if need == "share" and not self.probe("share", self.try_share):
            return "%s is not reachable as a share (is the Server service running?)" % (
                self.share_form(self.base))
        if need == "runas" and not self.probe("runas", self.try_runas):
            return ("runas /trustlevel:0x20000 gave no run that is not elevated (is the "
                    "Secondary Logon service running?)")
        if need == "symlinks" and not self.probe("symlinks", self.try_symlink):
            return "this account may not make symbolic links (no Developer Mode, not elevated)"
        if need == "unix-form":
            return "Wine's own \\\\?\\unix\\ form exists only under Wine"
        if need == "volume" and not self.volume_name():
            return "mountvol names no volume for %s" % self.drive()
        if need == "short-names" and not self.probe("short-names", self.try_short_name):
            return "8.3 short names are turned off on %s" % self.drive()
        return super().lacks(need)

    def to_program(self, path):
        return plain(path)

    def program_root(self, path):
        return plain(path)[2:]

    def client_launcher(self):
        return []

    def run(self, exe, args, env, cwd=None, timeout=60):
        return hosts.run_to_file([plain(exe), *[str(a) for a in args]],
                                 self.environment(env), cwd and plain(cwd), timeout)

    def start(self, exe, args, env, cwd=None):
        return hosts.Started([plain(exe), *[str(a) for a in args]], self.environment(env),
                             cwd and plain(cwd))

    def run_unelevated(self, exe, args, env, cwd, timeout=UNELEVATED_WAIT_S):
        """Runs the program at the Basic User trust level, which is never elevated. runas
        hands back neither output nor exit code, so a batch file of ours writes both to
        files, then a marker; the environment goes into the batch file too."""
        folder = pathlib.Path(tempfile.mkdtemp(prefix="runas-", dir=self.base))
        out, code, done = folder / "out.txt", folder / "exit.txt", folder / "done.txt"
        lines = ["@echo off", "chcp 65001 >nul"]
        for name, value in env.items():
            lines.append('set "%s=%s"' % (name, value))
        if cwd:
            lines.append('cd /d "%s"' % plain(cwd))
        quoted = " ".join('"%s"' % a if a == "" or " " in a else a for a in map(str, args))
        lines.append('>"%s" "%s" %s' % (plain(out), plain(exe), quoted))
        # Redirections first: "echo 1> file" would redirect the echo's own output.
        lines.append('>"%s" echo %%errorlevel%%' % plain(code))
        lines.append('>"%s" echo done' % plain(done))
        script = folder / "run.cmd"
        script.write_bytes(("\r\n".join(lines) + "\r\n").encode("utf-8"))
        # runas takes the command as one argument and has no quoting of its own inside it:
        # the script is named by its short name, which has no blank.
        named = self.short_name(script)
        if " " in named:
            raise RuntimeError("no name without blanks for %s" % script)
        subprocess.run(["runas", "/trustlevel:" + BASIC_USER, "cmd /c " + named],
                       stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                       creationflags=hosts.no_window(), check=False)
        deadline = time.monotonic() + timeout
        while not done.exists():
            if time.monotonic() > deadline:
                return hosts.Ran(b"", None, "timed-out")
            time.sleep(0.1)
        return hosts.Ran(out.read_bytes(), int(code.read_text().strip()))

    # -- acts --------------------------------------------------------------------------------
    def hold(self, path, ms=None, start_marker=None):
        return WindowsHolder(path, ms, start_marker)

    def short_name(self, path):
        size = 32768
        buffer = ctypes.create_unicode_buffer(size)
        length = ctypes.windll.kernel32.GetShortPathNameW(plain(path), buffer, size)
        if length == 0 or length >= size:
            raise RuntimeError("no short name for %s" % path)
        return buffer.value

    def free_drive(self):
        used = ctypes.windll.kernel32.GetLogicalDrives()
        for letter in "QRSTUVWXY":
            if not used & (1 << (ord(letter) - ord("A"))):
                return letter
        raise RuntimeError("every drive letter from Q to Y is in use")

    def map_drive(self, folder):
        with self.lock:
            letter = self.free_drive()
            subprocess.run(["subst", letter + ":", plain(folder)], check=True,
                           stdout=subprocess.DEVNULL, creationflags=hosts.no_window())
            self.undo.append(lambda: subprocess.run(["subst", letter + ":", "/D"],
                                                    stdout=subprocess.DEVNULL,
                                                    creationflags=hosts.no_window()))
        return letter

    def symlink(self, at, target, folder):
        os.symlink(target, at, target_is_directory=folder)

    def hardlink(self, at, target):
        os.link(target, at)

    def junction(self, at, target):
        subprocess.run(["cmd", "/c", "mklink", "/J", plain(at), plain(target)], check=True,
                       stdout=subprocess.DEVNULL, creationflags=hosts.no_window())

    def mount_point(self, at):
        """Mounts the volume of our folders at the empty folder `at` (made here); undone at
        clean_up before the folder goes."""
        at.mkdir(parents=True)
        subprocess.run(["mountvol", plain(at) + "\\", self.volume_name()], check=True,
                       stdout=subprocess.DEVNULL, creationflags=hosts.no_window())
        self.later(lambda: subprocess.run(["mountvol", plain(at) + "\\", "/D"],
                                          stdout=subprocess.DEVNULL,
                                          creationflags=hosts.no_window()))

    def share_form(self, path):
        text = plain(path)
        return "\\\\localhost\\%s$%s" % (text[0], text[2:])

    def volume_form(self, path):
        return self.volume_name() + plain(path)[3:]

    def globalroot_form(self, path):
        buffer = ctypes.create_unicode_buffer(1024)
        if not ctypes.windll.kernel32.QueryDosDeviceW(self.drive(), buffer, 1024):
            raise RuntimeError("no device name for %s" % self.drive())
        return "\\\\?\\GLOBALROOT" + buffer.value + plain(path)[2:]

    # -- probes ------------------------------------------------------------------------------
    def try_symlink(self):
        probe = self.base / "symlink-probe"
        try:
            os.symlink(self.base, probe, target_is_directory=True)
        except OSError:
            return False
        os.rmdir(probe)
        return True

    def try_share(self):
        return os.path.isdir(self.share_form(self.base))

    def try_runas(self):
        """Whether runas starts a batch file of ours at a level that is not elevated: the
        high integrity level (S-1-16-12288) is not among its groups."""
        folder = pathlib.Path(tempfile.mkdtemp(prefix="runas-probe-", dir=self.base))
        answer = folder / "answer.txt"
        script = folder / "probe.cmd"
        script.write_bytes(('@echo off\r\nwhoami /groups | find "S-1-16-12288" >nul\r\n'
                            '>"%s" echo %%errorlevel%%\r\n' % plain(answer)).encode())
        try:
            named = self.short_name(script)
        except RuntimeError:
            return False
        subprocess.run(["runas", "/trustlevel:" + BASIC_USER, "cmd /c " + named],
                       stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, creationflags=hosts.no_window(), check=False)
        deadline = time.monotonic() + 15
        while time.monotonic() < deadline:
            if answer.exists() and answer.read_text().strip():
                return answer.read_text().strip() == "1"
            time.sleep(0.1)
        return False

    def try_short_name(self):
        probe = self.base / "a rather long name probe.txt"
        probe.write_bytes(b"")
        try:
            return self.short_name(probe).lower() != plain(probe).lower()
        except RuntimeError:
            return False
        finally:
            probe.unlink()

    def volume_name(self):
        """The \\\\?\\Volume{GUID}\\ name `mountvol <drive>\\ /L` gives our drive, or None."""
        def ask():
            try:
                out = subprocess.run(["mountvol", self.drive() + "\\", "/L"],
                                     capture_output=True, text=True,
                                     creationflags=hosts.no_window(), check=False).stdout
            except OSError:
                return None
            for word in out.split():
                if word.startswith("\\\\?\\Volume{") and word.endswith("\\"):
                    return word
            return None
        return self.probe("volume", ask)


class WindowsHolder:
    """This process holding a file with no sharing, as another program would: until
    released, or for `ms` milliseconds from when `start_marker` appears."""

    def __init__(self, path, ms, start_marker):
        self.kernel32 = kernel32()
        self.handle = self.kernel32.CreateFileW(str(path), GENERIC_READ, 0, None, OPEN_EXISTING,
                                                FILE_FLAG_BACKUP_SEMANTICS, None)
        if self.handle in (None, INVALID_HANDLE):
            raise RuntimeError("could not hold %s (error %d)" % (path, ctypes.get_last_error()))
        self.timer = None
        if ms:
            self.timer = threading.Thread(target=self.let_go_after, args=(ms, start_marker))
            self.timer.start()

    def let_go_after(self, ms, start_marker):
        deadline = time.monotonic() + hosts.HOLD_WAIT_S
        while start_marker is not None and not os.path.exists(start_marker):
            if time.monotonic() > deadline:
                break
            time.sleep(0.005)
        time.sleep(ms / 1000)
        self.close()

    def close(self):
        handle, self.handle = self.handle, None
        if handle is not None:
            self.kernel32.CloseHandle(handle)

    def release(self):
        if self.timer is not None:
            self.timer.join(hosts.HOLD_WAIT_S)
        self.close()
        return True

    def stop(self):
        self.close()
