#!/usr/bin/env python3
"""The signatures of a bundle's programs: each is either unsigned, or carries exactly one
Authenticode signature, alone in its certificate table, that osslsigncode verifies over the file
as it is with the key of the certificate its signer entry names; with --signer, that certificate
must be one the publisher's file holds.

Usage: signatures.py FOLDER STAGE [CERT] -- PROGRAM...
  Prints a line for each program, and writes 'PROGRAM SHA256' (the signer's certificate) or
  'PROGRAM -' (unsigned) lines into STAGE/signers. A refusal is one line, REFUSED: ..., and
  status 1.
"""
import base64
import hashlib
import os
import re
import struct
import subprocess
import sys

from shown import refuse, shown

SIGNED_DATA = "1.2.840.113549.1.7.2"
# The unsigned attributes a signature may carry: time stamps (Authenticode's and RFC 3161's).
TIME_STAMPS = {"1.2.840.113549.1.9.6", "1.3.6.1.4.1.311.3.3.1"}
NESTED = "1.3.6.1.4.1.311.2.4.1"
# Debian's list of certificate authorities, as the root holds it.
TRUSTED = "/etc/ssl/certs/ca-certificates.crt"


def oid(text):
    """An OID's DER content."""
    numbers = [int(n) for n in text.split(".")]
    out = bytes([40 * numbers[0] + numbers[1]])
    for n in numbers[2:]:
        part = [n & 0x7F]
        while n > 0x7F:
            n >>= 7
            part.insert(0, 0x80 | (n & 0x7F))
        out += bytes(part)
    return out


class Der:
    """DER elements of DATA as (tag, start, content start, end), each checked to lie within
    its parent."""

    def __init__(self, data):
        self.data = data

    def element(self, at, end):
        if at + 2 > end:
            raise ValueError("truncated")
        tag, length, content = self.data[at], self.data[at + 1], at + 2
        if length & 0x80:
            count = length & 0x7F
            if not 0 < count <= 4 or content + count > end:
                raise ValueError("bad length")
            length = int.from_bytes(self.data[content:content + count], "big")
            content += count
        if content + length > end:
            raise ValueError("overlong")
        return tag, at, content, content + length

    def children(self, parent):
        found, at = [], parent[2]
        while at < parent[3]:
            found.append(self.element(at, parent[3]))
            at = found[-1][3]
        return found

    def raw(self, e):
        return self.data[e[1]:e[3]]

    def content(self, e):
        return self.data[e[2]:e[3]]


def certificate_table(program, pe):
    """The one WIN_CERTIFICATE's PKCS#7 of PE, or None where it is unsigned."""
    try:
        header = struct.unpack_from("<I", pe, 0x3C)[0]
        if pe[header:header + 4] != b"PE\0\0":
            refuse("%s is not a Windows program" % program)
        optional = header + 24
        magic = struct.unpack_from("<H", pe, optional)[0]
        directories = optional + {0x10B: 96, 0x20B: 112}[magic]
        offset, size = struct.unpack_from("<II", pe, directories + 8 * 4)
    except (struct.error, KeyError):
        refuse("%s is not a Windows program" % program)
    if not offset and not size:
        return None
    if offset % 8 or offset + size != len(pe) or size < 8:
        refuse("%s has bytes after its certificate table, or a table out of place" % program)
    length, revision, kind = struct.unpack_from("<IHH", pe, offset)
    if (revision, kind) != (0x0200, 0x0002) or not 8 < length <= size:
        refuse("%s's certificate table holds something else than one Authenticode signature"
               % program)
    if (length + 7) // 8 * 8 < size:
        refuse("%s's certificate table holds more than one entry" % program)
    signature = pe[offset + 8:offset + length]
    try:
        der_end = Der(signature).element(0, len(signature))[3]
    except ValueError:
        refuse("the signature of %s cannot be read" % program)
    rest = pe[offset + 8 + der_end:]
    if len(rest) >= 8 or rest.strip(b"\0"):
        refuse("%s's certificate table holds %d bytes after its signature (beyond the"
               " alignment, which is zeros)" % (program, len(rest)))
    return signature[:der_end]


