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
import zlib

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
    """Each entry's local header says what the directory says, and carries nothing else; the
    entries lie back to back from the first byte, then the directory, then its end record with
    no comment: nothing hidden between, before or after them. Returns where each entry's data
    starts."""
    size = os.path.getsize(path)
    starts = {}
    with open(path, "rb") as f:
        f.seek(size - 22)
        end = f.read(22)
        if end[:4] != b"PK\x05\x06" or archive.comment:
            refuse("the zip's directory is not at its end, or it carries a comment")
        directory_size, directory_at = struct.unpack("<II", end[12:20])
        at = 0
        for info in sorted(archive.infolist(), key=lambda i: i.header_offset):
            name = shown(info.orig_filename)
            if info.header_offset != at or at + 30 > directory_at:
                refuse("the zip holds bytes outside its entries (at byte %d)" % at)
            f.seek(at)
            local = f.read(30)
            (signature, _, flags, method, _, _, crc, compressed, unpacked, name_length,
             extra_length) = struct.unpack("<IHHHHHIIIHH", local)
            raw_name = info.orig_filename.encode("utf-8" if info.flag_bits & 0x800 else "cp437")
            if signature != 0x04034B50 or f.read(name_length) != raw_name:
                refuse("the local header of %s is not the directory's entry" % name)
            if (flags, method, crc, compressed, unpacked) != (
                    info.flag_bits, info.compress_type, info.CRC, info.compress_size,
                    info.file_size):
                refuse("the local header of %s says otherwise than the zip's directory" % name)
            if extra_length or info.extra or info.comment:
                refuse("%s carries extra fields or a comment, as no release writes it" % name)
            if flags & 0x08:
                refuse("%s is written with a data descriptor, as no release writes it" % name)
            starts[info.orig_filename] = at + 30 + name_length
            at = starts[info.orig_filename] + compressed
        if at != directory_at or directory_at + directory_size != size - 22:
            refuse("the zip holds bytes outside its entries (at byte %d)" % at)
    return starts


def check_entries(archive, files):
    """The one folder and its version, each entry a regular file once, named as Windows can
    name it and as the bundle's files are named; returns the version, the bundle's files' names
    and their entries."""
    infos = archive.infolist()
    if len(infos) > MAX_ENTRIES:
        refuse("the zip has %d entries; a bundle has %d" % (len(infos), len(files)))
    folder = None
    seen = {}
    for info in infos:
        name = info.filename
        if info.orig_filename != name:
            refuse("%s holds a NUL" % shown(info.orig_filename))
        if info.is_dir():
            refuse("%s is a folder entry; a bundle holds files only" % shown(name))
        mode = info.external_attr >> 16
        # Unix's file type, whichever system the entry says made it: unzip reads it so.
        if stat.S_IFMT(mode) not in (0, stat.S_IFREG) or info.external_attr & 0x10:
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
    return version, wanted, seen


def sums(text, wanted):
    """SHA256SUMS's digests: a line for each of the other files."""
    listed = {}
    for line in text.decode("ascii", "replace").split("\n")[:-1]:
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


def read(path, info, start, out=None):
    """The entry's bytes, as its compressed stream gives them: exactly as many as the directory
    says, with its CRC, the stream ending where the entry does. With OUT, they are written
    there and only their SHA-256 is returned."""
    data, digest, crc, size = [], hashlib.sha256(), 0, 0
    name = shown(info.filename)

    def take(chunk):
        nonlocal crc, size
        size += len(chunk)
        if size > info.file_size:
            refuse("%s unpacks to more than the zip says" % name)
        crc = zlib.crc32(chunk, crc)
        if out:
            out.write(chunk)
            digest.update(chunk)
        else:
            data.append(chunk)

    inflate = zlib.decompressobj(-15) if info.compress_type == zipfile.ZIP_DEFLATED else None
    with open(path, "rb") as f:
        f.seek(start)
        left = info.compress_size
        try:
            while left:
                raw = f.read(min(1 << 20, left))
                left -= len(raw)
                if not inflate:
                    take(raw)
                    continue
                if inflate.eof:
                    break
                take(inflate.decompress(raw, 1 << 20))
                while inflate.unconsumed_tail:
                    take(inflate.decompress(inflate.unconsumed_tail, 1 << 20))
            if inflate:
                take(inflate.flush())
        except zlib.error as e:
            refuse("%s cannot be unpacked (%s)" % (name, e))
    if inflate and (left or not inflate.eof or inflate.unused_data):
        refuse("the compressed stream of %s does not end where the entry does" % name)
    if size != info.file_size or crc != info.CRC:
        refuse("%s does not unpack to what the zip says (its size or CRC)" % name)
    return digest.hexdigest() if out else b"".join(data)


def main():
    path, name, out, *files = sys.argv[1:]
    if os.path.getsize(path) > MAX_ZIP:
        refuse("%s is %d MiB; a bundle is a few" % (shown(name), os.path.getsize(path) >> 20))
    try:
        archive = zipfile.ZipFile(path)
    except (zipfile.BadZipFile, OSError, ValueError) as e:
        refuse("%s is not a zip archive a release wrote (%s)" % (shown(name), shown(str(e))))
    version, wanted, entries = check_entries(archive, files)
    starts = check_layout(path, archive)
    wanted.remove("SHA256SUMS")
    sums_entry = entries["SHA256SUMS"]
    if sums_entry.file_size > MAX_SUMS:
        refuse("SHA256SUMS is %d bytes long" % sums_entry.file_size)
    sums_text = read(path, sums_entry, starts[sums_entry.orig_filename])
    listed = sums(sums_text, wanted)
    os.makedirs(os.path.join(out, "files"))
    for file, info in entries.items():
        with open(os.path.join(out, "files", file), "wb") as f:
            digest = read(path, info, starts[info.orig_filename], f)
        if file != "SHA256SUMS" and digest != listed[file]:
            refuse("SHA256SUMS does not match %s: the bundle was changed or damaged" % file)
    # As the release writes it, to the byte: a line a file, in the bundle's order.
    if sums_text != "".join(
            "%s  %s\n" % (listed[file], file) for file in wanted).encode():
        refuse("SHA256SUMS is not as a release writes it (a line a file, in the bundle's order)")
    with open(os.path.join(out, "version"), "w") as f:
        f.write(version + "\n")


if __name__ == "__main__":
    main()
