"""Where the release tests find the repository and the Windows build they look at."""
import os
import pathlib
import re

REPO = pathlib.Path(__file__).resolve().parents[2]
BIN = pathlib.Path(os.environ.get("PRESETS_WIN_BIN", REPO / "build" / "windows"))
PROGRAMS = {"preset-nvidia": BIN / "nvidia" / "preset-nvidia.exe",
            "preset-amd": BIN / "amd" / "preset-amd.exe"}


def project_version():
    """The x.y.z of the top-level project() call, read from the source, not from CMake."""
    text = (REPO / "CMakeLists.txt").read_text()
    match = re.search(r"^project\(\s*\S+\s+VERSION\s+(\d+)\.(\d+)\.(\d+)\b", text, re.M)
    if not match:
        raise RuntimeError("no project(... VERSION x.y.z) in CMakeLists.txt")
    return tuple(int(n) for n in match.groups())
