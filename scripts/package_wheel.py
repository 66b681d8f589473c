#!/usr/bin/env python3
"""Builds the Python client's wheel by hand, offline: no build tool, no index.

usage: package_wheel.py <version> <preset_client.py> <__main__.py> <METADATA> <LICENSE> <wheel>

The wheel, pure Python for every Python 3, installs the package `preset_client`: the client
module as its __init__.py, unchanged, and __main__.py, so that `python -m preset_client` is
its command line. The client's own __version__ must be <version>. The bytes depend on the
inputs alone (entries in a fixed order, each with the earliest ZIP time), so two builds of
one commit give the same wheel.
"""
import base64
import hashlib
import pathlib
import re
import sys

from release_zip import ZIP_EPOCH, write_archive

DISTRIBUTION = "gpu_presets_client"
PACKAGE = "preset_client"
WHEEL = """Wheel-Version: 1.0
Generator: gpu-presets scripts/package_wheel.py
Root-Is-Purelib: true
Tag: py3-none-any
"""


def record_line(name, data):
    """A line of RECORD: the name, the urlsafe base64 SHA-256 without padding, the size."""
    digest = base64.urlsafe_b64encode(hashlib.sha256(data).digest()).rstrip(b"=")
    return "%s,sha256=%s,%d\n" % (name, digest.decode("ascii"), len(data))


def wheel_files(version, client, main, metadata, licence):
    """The wheel's entries in order: the package, then the .dist-info with RECORD last, as
    installers expect to find it."""
    info = "%s-%s.dist-info/" % (DISTRIBUTION, version)
    files = [(PACKAGE + "/__init__.py", client), (PACKAGE + "/__main__.py", main),
             (info + "LICENSE", licence), (info + "METADATA", metadata),
             (info + "WHEEL", WHEEL.encode("ascii"))]
    record = "".join(record_line(n, d) for n, d in files) + info + "RECORD,,\n"
    return files + [(info + "RECORD", record.encode("ascii"))]


def main(argv):
    if len(argv) != 7:
        sys.stderr.write(__doc__)
        return 2
    version = argv[1]
    client, main_, metadata, licence = (pathlib.Path(a).read_bytes() for a in argv[2:6])
    stated = re.search(rb'^__version__ = "([^"]*)"$', client, re.M)
    if not stated or stated.group(1).decode() != version:
        sys.stderr.write("package_wheel.py: %s states __version__ %s, the project is %s\n" % (
            argv[2], stated.group(1).decode() if stated else "nowhere", version))
        return 1
    write_archive(pathlib.Path(argv[6]), wheel_files(version, client, main_, metadata, licence),
                  ZIP_EPOCH)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
