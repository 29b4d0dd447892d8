#!/usr/bin/env python3
"""The bundle's list: a release zip holds exactly one folder, quorvel-launcher-VERSION, and in
it exactly the bundle's files, each a regular file, once, listed in its SHA256SUMS and matching
it, laid out as the release writes them. All is checked from the zip's own directory before a
byte is unpacked, within bounds that a genuine bundle meets many times over.

Usage: bundle.py ZIP NAME OUT FILE...
  ZIP is read, NAME is how the user named it; FILE... are the bundle's files, the SBOM's name
  with VERSION for the version. Unpacks them into OUT/files and writes the version into
  OUT/version. A refusal is one line, REFUSED: ..., and status 1.
"""
import hashlib
import os
import re
import stat
import struct
import sys
import zipfile

from shown import refuse, shown

MAX_ZIP = 64 << 20      # bytes of the zip itself
MAX_ENTRIES = 64
MAX_UNPACKED = 64 << 20  # bytes of all its files together
MAX_SUMS = 64 << 10
VERSION = r"[0-9]{1,9}(\.[0-9]{1,9}){0,3}"
# Names no Windows program can make: these characters, and the devices' names.
WINDOWS_BAD = re.compile(r'[<>:"/\\|?*\x00-\x1f]')
DEVICES = re.compile(r"(CON|PRN|AUX|NUL|COM[0-9]|LPT[0-9])(\..*)?", re.I)


def windows_key(name):
    """The name as Windows' file system takes it: without trailing dots and blanks, case
    folded."""
    return name.rstrip(". ").casefold()


def check_layout(path, archive):
    """The entries back to back from the first byte, then the directory, then its end record
    with no comment: nothing hidden between, before or after them."""
    size = os.path.getsize(path)
    with open(path, "rb") as f:
        f.seek(size - 22)
        end = f.read(22)
        if end[:4] != b"PK\x05\x06" or archive.comment:
            refuse("the zip's directory is not at its end, or it carries a comment")
        directory_size, directory_at = struct.unpack("<II", end[12:20])
        at = 0
        for info in sorted(archive.infolist(), key=lambda i: i.header_offset):
            f.seek(info.header_offset)
            local = f.read(30)
            if info.header_offset != at or local[:4] != b"PK\x03\x04":
                refuse("the zip holds bytes outside its entries (at byte %d)" % at)
            name_length, extra_length = struct.unpack("<HH", local[26:30])
            at = info.header_offset + 30 + name_length + extra_length + info.compress_size
            if info.flag_bits & 0x08:
                refuse("%s is written with a data descriptor, as no release writes it"
                       % shown(info.filename))
        if at != directory_at or directory_at + directory_size != size - 22:
            refuse("the zip holds bytes outside its entries (at byte %d)" % at)


def check_entries(archive, files):
    """The one folder and its version, each entry a regular file once, named as Windows can
    name it and as the bundle's files are named; returns the folder and the version."""
    infos = archive.infolist()
    if len(infos) > MAX_ENTRIES:
        refuse("the zip has %d entries; a bundle has %d" % (len(infos), len(files)))
    folder = None
    seen = {}
    for info in infos:
        name = info.filename
        if info.is_dir():
            refuse("%s is a folder entry; a bundle holds files only" % shown(name))
        mode = info.external_attr >> 16
        if (info.create_system == 3 and stat.S_IFMT(mode) not in (0, stat.S_IFREG)) or \
                info.external_attr & 0x10:
            refuse("%s is not a regular file (a link, a device or a folder)" % shown(name))
        if info.flag_bits & 0x01:
            refuse("%s is encrypted" % shown(name))
        if info.compress_type not in (zipfile.ZIP_STORED, zipfile.ZIP_DEFLATED):
            refuse("%s is compressed in a way no release writes" % shown(name))
        top, _, file = name.partition("/")
        if folder is None:
            folder = top
        if top != folder or "/" in file or not file:
            refuse("%s is not in the bundle's one folder %s" % (shown(name), shown(folder)))
        if WINDOWS_BAD.search(file) or DEVICES.fullmatch(file) or file != file.rstrip(". "):
            refuse("%s is a name that no Windows program can have" % shown(name))
        if file in seen:
            refuse("%s stands twice in the zip: which one a tool unpacks is its own choice"
                   % shown(name))
        key = windows_key(file)
        other = next((n for n in seen if windows_key(n) == key), None)
        if other is not None:
            refuse("%s and %s are one name on Windows" % (shown(name), shown(other)))
        seen[file] = info
    match = re.fullmatch("quorvel-launcher-(%s)" % VERSION, folder or "")
    if not match:
        refuse("the zip's folder %s is not quorvel-launcher-VERSION" % shown(folder or ""))
    version = match.group(1)
    wanted = [f.replace("VERSION", version) for f in files]
    for file in seen:
        if file not in wanted:
            refuse("%s is not one of the bundle's files (%s)" % (shown(folder + "/" + file),
                                                                 ", ".join(wanted)))
    for file in wanted:
        if file not in seen:
            refuse("the bundle has no %s" % file)
    total = sum(info.file_size for info in infos)
    if total > MAX_UNPACKED:
        refuse("the zip's files would take %d MiB unpacked; a bundle takes a few" % (total >> 20))
    return folder, version, seen