def signer_of(program, signature):
    """The signer's certificate and every certificate the signature holds, as DER, and whether
    it carries a time stamp; refuses anything but one signer with no nested signature."""
    der = Der(signature)
    try:
        info = der.children(der.element(0, len(signature)))
        if len(info) != 2 or der.content(info[0]) != oid(SIGNED_DATA):
            raise ValueError("not signed data")
        signed_data = der.children(der.children(info[1])[0])
        certificates = next(e for e in signed_data if e[0] == 0xA0)
        signer_infos = der.children(signed_data[-1])
        if len(signer_infos) != 1:
            refuse("the signature of %s has %d signers; a release's has one"
                   % (program, len(signer_infos)))
        fields = der.children(signer_infos[0])
        issuer, serial = der.children(fields[1])
        wanted = (der.raw(issuer), der.raw(serial))
        time_stamped = False
        for unsigned in (e for e in fields if e[0] == 0xA1):
            for attribute in der.children(unsigned):
                kind = der.children(attribute)[0]
                name = ".".join(str(n) for n in decode_oid(der.content(kind)))
                if name == NESTED:
                    refuse("%s carries a second signature nested in its first" % program)
                if name not in TIME_STAMPS:
                    refuse("the signature of %s carries an unsigned attribute %s, which no"
                           " release adds" % (program, name))
                time_stamped = True
        every, found, serials = [], None, set()
        for certificate in der.children(certificates):
            every.append(der.raw(certificate))
            tbs = der.children(der.children(certificate)[0])
            if tbs[0][0] == 0xA0:
                tbs = tbs[1:]  # the version
            # OpenSSL finds the signer by serial and by issuer compared loosely (case, blanks):
            # with one certificate a serial, it can find no other than this finds.
            if der.raw(tbs[0]) in serials:
                refuse("the signature of %s holds two certificates with one serial number"
                       % program)
            serials.add(der.raw(tbs[0]))
            if (der.raw(tbs[2]), der.raw(tbs[0])) == wanted:
                found = der.raw(certificate)
        if found:
            return found, every, time_stamped
    except (ValueError, IndexError, StopIteration):
        refuse("the signature of %s cannot be read" % program)
    refuse("the signature of %s names a signer it does not hold" % program)


