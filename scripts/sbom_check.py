"""Checks of the release's SBOM: the CycloneDX 1.6 JSON schema, and BSI TR-03183-2's fields as
its CycloneDX mapping reads them, field by field, for the SBOM and for each component. Each
check returns the faults it finds, as lines."""
import json
import os
import re

import sbom_document

FILE_PROPERTIES = {"bsi:component:executable": ("executable", "non-executable"),
                   "bsi:component:archive": ("archive", "no archive"),
                   "bsi:component:structured": ("structured", "unstructured")}
EMAIL = re.compile(r"[^@\s]+@[^@\s]+\.[^@\s]+")
URL = re.compile(r"https?://[^\s/?#]+([/?#]\S*)?")


def schema_faults(sbom, schema_path):
    import jsonschema
    folder = os.path.dirname(schema_path)
    # The schema refers to the SPDX and JSF schemas by file name, relative to its $id.
    store = {}
    for file in os.listdir(folder):
        if file.endswith(".json"):
            with open(os.path.join(folder, file)) as f:
                document = json.load(f)
            for key in (file, document.get("$id", file), "http://cyclonedx.org/schema/" + file):
                store[key] = document
    schema = store[os.path.basename(schema_path)]
    resolver = jsonschema.RefResolver.from_schema(schema, store=store)
    errors = sorted(jsonschema.Draft7Validator(schema, resolver=resolver).iter_errors(sbom),
                    key=lambda e: list(e.path))
    return ["the SBOM does not meet the CycloneDX 1.6 schema: %s at %s" % (
        e.message[:200], "/".join(str(p) for p in e.path)) for e in errors[:1]]


def spdx_expression_parses(expression):
    """Whether expression is an SPDX licence expression: identifiers joined by AND, OR, WITH
    (an exception after WITH), in balanced parentheses."""
    tokens = re.findall(r"\(|\)|[^\s()]+", expression)
    position = 0

    def take():
        nonlocal position
        position += 1
        return tokens[position - 1] if position <= len(tokens) else None

    def peek():
        return tokens[position] if position < len(tokens) else None

    def term():
        token = take()
        if token == "(":
            return compound() and take() == ")"
        if not token or not re.fullmatch(r"(LicenseRef-)?[A-Za-z0-9.+-]+", token) or \
                token in ("AND", "OR", "WITH"):
            return False
        if peek() == "WITH":
            take()
            exception = take()
            return bool(exception and re.fullmatch(r"[A-Za-z0-9.-]+", exception))
        return True

    def compound():
        if not term():
            return False
        while peek() in ("AND", "OR"):
            take()
            if not term():
                return False
        return True

    return compound() and position == len(tokens)


def creator_faults(where, entity, contact_required=True):
    """The TR's creator: an email address at manufacturer.contact[].email, or a URL at
    manufacturer.url."""
    entity = entity or {}
    emails = [c.get("email", "") for c in entity.get("contact", [])]
    urls = entity.get("url", [])
    if any(EMAIL.fullmatch(e) for e in emails) or any(URL.fullmatch(u) for u in urls):
        return []
    if not contact_required and not emails and not urls and entity.get("name"):
        return []
    return ["%s: no creator's email address (manufacturer.contact[].email) or URL "
            "(manufacturer.url)" % where]


def licence_faults(where, component):
    faults = []
    concluded = [entry for entry in component.get("licenses", [])
                 if entry.get("acknowledgement") == "concluded"]
    if len(concluded) != 1 or not concluded[0].get("expression"):
        faults.append("%s: no one concluded licence expression (licenses[], acknowledgement "
                      "concluded)" % where)
    declared = [entry for entry in component.get("evidence", {}).get("licenses", [])
                if entry.get("acknowledgement") == "declared"]
    if len(declared) != 1:
        faults.append("%s: no one declared licence expression (evidence.licenses[], "
                      "acknowledgement declared)" % where)
    for entry in concluded + declared:
        if entry.get("expression") and not spdx_expression_parses(entry["expression"]):
            faults.append("%s: the licence expression %r does not parse as SPDX" % (
                where, entry["expression"]))
    return faults


def property_values(component):
    values = {}
    for p in component.get("properties", []):
        values.setdefault(p.get("name"), []).append(p.get("value"))
    return values


def file_faults(where, component):
    """The TR's fields of a component that is a file: its name, SHA-512 at the distribution
    reference, and whether it is executable, an archive, structured."""
    faults = []
    values = property_values(component)
    if len(values.get("bsi:component:filename", [])) != 1:
        faults.append("%s: no one bsi:component:filename" % where)
    for name, allowed in FILE_PROPERTIES.items():
        if len(values.get(name, [])) != 1 or values[name][0] not in allowed:
            faults.append("%s: no one %s of %s" % (where, name, " or ".join(allowed)))
    return faults


