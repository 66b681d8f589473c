#!/usr/bin/env python3
"""Writes a release ZIP from an installed tree, the same bytes on every machine.

CPack's ZIP generator (cmake 3.25) takes the file times from SOURCE_DATE_EPOCH but adds
the files in the order the staging directory lists them, which differs between file
systems, and records the builder's user and group ids. Here every entry has the fixed
time of the commit, a fixed mode, no extra fields, and the entries are in byte order.
The client packages (package_wheel.py, package_nupkg.py) are ZIPs too, written by
write_archive.

usage: release_zip.py <installed-dir> <zip-file>
The ZIP holds the files of <installed-dir> under a folder of the same name.
"""
import os
import pathlib
import sys
import time
import zipfile


def entries(root):
    return sorted(p.relative_to(root).as_posix() for p in root.rglob("*") if p.is_file())


# The earliest time a ZIP can hold, 1980-01-01.
ZIP_EPOCH = 315532800


def write_archive(target, files, epoch):
    """Writes `files`, (name in the archive, bytes) pairs, in the order given, each with
    the time `epoch`, a fixed mode and no extra fields; replaces `target` in one step."""
    # ZIP times are local calendar times from 1980 on, in steps of two seconds; UTC keeps
    # them machine-independent, and the step is taken here so the stamp is the one stored.
    epoch = max(epoch, ZIP_EPOCH)
    stamp = time.gmtime(epoch - epoch % 2)[:6]
    target.parent.mkdir(parents=True, exist_ok=True)
    partial = target.with_name(target.name + ".part")
    with zipfile.ZipFile(partial, "w") as archive:
        for name, data in files:
            info = zipfile.ZipInfo(name, date_time=stamp)
            info.create_system = 3  # Unix, so that the mode below is read
            mode = 0o755 if name.endswith((".exe", ".dll")) else 0o644
            info.external_attr = (0o100000 | mode) << 16
            info.compress_type = zipfile.ZIP_DEFLATED
            archive.writestr(info, data, compresslevel=9)
    os.replace(partial, target)


def write_zip(root, target, epoch):
    write_archive(target, [(root.name + "/" + name, (root / name).read_bytes())
                           for name in entries(root)], epoch)


def main(argv):
    if len(argv) != 3:
        sys.stderr.write(__doc__)
        return 2
    epoch = os.environ.get("SOURCE_DATE_EPOCH")
    if not epoch or not epoch.isdigit():
        sys.stderr.write("release_zip.py: SOURCE_DATE_EPOCH must hold the commit time\n")
        return 2
    write_zip(pathlib.Path(argv[1]), pathlib.Path(argv[2]), int(epoch))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
