"""What a program is made of, as its link says: the files and archive members the linker took
code from (its map), the Debian package each file comes from, the licence of what was taken
(read from that package's copyright file), and the DLLs the program imports. Runs in the
project's root, where those files and packages are."""
import fnmatch
import os
import re
import subprocess

# Where the MinGW-w64 runtime's members are built from, in its source tree: the copyright
# file's stanzas are by source path, and neither the archive nor the map names it. A member not
# here cannot be placed, and the release stops, naming it.
MINGW_SOURCES = {
    "mingw-w64-crt/crt/": ["crtexe", "gccmain", "natstart", "wildcard", "_newmode", "tlssup",
                           "xncommod", "cinitexe", "merr", "udllargc", "CRT_fp10",
                           "mingw_helpers", "pseudo-reloc", "usermatherr", "xtxtmode",
                           "crt_handler", "tlsthrd", "tlsmcrt", "pseudo-reloc-list", "pesect",
                           "mingw_matherr"],
    "mingw-w64-crt/misc/": ["wcsnlen", "__p__wcmdln", "__p__fmode", "__p__commode",
                            "invalid_parameter_handler"],
    "mingw-w64-crt/stdio/": ["acrt_iob_func"],
}
# crt2u.o is crtexe.c built for wide-character programs.
MINGW_OBJECTS = {"crt2u": "crtexe"}
# GCC's runtime files, by the runtime library its copyright file lists them under.
GCC_RUNTIMES = {"libgcc.a": "libgcc", "libgcc_eh.a": "libgcc", "crtbegin.o": "libgcc",
                "crtend.o": "libgcc", "libstdc++.a": "libstdc++-v3"}
# Debian's short licence names that are not SPDX identifiers as they stand; a name neither
# here nor an SPDX identifier becomes a LicenseRef- of this project's own.
DEBIAN_TO_SPDX = {"BSD-2-clause": "BSD-2-Clause", "BSD-2-clause-NetBSD": "BSD-2-Clause",
                  "BSD-3-clause": "BSD-3-Clause", "expat": "MIT", "GPL-2+": "GPL-2.0-or-later",
                  "GPL-3+": "GPL-3.0-or-later", "LGPL-2+": "LGPL-2.0-or-later",
                  "LGPL-2.1+": "LGPL-2.1-or-later", "Permissive-Sun": "SunPro"}
KNOWN_SPDX = {"ZPL-2.1", "ISC", "MIT", "Zlib"}
OWN_LICENCE_PREFIX = "LicenseRef-Quorvel-"
GCC_RUNTIME_LICENCE = "GPL-3.0-or-later WITH GCC-exception-3.1"


class Unplaced(Exception):
    """Something the link took that the SBOM cannot say where it comes from."""


def taken(map_text):
    """{path: [member, ...]} of every file outside the build the linker took code from, in the
    order the map names them; a whole object file has no members."""
    files = {}
    archives = re.search(r"^Archive member included.*?\n(.*?)\n\n", map_text, re.M | re.S)
    for line in (archives.group(1) if archives else "").splitlines():
        m = re.match(r"(/\S+?\.a)\(([^)]+)\)", line)
        if m:
            files.setdefault(os.path.realpath(m.group(1)), []).append(m.group(2))
    for m in re.finditer(r"^LOAD (/\S+\.o)$", map_text, re.M):
        files.setdefault(os.path.realpath(m.group(1)), [])
    return files


def package_of(path):
    """The one Debian package that installed path."""
    out = subprocess.run(["dpkg-query", "-S", path], capture_output=True, text=True)
    owners = [line.split(": ", 1)[0] for line in out.stdout.splitlines()
              if not line.startswith("diversion ")]
    if out.returncode or len(owners) != 1:
        raise Unplaced("no one Debian package holds %s" % path)
    return owners[0].split(":")[0]


def package_facts(package):
    """What dpkg records of package: its source package and version, maintainer, homepage."""
    fields = ["source:Package", "source:Version", "Maintainer", "Homepage"]
    out = subprocess.run(["dpkg-query", "-W", "-f", "\t".join("${%s}" % f for f in fields),
                          package], capture_output=True, text=True)
    if out.returncode:
        raise Unplaced("dpkg has no record of the package %s" % package)
    return dict(zip(["source", "source_version", "maintainer", "homepage"],
                    out.stdout.split("\t")))


def spdx_of(debian_name):
    name = DEBIAN_TO_SPDX.get(debian_name, debian_name)
    if name in KNOWN_SPDX or name in DEBIAN_TO_SPDX.values():
        return name
    return OWN_LICENCE_PREFIX + re.sub(r"[^A-Za-z0-9.-]", "-", name)


