#!/usr/bin/env python3
"""The record: a bundle's BUILDINFO, read strictly as the release writes it, and set against
the root that rebuilds it.

Usage: record.py read BUILDINFO VERSION OUT
           checks BUILDINFO, whose bundle's folder names VERSION, and writes what it says into
           OUT: commit, root (12 or 13), record-root, record-packages ('name:arch version'
           lines) and, where it names one, contact
       record.py compare RECORD ROOT_PACKAGES
           prints a line for each package whose version the root does not share with the record,
           'toolchain' or 'other' first: the toolchain compiles, links or packs the bundle
       record.py pins RECORD
           prints the record's toolchain as 'name:arch=version' lines, for a root of exactly it
A refusal is one line, REFUSED: ..., and status 1.
"""
import os
import re
import sys

from shown import refuse, shown

MAX_SIZE = 1 << 20
RELEASES = {"12": "bookworm", "13": "trixie"}
PACKAGE = r"[a-z0-9][a-z0-9+.-]{0,99}:[a-z0-9]{1,20}"
PACKAGE_VERSION = r"([0-9]{1,9}:)?[0-9][A-Za-z0-9.+~-]{0,99}"
TOOLCHAIN = re.compile(
    r"mingw-w64|^cmake(-data)?:|^make:|^python3(\.[0-9]+)?(-minimal)?:|^libpython3")
# The lines in the order the release writes them: field, the form of its value.
HEAD = [("Format", r"quorvel-buildinfo 1"), ("Source", r"quorvel-launcher"),
        ("Version", None), ("Commit", r"[0-9a-f]{40}"),
        ("Build-Root", r"Debian (1[23]) \((bookworm|trixie)\)")]
CONTACT = r"[^\s\x00-\x1f\x7f]{3,200}"


def lines_of(path):
    """BUILDINFO's lines, each of which ends in CR LF."""
    if os.path.getsize(path) > MAX_SIZE:
        refuse("BUILDINFO is %d bytes long; a release writes some thousands"
               % os.path.getsize(path))
    data = open(path, "rb").read()
    try:
        text = data.decode("ascii")
    except UnicodeDecodeError:
        refuse("BUILDINFO holds bytes that are not ASCII, as no release writes it")
    if not text.endswith("\r\n"):
        refuse("BUILDINFO does not end in a line break")
    lines = text[:-2].split("\r\n")
    for number, line in enumerate(lines, 1):
        if re.search(r"[\x00-\x1f\x7f]", line):
            refuse("BUILDINFO line %d holds control characters: %s" % (number, shown(line)))
    return lines


def read(path, version, out):
    lines = lines_of(path)
    fields, number = {}, 0

    def expect(pattern, what):
        nonlocal number
        line = lines[number] if number < len(lines) else ""
        match = re.fullmatch(pattern, line)
        if not match:
            refuse("BUILDINFO line %d is not %s: %s" % (number + 1, what, shown(line)))
        number += 1
        return match

    for field, pattern in HEAD:
        value = expect(r"%s: (.*)" % field, "its %s line" % field).group(1)
        if field == "Version" and value != version:
            refuse("BUILDINFO's Version %s is not the version %s of the bundle's folder"
                   % (shown(value), version))
        if pattern and not re.fullmatch(pattern, value):
            refuse("BUILDINFO's %s is not of the form %s: %s" % (field, pattern, shown(value)))
        fields[field] = value
    release, codename = re.fullmatch(HEAD[-1][1], fields["Build-Root"]).groups()
    if RELEASES[release] != codename:
        refuse("BUILDINFO's Build-Root names Debian %s %s, which is no such release"
               % (release, codename))
    if number < len(lines) and lines[number].startswith("Contact: "):
        fields["Contact"] = expect(r"Contact: (%s)" % CONTACT, "a contact").group(1)
    expect(r"Built-Sha256:", "Built-Sha256:")
    for program in ["launcher64.exe", "launcher32.exe"]:
        expect(r" [0-9a-f]{64}  %s" % re.escape(program), "the SHA-256 of " + program)
    expect(r"Root-Packages:", "Root-Packages:")
    packages = []
    while number < len(lines):
        name, package_version = expect(r" (%s) (%s)" % (PACKAGE, PACKAGE_VERSION),
                                       "a package and its version").group(1, 2)
        if packages and packages[-1][0] >= name:
            refuse("BUILDINFO line %d: the packages are not in order, or %s stands twice"
                   % (number, name))
        packages.append((name, package_version))
    if not packages:
        refuse("BUILDINFO records no package")
    write(out, "commit", fields["Commit"])
    write(out, "root", release)
    write(out, "record-root", fields["Build-Root"])
    write(out, "record-packages", *("%s %s" % p for p in packages))
    if "Contact" in fields:
        write(out, "contact", fields["Contact"])


def write(out, name, *lines):
    with open(os.path.join(out, name), "w") as f:
        f.write("".join(line + "\n" for line in lines))


def packages_in(path):
    """A 'name:arch version' file as a mapping; any line not of that form is left out."""
    found = {}
    for line in open(path):
        parts = line.split()
        if len(parts) == 2:
            found[parts[0]] = parts[1]
    return found


def compare(record, root):
    record, root = packages_in(record), packages_in(root)
    for name in sorted(set(record) | set(root)):
        if record.get(name) != root.get(name):
            kind = "toolchain" if TOOLCHAIN.search(name) else "other"
            print(kind, name, record.get(name, "(none)"), root.get(name, "(none)"))


def pins(record):
    for name, version in sorted(packages_in(record).items()):
        if TOOLCHAIN.search(name):
            print("%s=%s" % (name, version))


def main():
    step, *args = sys.argv[1:] or [""]
    steps = {"read": (read, 3), "compare": (compare, 2), "pins": (pins, 1)}
    if step not in steps or len(args) != steps[step][1]:
        sys.exit(__doc__)
    steps[step][0](*args)


if __name__ == "__main__":
    main()