def decode_oid(data):
    numbers, n = [data[0] // 40, data[0] % 40], 0
    for byte in data[1:]:
        n = (n << 7) | (byte & 0x7F)
        if not byte & 0x80:
            numbers.append(n)
            n = 0
    return numbers


def pem(certificates):
    return "".join("-----BEGIN CERTIFICATE-----\n%s-----END CERTIFICATE-----\n" % "".join(
        base64.b64encode(c).decode()[i:i + 64] + "\n"
        for i in range(0, len(base64.b64encode(c)), 64)) for c in certificates)


def certificates_in(path):
    """The certificates of a PEM file (all of them) or a DER file, as DER."""
    data = open(path, "rb").read(1 << 20)
    blocks = re.findall(rb"-----BEGIN CERTIFICATE-----(.*?)-----END CERTIFICATE-----", data,
                        re.S)
    try:
        return [base64.b64decode(b"".join(b.split()), validate=True) for b in blocks] or (
            [data] if data[:1] == b"\x30" else [])
    except ValueError:
        return []


def osslsigncode_verify(path, trusted, stamps, leaf):
    """osslsigncode's verdicts on the signature, whose signer must be LEAF (a SHA-256), with
    TRUSTED as the authorities, and on its time stamp, with STAMPS as the authorities."""
    run = subprocess.run(["osslsigncode", "verify", "-CAfile", trusted, "-TSA-CAfile", stamps,
                          "-require-leaf-hash", "sha256:" + leaf, "-in", path],
                         capture_output=True, text=True, errors="replace")
    out = run.stdout + run.stderr
    verifies = run.returncode == 0 and "\nSignature verification: ok" in "\n" + out
    stamp = re.search(r"^Timestamp Server Signature verification: (\w+)", out, re.M)
    why = "the file is not the one signed" if "MISMATCH" in re.sub(
        r".*PE checksum.*", "", out) else next(
        (shown(line.split(":")[-1].strip() or line) for line in out.splitlines()
         if "error" in line.lower()), "osslsigncode says it fails")
    return verifies, stamp and stamp.group(1) == "ok", why


def authorities(stage, name, certificates):
    """A file of CERTIFICATES and Debian's authorities, for osslsigncode."""
    path = os.path.join(stage, name)
    with open(path, "w") as f:
        f.write(pem(certificates) + open(TRUSTED).read())
    return path


def subject(certificate):
    run = subprocess.run(["openssl", "x509", "-inform", "DER", "-noout", "-subject",
                          "-nameopt", "RFC2253"], input=certificate, capture_output=True)
    return shown(run.stdout.decode("utf-8", "replace").strip().removeprefix("subject="))


def check(folder, stage, program, publisher):
    """The line for PROGRAM, and its signer's fingerprint ('-' where unsigned)."""
    path = os.path.join(folder, program)
    signature = certificate_table(program, open(path, "rb").read())
    if signature is None:
        if publisher is not None:
            refuse("%s is NOT SIGNED, but --signer names a certificate" % program)
        return "%s: not signed" % program, "-"
    certificate, every, time_stamped = signer_of(program, signature)
    fingerprint = hashlib.sha256(certificate).hexdigest()
    colons = ":".join(re.findall("..", fingerprint.upper()))
    name = subject(certificate)
    who = "%s, certificate SHA-256 %s" % (name, colons)
    if publisher is not None and certificate not in publisher:
        refuse("%s is signed by ANOTHER certificate than --signer names: %s" % (program, who))
    # The signature's own certificates as authorities: this checks the signature itself;
    # whom to trust is --signer's to say, and Debian's authorities are named apart. A time
    # stamp is trusted only as Debian's authorities or --signer's file vouch for it: anyone
    # can add one to a signature.
    own = authorities(stage, program + ".own.pem", every + (publisher or []))
    vouched = authorities(stage, program + ".vouched.pem", publisher or [])
    verifies, stamp_verifies, why = osslsigncode_verify(path, own, vouched, fingerprint)
    if not verifies:
        refuse("the signature of %s does not verify: %s" % (program, why))
    # What does not verify is bytes anyone may have put there, as padding would be.
    if time_stamped and not stamp_verifies:
        refuse("the time stamp of %s verifies against neither Debian's certificate authorities"
               " nor a --signer file's certificates" % program)
    trusted = osslsigncode_verify(path, TRUSTED, TRUSTED, fingerprint)[0]
    if publisher is not None:
        who = "%s, the certificate --signer names (SHA-256 %s)" % (name, colons)
    return "%s: signed by %s; the signature verifies, %s; %s" % (
        program, who,
        "its chain reaching a certificate authority Debian trusts" if trusted else
        "its chain reaching no certificate authority Debian trusts",
        "its time stamp verifies" if time_stamped else "no time stamp"
    ), fingerprint


def main():
    args = sys.argv[1:]
    split = args.index("--")
    folder, stage, *cert = args[:split]
    publisher = None
    if cert:
        publisher = certificates_in(cert[0])
        if not publisher:
            refuse("no certificate in the --signer file (PEM or DER)")
    signers = []
    for program in args[split + 1:]:
        line, fingerprint = check(folder, stage, program, publisher)
        print(line)
        signers.append("%s %s\n" % (program, fingerprint))
    with open(os.path.join(stage, "signers"), "w") as f:
        f.write("".join(signers))


if __name__ == "__main__":
    main()