def hash_faults(where, component):
    distribution = [r for r in component.get("externalReferences", [])
                    if r.get("type") == "distribution"]
    sha512 = [h for r in distribution for h in r.get("hashes", []) if h.get("alg") == "SHA-512"]
    if len(sha512) != 1 or not re.fullmatch(r"[0-9a-f]{128}", sha512[0].get("content", "")):
        return ["%s: no one SHA-512 at externalReferences[type=distribution].hashes" % where]
    return []


def identity_faults(where, component):
    faults = [] if component.get("name") else ["%s: no name" % where]
    if not (component.get("purl") or component.get("cpe")):
        faults.append("%s: no purl or CPE" % where)
    return faults


def delivered_component_faults(component, with_contact):
    where = component.get("bom-ref", "a component")
    manufacturer = component.get("manufacturer", {})
    # Only the launcher's own creator may go without an address, in a release made without one.
    ours = manufacturer.get("name") == sbom_document.AUTHORS
    faults = creator_faults(where, manufacturer, with_contact or not ours)
    faults += identity_faults(where, component)
    if not component.get("version"):
        faults.append("%s: no version" % where)
    return (faults + licence_faults(where, component) + file_faults(where, component) +
            hash_faults(where, component))


def outside_component_faults(component):
    """A component outside the delivery is identified: its creator, name and identifier."""
    where = component.get("bom-ref", "a component")
    return (creator_faults(where, component.get("manufacturer")) +
            identity_faults(where, component) + file_faults(where, component))


def graph_faults(sbom, refs):
    faults = []
    listed = {d.get("ref") for d in sbom.get("dependencies", [])}
    for ref in refs:
        if ref not in listed:
            faults.append("%s: not in dependencies (a component with none has an empty "
                          "entry)" % ref)
    for dependency in sbom.get("dependencies", []):
        for ref in dependency.get("dependsOn", []):
            if ref not in refs:
                faults.append("%s depends on %s, which is no component" % (
                    dependency.get("ref"), ref))
    covered = [r for c in sbom.get("compositions", []) for r in c.get("dependencies", [])]
    for ref in refs:
        if covered.count(ref) != 1:
            faults.append("%s: its dependencies' completeness is not said once (compositions)"
                          % ref)
    return faults


def delivered_refs(sbom):
    return {r for c in sbom.get("compositions", []) if c.get("aggregate") == "complete"
            for r in c.get("assemblies", [])}


def tr_faults(sbom, with_contact):
    """Every required field of BSI TR-03183-2's CycloneDX mapping, and the additional ones
    this release always has."""
    metadata = sbom.get("metadata", {})
    faults = [] if sbom.get("specVersion") == "1.6" else ["specVersion is not 1.6"]
    faults += creator_faults("the SBOM", metadata.get("manufacturer"), with_contact)
    if not re.fullmatch(r"\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ", metadata.get("timestamp", "")):
        faults.append("the SBOM: no UTC metadata.timestamp")
    if not re.fullmatch(r"urn:uuid:[0-9a-f-]{36}", sbom.get("serialNumber", "")):
        faults.append("the SBOM: no serialNumber URN")
    product = metadata.get("component", {})
    where = product.get("bom-ref", "metadata.component")
    faults += creator_faults(where, product.get("manufacturer"), with_contact)
    faults += identity_faults(where, product) + licence_faults(where, product)
    if not product.get("version"):
        faults.append("%s: no version" % where)
    delivered = delivered_refs(sbom)
    for component in sbom.get("components", []):
        if component.get("bom-ref") in delivered:
            faults += delivered_component_faults(component, with_contact)
        else:
            faults += outside_component_faults(component)
    refs = [product.get("bom-ref")] + [c.get("bom-ref") for c in sbom.get("components", [])]
    return faults + graph_faults(sbom, refs)


def hash_mismatches(sbom, folder, programs):
    """The programs whose hashes in the SBOM are not those of the files in folder."""
    listed = {c.get("name"): c for c in sbom.get("components", [])}
    faults = []
    for program in programs:
        actual = sbom_document.file_hashes(os.path.join(folder, program))
        component = listed.get(program, {})
        given = [component.get("hashes")] + [r.get("hashes") for r in component.get(
            "externalReferences", []) if r.get("type") == "distribution"]
        if any(sorted(h or [], key=lambda h: h.get("alg", "")) != actual for h in given):
            faults.append("the SBOM's hashes of %s are not those of the bundle's %s" % (
                program, program))
    return faults