def sums(archive, info, wanted):
    """SHA256SUMS, read as the release writes it: a line for each of the other files."""
    if info.file_size > MAX_SUMS:
        refuse("SHA256SUMS is %d bytes long" % info.file_size)
    listed = {}
    for line in read(archive, info).decode("ascii", "replace").splitlines():
        match = re.fullmatch(r"([0-9a-f]{64})  (\S+)", line)
        if not match:
            refuse("SHA256SUMS cannot be read: %s" % shown(line))
        if match.group(2) in listed:
            refuse("SHA256SUMS lists %s twice" % shown(match.group(2)))
        listed[match.group(2)] = match.group(1)
    for file in listed:
        if file not in wanted:
            refuse("SHA256SUMS lists %s, which is not one of the bundle's files" % shown(file))
    for file in wanted:
        if file not in listed:
            refuse("SHA256SUMS does not cover %s" % file)
    return listed


def read(archive, info, out=None):
    """The entry's bytes, never more than its directory says; with OUT, they are written there
    and only their SHA-256 is returned."""
    data, digest, left = [], hashlib.sha256(), info.file_size
    try:
        with archive.open(info) as entry:
            while True:
                chunk = entry.read(min(1 << 20, left + 1))
                if not chunk:
                    break
                left -= len(chunk)
                if left < 0:
                    refuse("%s unpacks to more than the zip says" % shown(info.filename))
                if out:
                    out.write(chunk)
                    digest.update(chunk)
                else:
                    data.append(chunk)
    except (zipfile.BadZipFile, OSError, EOFError, ValueError) as e:
        refuse("%s cannot be unpacked (%s)" % (shown(info.filename), shown(str(e))))
    return digest.hexdigest() if out else b"".join(data)


def main():
    path, name, out, *files = sys.argv[1:]
    if os.path.getsize(path) > MAX_ZIP:
        refuse("%s is %d MiB; a bundle is a few" % (shown(name), os.path.getsize(path) >> 20))
    try:
        archive = zipfile.ZipFile(path)
    except (zipfile.BadZipFile, OSError, ValueError) as e:
        refuse("%s is not a zip archive a release wrote (%s)" % (shown(name), shown(str(e))))
    folder, version, entries = check_entries(archive, files)
    check_layout(path, archive)
    listed = sums(archive, entries["SHA256SUMS"], [f for f in entries if f != "SHA256SUMS"])
    os.makedirs(os.path.join(out, "files"))
    for file, info in entries.items():
        with open(os.path.join(out, "files", file), "wb") as f:
            digest = read(archive, info, f)
        if file != "SHA256SUMS" and digest != listed[file]:
            refuse("SHA256SUMS does not match %s: the bundle was changed or damaged" % file)
    with open(os.path.join(out, "version"), "w") as f:
        f.write(version + "\n")


if __name__ == "__main__":
    main()
