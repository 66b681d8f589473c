#!/usr/bin/env python3
"""Lays out and zips the C# client's NuGet package by hand.

usage: package_nupkg.py <version> <nuspec> <assembly.dll> <docs.xml> <PresetClient.cs>
                        <LICENSE> <nupkg>

The package holds the assembly and its XML docs under lib/net45/, the source under src/,
the licence, the .nuspec at the top, and the two parts of the Open Packaging Conventions
that older NuGet clients read it through. The client's own Version must be <version>. The
bytes depend on the inputs alone (entries in a fixed order, each with the earliest ZIP
time, a fixed relationship id), so two builds of one commit give the same package.
"""
import pathlib
import re
import sys

from release_zip import ZIP_EPOCH, write_archive

CONTENT_TYPES = """<?xml version="1.0" encoding="utf-8"?>
<Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types">
  <Default Extension="rels"
           ContentType="application/vnd.openxmlformats-package.relationships+xml" />
  <Default Extension="nuspec" ContentType="application/octet" />
  <Default Extension="dll" ContentType="application/octet" />
  <Default Extension="xml" ContentType="application/octet" />
  <Default Extension="cs" ContentType="application/octet" />
  <Override PartName="/LICENSE" ContentType="application/octet" />
</Types>
"""
RELATIONSHIPS = """<?xml version="1.0" encoding="utf-8"?>
<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">
  <Relationship Type="http://schemas.microsoft.com/packaging/2010/07/manifest"
                Target="/{nuspec}" Id="R0" />
</Relationships>
"""


def main(argv):
    if len(argv) != 8:
        sys.stderr.write(__doc__)
        return 2
    version = argv[1]
    nuspec, dll, docs, source, licence = (pathlib.Path(a) for a in argv[2:7])
    stated = re.search(rb'public const string Version = "([^"]*)";', source.read_bytes())
    if not stated or stated.group(1).decode() != version:
        sys.stderr.write("package_nupkg.py: %s states Version %s, the project is %s\n" % (
            source, stated.group(1).decode() if stated else "nowhere", version))
        return 1
    lib = "lib/net45/"
    files = [
        ("[Content_Types].xml", CONTENT_TYPES.encode("ascii")),
        ("_rels/.rels", RELATIONSHIPS.format(nuspec=nuspec.name).encode("ascii")),
        (nuspec.name, nuspec.read_bytes()),
        ("LICENSE", licence.read_bytes()),
        (lib + dll.name, dll.read_bytes()),
        (lib + docs.name, docs.read_bytes()),
        ("src/" + source.name, source.read_bytes()),
    ]
    write_archive(pathlib.Path(argv[7]), files, ZIP_EPOCH)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
