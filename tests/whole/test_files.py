"""File-level checks of a launcher program: machine type, windowed subsystem, the DLLs it
loads, its icon group, version information and manifest.
Usage: test_files.py PROGRAM 64|32 VERSION"""
import struct
import sys
import unittest
from xml.etree import ElementTree

PROGRAM, ARCH, VERSION = sys.argv[1], int(sys.argv[2]), sys.argv[3]
RT_ICON, RT_GROUP_ICON, RT_VERSION, RT_MANIFEST = 3, 14, 16, 24
SUPPORTED_OS = {
    "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}",  # Windows 7
    "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}",  # Windows 8
    "{1f676c76-80e1-4239-95bb-83d0f6d0da78}",  # Windows 8.1
    "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}",  # Windows 10 and 11
}
# (size, bits per pixel) of the icon group's images, in order.
ICON_IMAGES = [(256, 24), (128, 24), (48, 24), (32, 24), (16, 8)]


class PortableExecutable:
    def __init__(self, data):
        self.data = data
        pe = struct.unpack_from("<I", data, 0x3C)[0]
        assert data[pe:pe + 4] == b"PE\0\0", "not a PE file"
        self.machine, sections, _, _, _, optional_size, _ = struct.unpack_from("<HHIIIHH", data,
                                                                             pe + 4)
        optional = pe + 24
        self.magic = struct.unpack_from("<H", data, optional)[0]
        self.subsystem = struct.unpack_from("<H", data, optional + 68)[0]
        directories = optional + (112 if self.magic == 0x20B else 96)
        self.directories = [struct.unpack_from("<II", data, directories + 8 * i)
                            for i in range(16)]
        table = optional + optional_size
        self.sections = [struct.unpack_from("<IIII", data, table + 40 * i + 8)
                         for i in range(sections)]

    def offset(self, rva):
        for virtual_size, address, raw_size, raw in self.sections:
            if address <= rva < address + max(virtual_size, raw_size):
                return raw + rva - address
        raise ValueError("address %x lies in no section" % rva)

    def string(self, rva):
        start = self.offset(rva)
        return self.data[start:self.data.index(b"\0", start)].decode()

    def imports(self):
        names, at = [], self.offset(self.directories[1][0])
        while True:
            descriptor = struct.unpack_from("<IIIII", self.data, at)
            if descriptor == (0, 0, 0, 0, 0):
                return names
            names.append(self.string(descriptor[3]))
            at += 20

    def resources(self):
        """{(type, id): bytes} of every resource with numeric type and id (any language)."""
        base = self.offset(self.directories[2][0])
        found = {}

        def entries(directory):
            named, ids = struct.unpack_from("<HH", self.data, base + directory + 12)
            for i in range(named + ids):
                yield struct.unpack_from("<II", self.data, base + directory + 16 + 8 * i)

        for kind, to_names in entries(0):
            for name, to_languages in entries(to_names & 0x7FFFFFFF):
                for _, to_data in entries(to_languages & 0x7FFFFFFF):
                    rva, size = struct.unpack_from("<II", self.data, base + to_data)
                    start = self.offset(rva)
                    found[(kind, name)] = self.data[start:start + size]
        return found


def image_shape(image):
    """(width, height, bits per pixel) of an icon image: a PNG or a bitmap with its mask."""
    if image.startswith(b"\x89PNG\r\n\x1a\n"):
        width, height, depth, colour = struct.unpack_from(">IIBB", image, 16)
        channels = {0: 1, 2: 3, 3: 1, 4: 2, 6: 4}[colour]
        return width, height, depth * channels
    _, width, height, _, bits = struct.unpack_from("<IiiHH", image, 0)
    return width, height // 2, bits


