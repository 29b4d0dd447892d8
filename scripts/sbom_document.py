"""The release's SBOM as a CycloneDX 1.6 document, with BSI TR-03183-2's fields at the places
its CycloneDX mapping reads them. Everything in it comes from the commit, the build's record of
packages, the link maps, dpkg and the files themselves: nothing of the machine or the day."""
import datetime
import hashlib
import os
import re
import uuid
from urllib.parse import quote

import sbom_link

AUTHORS = "The Quorvel launcher authors"
PRODUCT = "quorvel-launcher"
# program, its compilers' target, the name the target's libraries are built for
PROGRAMS = [("launcher64.exe", "x86_64-w64-mingw32", "x86-64"),
            ("launcher32.exe", "i686-w64-mingw32", "x86")]
# The packages that compile, link and write the release, named in metadata.tools.
TOOLS = ["g++-mingw-w64-x86-64-posix", "g++-mingw-w64-i686-posix", "binutils-mingw-w64-x86-64",
         "binutils-mingw-w64-i686", "cmake", "make", "python3"]
WINDOWS = {"name": "Microsoft Corporation", "url": ["https://www.microsoft.com/"]}
# BSI's taxonomy: whether a kind of file is executable, an archive, structured.
KINDS = {"program": ("executable", "no archive", "unstructured"),
         "static library": ("executable", "archive", "structured"),
         "object file": ("executable", "no archive", "unstructured"),
         "system DLL": ("executable", "no archive", "unstructured")}


def creator(contact):
    """The launcher's creator, with the address the publisher gave: an email address or a URL."""
    entity = {"name": AUTHORS}
    if contact.startswith(("http://", "https://")):
        entity["url"] = [contact]
    elif contact:
        entity["contact"] = [{"email": contact}]
    return entity


def maintainer(text):
    """'Name <address>' as CycloneDX's organizational contact."""
    m = re.fullmatch(r"\s*(.*?)\s*<([^>]+)>\s*", text)
    return {"name": m.group(1), "email": m.group(2)} if m else {"name": text.strip()}


def purl(name, version, arch, distro):
    return "pkg:deb/debian/%s@%s?arch=%s&distro=%s" % (
        quote(name, safe=""), quote(version, safe=""), quote(arch, safe=""), distro)


def file_hashes(path):
    with open(path, "rb") as f:
        data = f.read()
    return [{"alg": "SHA-256", "content": hashlib.sha256(data).hexdigest()},
            {"alg": "SHA-512", "content": hashlib.sha512(data).hexdigest()}]


def licences(concluded, declared):
    """CycloneDX 1.6 allows one expression in licenses: the concluded one (what is distributed)
    is there, the declared one (what the package states) in the evidence read from."""
    return ({"licenses": [{"expression": concluded, "acknowledgement": "concluded"}],
             "evidence": {"licenses": [{"expression": declared, "acknowledgement": "declared"}]}})


def properties(kind, filename, licence=None):
    names = ["bsi:component:executable", "bsi:component:archive", "bsi:component:structured"]
    found = [{"name": n, "value": v} for n, v in zip(names, KINDS[kind])]
    found.append({"name": "bsi:component:filename", "value": filename})
    if licence:
        found.append({"name": "bsi:component:effectiveLicence", "value": licence})
    return found


def program_component(folder, program, arch_name, version, contact):
    hashes = file_hashes(os.path.join(folder, program))
    return dict({
        "type": "application",
        "bom-ref": program,
        "manufacturer": creator(contact),
        "name": program,
        "version": version,
        "description": "The Quorvel launcher for %s Windows" % arch_name,
        "hashes": hashes,
        "purl": "pkg:generic/%s@%s#%s" % (PRODUCT, quote(version, safe=""), program),
        "externalReferences": [{"type": "distribution", "url": program, "hashes": hashes,
                                "comment": "beside this SBOM in the bundle"}],
        "properties": properties("program", program, "MIT"),
    }, **licences("MIT", "MIT"))


def linked_component(linked, program, arch_name, versions, distro):
    """A file the linker took code from, as the Debian package that installs it has it."""
    path, package = linked["path"], linked["package"]
    if package not in versions:
        raise sbom_link.Unplaced("no version recorded for the package %s, which holds %s"
                                 % (package, path))
    arch, version = versions[package]
    name = os.path.basename(path)
    members = [re.sub(r"^lib(32|64)_lib\w+?_a-", "", m) for m in linked["members"]]
    taken = ("%d of its members: %s" % (len(members), ", ".join(members)) if members
             else "the whole file")
    hashes = file_hashes(path)
    references = [{"type": "distribution", "url": "file://" + path, "hashes": hashes,
                   "comment": "where the Debian package %s installs it" % package},
                  {"type": "source-distribution",
                   "url": purl(linked["source"], linked["source_version"], "source", distro),
                   "comment": "the Debian source package"}]
    if linked["homepage"]:
        references.append({"type": "website", "url": linked["homepage"],
                           "comment": "the upstream home page, as the package gives it"})
    return dict({
        "type": "library",
        "bom-ref": "%s/%s" % (arch_name, name),
        "manufacturer": {"name": "Debian", "contact": [maintainer(linked["maintainer"])]},
        "name": name,
        "version": version,
        "description": "%s for %s from the Debian package %s; linked into %s: %s" % (
            name, arch_name, package, program, taken),
        "hashes": hashes,
        "purl": purl(package, version, arch, distro),
        "externalReferences": references,
        "properties": properties("static library" if name.endswith(".a") else "object file",
                                 name, linked["concluded"]),
    }, **licences(linked["concluded"], linked["declared"]))