def licence_expression(debian_licence):
    """A copyright file's License: value ("BSD-2-clause-NetBSD and ISC") as SPDX."""
    words = debian_licence.split()
    expression = " ".join(w.upper() if w in ("and", "or") else spdx_of(w) for w in words)
    return "(%s)" % expression if len(words) > 1 else expression


def stanzas(copyright_text):
    """(file patterns, SPDX expression) of each Files stanza of a machine-readable copyright
    file, in its order."""
    found = []
    for stanza in re.split(r"\n[ \t]*\n", copyright_text):
        files = re.search(r"^Files:(.*?)(?=^\S|\Z)", stanza, re.M | re.S)
        licence = re.search(r"^License: *(\S.*)$", stanza, re.M)
        if files and licence:
            found.append((files.group(1).split(), licence_expression(licence.group(1))))
    return found


def licence_of_source(all_stanzas, source):
    """The licence the copyright file gives source: its last stanza that names it wins."""
    licence = None
    for patterns, expression in all_stanzas:
        if any(fnmatch.fnmatchcase(source, p) for p in patterns):
            licence = expression
    return licence


def and_of(expressions):
    unique = sorted(set(expressions))
    return " AND ".join(unique)


def mingw_source(member):
    """The source path in the MinGW-w64 tree of an archive member or object file."""
    compiled = re.fullmatch(r"lib(32|64)_lib\w+?_a-(.+)\.o", member)
    stub = re.fullmatch(r"lib(\w+?)(_def)?(s\d+|h|t)\.o", member)
    if not compiled and stub:
        # An import stub, made from the DLL's .def file; no stanza but the default names those.
        return "mingw-w64-crt/lib-common/%s.def" % stub.group(1)
    stem = compiled.group(2) if compiled else os.path.splitext(member)[0]
    stem = MINGW_OBJECTS.get(stem, stem)
    for folder, names in MINGW_SOURCES.items():
        if stem in names:
            return folder + stem + ".c"
    return None


def mingw_licences(path, members, copyright_text):
    """(concluded, declared): the licences of the members' sources, and of the runtime's
    sources as a whole (the default stanza's and every mingw-w64-crt/ stanza's)."""
    all_stanzas = stanzas(copyright_text)
    concluded = []
    for member in members or [os.path.basename(path)]:
        source = mingw_source(member)
        licence = source and licence_of_source(all_stanzas, source)
        if not licence:
            raise Unplaced("the link map names %s(%s), whose source the SBOM cannot place"
                           % (path, member))
        concluded.append(licence)
    declared = [e for patterns, e in all_stanzas
                if any(p == "*" or p.startswith("mingw-w64-crt/") for p in patterns)]
    return and_of(concluded), and_of(declared)


def gcc_licences(path, members, copyright_text):
    """GCC's copyright file lists its runtime libraries under GPL 3 or later with the GCC
    Runtime Library Exception 3.1."""
    library = GCC_RUNTIMES.get(os.path.basename(path))
    section = re.search(r"The following runtime libraries are licensed under the terms of the\s+"
                        r"GNU General Public License \(v3 or later\) with version 3\.1 of the GCC\s+"
                        r"Runtime Library Exception[^\n]*\n\s*\n(.*?)\n\s*\n", copyright_text, re.S)
    if not library or not section or not re.search(r"^ - %s\b" % re.escape(library),
                                                   section.group(1), re.M):
        raise Unplaced("the link map names %s, whose licence the SBOM cannot place" % path)
    return GCC_RUNTIME_LICENCE, GCC_RUNTIME_LICENCE


LICENCE_READERS = {"mingw-w64": mingw_licences, "gcc-mingw-w64": gcc_licences}


def linked_file(path, members):
    """What the SBOM says of one file the linker took code from."""
    package = package_of(path)
    facts = package_facts(package)
    reader = LICENCE_READERS.get(facts["source"])
    if not reader:
        raise Unplaced("the link map names %s, from the package %s, whose licence the SBOM "
                       "cannot read" % (path, package))
    try:
        with open("/usr/share/doc/%s/copyright" % package, encoding="utf-8") as f:
            concluded, declared = reader(path, members, f.read())
    except OSError:
        raise Unplaced("the package %s, which holds %s, has no copyright file to read"
                       % (package, path))
    return dict(facts, path=path, members=members, package=package, concluded=concluded,
                declared=declared)


def imported_dlls(program, target):
    """The DLLs program imports, as its import table names them (lower case: Windows' names
    are not case-sensitive)."""
    out = subprocess.run([target + "-objdump", "-p", program], capture_output=True, text=True)
    if out.returncode:
        raise Unplaced("%s-objdump cannot read the imports of %s" % (target, program))
    return sorted({name.lower() for name in re.findall(r"^\s*DLL Name: (\S+)$", out.stdout,
                                                         re.M)})