def version_block(data, at=0):
    """(key, value bytes, children) of a version-information block and those below it."""
    length, value_length, kind = struct.unpack_from("<HHH", data, at)
    end = data.index(b"\0\0", at + 6)
    while (end - at - 6) % 2:
        end = data.index(b"\0\0", end + 1)
    key = data[at + 6:end].decode("utf-16-le")
    value_at = (end + 2 + 3) & ~3
    value_bytes = value_length * (2 if kind == 1 else 1)
    value = data[value_at:value_at + value_bytes]
    children, child = [], (value_at + value_bytes + 3) & ~3
    while child < at + length:
        children.append(version_block(data, child))
        child = (child + struct.unpack_from("<H", data, child)[0] + 3) & ~3
    return key, value, children


class ProgramFile(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        with open(PROGRAM, "rb") as f:
            cls.pe = PortableExecutable(f.read())

    def test_machine_type(self):
        self.assertEqual((self.pe.machine, self.pe.magic),
                         (0x8664, 0x20B) if ARCH == 64 else (0x14C, 0x10B))

    def test_windowed(self):
        self.assertEqual(self.pe.subsystem, 2)

    def test_loads_only_system_dlls(self):
        self.assertEqual(sorted(name.lower() for name in self.pe.imports()),
                         ["advapi32.dll", "kernel32.dll", "msvcrt.dll"])

    def test_one_icon_group_of_five_agreeing_images(self):
        resources = self.pe.resources()
        groups = [data for (kind, _), data in resources.items() if kind == RT_GROUP_ICON]
        self.assertEqual(len(groups), 1)
        group = groups[0]
        _, kind, count = struct.unpack_from("<HHH", group, 0)
        self.assertEqual((kind, count), (1, len(ICON_IMAGES)))
        icons = {name: data for (kind, name), data in resources.items() if kind == RT_ICON}
        self.assertEqual(len(icons), len(ICON_IMAGES))
        for i, (size, bits) in enumerate(ICON_IMAGES):
            width, height, _, _, planes, bit_count, byte_count, icon_id = struct.unpack_from(
                "<BBBBHHIH", group, 6 + 14 * i)
            with self.subTest(size=size):
                self.assertEqual((width or 256, height or 256, planes, bit_count),
                                 (size, size, 1, bits))
                self.assertIn(icon_id, icons)
                image = icons[icon_id]
                self.assertEqual(byte_count, len(image))
                self.assertEqual(image_shape(image), (size, size, bits))

    def test_version_information(self):
        key, fixed, children = version_block(self.pe.resources()[(RT_VERSION, 1)])
        self.assertEqual(key, "VS_VERSION_INFO")
        signature, _, file_ms, file_ls, product_ms, product_ls = struct.unpack_from("<6I", fixed)
        numbers = [int(n) for n in VERSION.split(".")] + [0]
        expected = (numbers[0] << 16 | numbers[1], numbers[2] << 16 | numbers[3])
        self.assertEqual(signature, 0xFEEF04BD)
        self.assertEqual(((file_ms, file_ls), (product_ms, product_ls)), (expected, expected))
        strings = {name: value.decode("utf-16-le").rstrip("\0")
                   for block_key, _, tables in children if block_key == "StringFileInfo"
                   for _, _, entries in tables for name, value, _ in entries}
        name = "launcher%d" % ARCH
        self.assertEqual(strings, {
            "FileDescription": "Quorvel launcher (%d-bit)" % ARCH,
            "FileVersion": VERSION,
            "InternalName": name,
            "LegalCopyright": "Copyright (c) 2026 The Quorvel launcher authors",
            "OriginalFilename": name + ".exe",
            "ProductName": "Quorvel launcher",
            "ProductVersion": VERSION,
        })

    def test_manifest(self):
        manifest = ElementTree.fromstring(self.pe.resources()[(RT_MANIFEST, 1)])
        levels = [(e.get("level"), e.get("uiAccess")) for e in manifest.iter()
                  if e.tag.endswith("}requestedExecutionLevel")]
        self.assertEqual(levels, [("asInvoker", "false")])
        supported = {e.get("Id") for e in manifest.iter() if e.tag.endswith("}supportedOS")}
        self.assertEqual(supported, SUPPORTED_OS)


if __name__ == "__main__":
    unittest.main(argv=[sys.argv[0]] + sys.argv[4:], verbosity=2)