def dll_component(dll):
    """A DLL of Windows' own that a program imports: outside the delivery, so named, not
    described; its version and bytes are those of the Windows it runs on."""
    return {
        "type": "file",
        "bom-ref": "windows/" + dll,
        "manufacturer": WINDOWS,
        "name": dll,
        "description": "Windows' own %s, which the programs import; not delivered: the one of "
                       "the Windows they run on" % dll,
        "cpe": "cpe:2.3:o:microsoft:windows:*:*:*:*:*:*:*:*",
        "properties": properties("system DLL", dll),
    }


def tool_components(versions, distro):
    tools = []
    for package in TOOLS:
        if package not in versions:
            raise sbom_link.Unplaced("no version recorded for the package %s" % package)
        arch, version = versions[package]
        tools.append({"type": "application", "name": package, "version": version,
                      "purl": purl(package, version, arch, distro)})
    return tools


def product(version, commit, contact):
    """The SBOM's own component: the launcher as a product, both programs; the bundle's zip
    cannot carry its own hash."""
    return dict({
        "type": "application",
        "bom-ref": PRODUCT,
        "manufacturer": creator(contact),
        "name": PRODUCT,
        "version": version,
        "description": "A launcher for the Java desktop application Quorvel: both programs",
        "purl": "pkg:generic/%s@%s" % (PRODUCT, quote(version, safe="")),
        "pedigree": {"commits": [{"uid": commit}]},
    }, **licences("MIT", "MIT"))


def read_versions(packages_file):
    """{package: (arch, version)} from a record of 'name:arch version' lines."""
    versions = {}
    with open(packages_file) as f:
        for line in f:
            name_arch, package_version = line.split()
            name, arch = name_arch.split(":")
            versions[name] = (arch, package_version)
    return versions


def program_parts(folder, maps, program, target, arch_name, versions, distro):
    """The components linked into program, and the DLLs it imports."""
    with open(os.path.join(maps, os.path.splitext(program)[0] + ".map")) as f:
        files = sbom_link.taken(f.read())
    linked = [linked_component(sbom_link.linked_file(path, members), program, arch_name,
                               versions, distro) for path, members in sorted(files.items())]
    return linked, sbom_link.imported_dlls(os.path.join(folder, program), target)


def document(folder, maps, version, commit, commit_time, packages_file, root, contact):
    versions = read_versions(packages_file)
    distro = "debian-" + re.search(r"Debian (\d+)", root).group(1)
    components, dependencies, dlls = [], [], set()
    for program, target, arch_name in PROGRAMS:
        linked, imported = program_parts(folder, maps, program, target, arch_name, versions,
                                         distro)
        components.append(program_component(folder, program, arch_name, version, contact))
        components.extend(linked)
        dlls.update(imported)
        dependencies.append({"ref": program, "dependsOn": [c["bom-ref"] for c in linked] +
                             ["windows/" + d for d in imported]})
        dependencies.extend({"ref": c["bom-ref"], "dependsOn": []} for c in linked)
    windows = [dll_component(d) for d in sorted(dlls)]
    dependencies.insert(0, {"ref": PRODUCT, "dependsOn": [p for p, _, _ in PROGRAMS]})
    dependencies.extend({"ref": c["bom-ref"], "dependsOn": []} for c in windows)
    delivered = [PRODUCT] + [c["bom-ref"] for c in components]
    time = datetime.datetime.fromtimestamp(int(commit_time), datetime.timezone.utc)
    return {
        "$schema": "http://cyclonedx.org/schema/bom-1.6.schema.json",
        "bomFormat": "CycloneDX",
        "specVersion": "1.6",
        # One commit and version, one SBOM: its serial number is theirs, not the day's.
        "serialNumber": uuid.uuid5(uuid.NAMESPACE_URL,
                                   "%s/%s/%s" % (PRODUCT, version, commit)).urn,
        "version": 1,
        "metadata": {
            "timestamp": time.strftime("%Y-%m-%dT%H:%M:%SZ"),
            "lifecycles": [{"phase": "build"}],
            "tools": {"components": tool_components(versions, distro)},
            "manufacturer": creator(contact),
            "component": product(version, commit, contact),
        },
        "components": components + windows,
        "dependencies": dependencies,
        # What is delivered is listed whole; what Windows' DLLs need in turn is Windows' own.
        "compositions": [{"aggregate": "complete", "assemblies": delivered,
                          "dependencies": delivered},
                         {"aggregate": "unknown",
                          "dependencies": [c["bom-ref"] for c in windows]}],
    }
