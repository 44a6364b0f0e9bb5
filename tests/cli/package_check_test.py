#!/usr/bin/env python3
"""The package check catches what a broken package looks like: a library of the wrong
architecture or system, a missing or stray file, a manifest of the wrong shape, a driver card the
equipment library could not read or that names another version or type than the libraries."""
import importlib.util
import os
import struct
import tempfile
import unittest
import zipfile

HERE = os.path.dirname(os.path.abspath(__file__))
module_spec = importlib.util.spec_from_file_location(
    "check_package", os.path.join(HERE, "..", "..", "packaging", "check-package.py"))
check_package = importlib.util.module_from_spec(module_spec)
module_spec.loader.exec_module(check_package)

MANIFEST = open(os.path.join(HERE, "..", "..", "packaging", "MANIFEST.XML"), "rb").read()


def elf(elf_class, machine, e_type=3, sections=()):
    """An ELF header, and with sections a section name table and the section headers."""
    wide = elf_class == 2
    size, entry = (64, 64) if wide else (52, 40)
    head = bytearray(b"\x7fELF" + bytes([elf_class, 1, 1]) + bytes(9) + struct.pack("<HH", e_type, machine))
    head += bytes(size - len(head))
    if not sections:
        return bytes(head)
    names = ["", *sections, ".shstrtab"]
    table = b"".join(n.encode() + b"\0" for n in names)
    starts = [sum(len(n) + 1 for n in names[:i]) for i in range(len(names))]
    if wide:
        struct.pack_into("<Q", head, 0x28, size + len(table))
        struct.pack_into("<HHH", head, 0x3A, entry, len(names), len(names) - 1)
    else:
        struct.pack_into("<I", head, 0x20, size + len(table))
        struct.pack_into("<HHH", head, 0x2E, entry, len(names), len(names) - 1)
    layout = "<I20xQQ24x" if wide else "<I12xII16x"
    headers = b"".join(struct.pack(layout, at, size if i == len(names) - 1 else 0, len(table) if i == len(names) - 1 else 0)
                       for i, at in enumerate(starts))
    return bytes(head) + table + headers


def pe(machine, magic, dll=True, sections=()):
    """A PE header and a section table; names longer than eight bytes go to the string table."""
    stub = bytearray(0x80)
    stub[0:2] = b"MZ"
    struct.pack_into("<I", stub, 0x3C, 0x80)
    strings, raw = b"", []
    for name in sections:
        if len(name) <= 8:
            raw.append(name.encode().ljust(8, b"\0"))
        else:
            raw.append(f"/{4 + len(strings)}".encode().ljust(8, b"\0"))
            strings += name.encode() + b"\0"
    table_at = 0x80 + 24 + 0xE0 + 40 * len(sections)
    header = b"PE\0\0" + struct.pack("<HHIIIHH", machine, len(sections), 0, table_at if strings else 0, 0, 0xE0,
                                      0x2102 if dll else 0x0102)
    optional = struct.pack("<H", magic) + bytes(0xE0 - 2)
    string_table = struct.pack("<I", 4 + len(strings)) + strings if strings else b""
    return bytes(stub) + header + optional + b"".join(n + bytes(32) for n in raw) + string_table


# The texts a library built from the description carries: its version and equipment type.
CARRIED = "2.7\0ККТ\0".encode("utf-16-le")
GOOD = {
    "vesklink_64.so": elf(2, 62) + CARRIED,
    "vesklink.so": elf(1, 3) + CARRIED,
    "vesklink_64.dll": pe(0x8664, 0x20B) + CARRIED,
    "vesklink.dll": pe(0x14C, 0x10B) + CARRIED,
}
CARD = ('<?xml version="1.0" encoding="UTF-8"?>\n<drivers>\n'
        '\t<component progid="AddIn.CAddInNative" name="VESKLINK" version="2.7" type="ККТ" />\n</drivers>\n')


class PackageCheck(unittest.TestCase):
    def package(self, files=None, manifest=MANIFEST, extra=None, card=CARD.encode()):
        files = dict(GOOD if files is None else files)
        files.update(extra or {})
        handle, path = tempfile.mkstemp(suffix=".zip")
        os.close(handle)
        self.addCleanup(os.remove, path)
        with zipfile.ZipFile(path, "w") as z:
            if manifest is not None:
                z.writestr("MANIFEST.XML", manifest)
            if card is not None:
                z.writestr("INFO.XML", card)
            for name, data in files.items():
                z.writestr(name, data)
        return path

    def fails(self, message, **kwargs):
        with self.assertRaises(check_package.Fault) as caught:
            check_package.check(self.package(**kwargs))
        self.assertIn(message, str(caught.exception))

    def test_good_package(self):
        lines = check_package.check(self.package())
        self.assertEqual(len(lines), 5)
        self.assertEqual(lines[-1], "ok: INFO.XML: AddIn.CAddInNative VESKLINK 2.7 ККТ")

    def test_wrong_architecture_or_system(self):
        swapped = dict(GOOD, **{"vesklink.so": GOOD["vesklink_64.so"]})
        self.fails("vesklink.so: ELF class 2 machine 62, not i386", files=swapped)
        swapped = dict(GOOD, **{"vesklink_64.dll": GOOD["vesklink.dll"]})
        self.fails("vesklink_64.dll: PE machine 0x014c", files=swapped)
        self.fails("vesklink.dll: not a PE file", files=dict(GOOD, **{"vesklink.dll": GOOD["vesklink.so"]}))
        self.fails("vesklink.so: not an ELF file", files=dict(GOOD, **{"vesklink.so": GOOD["vesklink.dll"]}))
        self.fails("not a shared object", files=dict(GOOD, **{"vesklink_64.so": elf(2, 62, e_type=2)}))
        self.fails("not a DLL", files=dict(GOOD, **{"vesklink.dll": pe(0x14C, 0x10B, dll=False)}))
        self.fails("not a PE file", files=dict(GOOD, **{"vesklink.dll": b"MZ"}))

    def test_missing_and_stray_files(self):
        files = dict(GOOD)
        del files["vesklink_64.dll"]
        self.fails("vesklink_64.dll named by MANIFEST.XML is missing", files=files)
        self.fails("files the manifest does not name: readme.txt", extra={"readme.txt": b"x"})
        self.fails("no MANIFEST.XML", manifest=None)

    def test_debug_information(self):
        stripped = {
            "vesklink_64.so": elf(2, 62, sections=[".text", ".gnu_debuglink"]) + CARRIED,
            "vesklink.so": elf(1, 3, sections=[".text", ".gnu_debuglink"]) + CARRIED,
            "vesklink_64.dll": pe(0x8664, 0x20B, sections=[".text", ".rdata"]) + CARRIED,
            "vesklink.dll": pe(0x14C, 0x10B, sections=[".text", ".reloc"]) + CARRIED,
        }
        self.assertEqual(len(check_package.check(self.package(files=stripped))), 5)
        for name, data in [("vesklink_64.so", elf(2, 62, sections=[".text", ".debug_info"])),
                           ("vesklink.so", elf(1, 3, sections=[".text", ".zdebug_line"])),
                           ("vesklink_64.dll", pe(0x8664, 0x20B, sections=[".text", ".debug_aranges"])),
                           ("vesklink.dll", pe(0x14C, 0x10B, sections=[".text", ".debug_i"]))]:
            with self.subTest(name):
                self.fails(f"{name}: carries debug information", files=dict(stripped, **{name: data}))

    def test_manifest_shape(self):
        text = MANIFEST.decode()
        self.fails("root is", manifest=text.replace("http://v8.1c.ru/8.2/addin/bundle", "urn:other"))
        self.fails("not well-formed", manifest=text.replace("</bundle>", ""))
        self.fails("no component for Linux i386",
                   manifest=text.replace('<component os="Linux" path="vesklink.so" type="native" arch="i386"/>', ""),
                   files={k: v for k, v in GOOD.items() if k != "vesklink.so"})
        again = '\t<component os="Linux" path="vesklink_64.so" type="native" arch="x86_64"/>\n</bundle>'
        self.fails("two components for Linux x86_64", manifest=text.replace("</bundle>", again))
        self.fails("type 'com', not native", manifest=text.replace('path="vesklink.dll" type="native"',
                                                                   'path="vesklink.dll" type="com"'))
        self.fails("component with os='linux'", manifest=text.replace('os="Linux"', 'os="linux"', 1))
        self.fails("is not a file name", manifest=text.replace('path="vesklink.so"', 'path="lib/vesklink.so"'))

    def test_driver_card(self):
        cases = [
            ("no INFO.XML", None),
            ("does not start with the declaration", CARD.replace(' encoding="UTF-8"', "")),
            ("does not start with the declaration", "\ufeff" + CARD),
            ("not well-formed UTF-8", CARD.encode("cp1251")),
            ("not one component under drivers", CARD.replace("drivers>", "driver>")),
            ("not one component under drivers", CARD.replace("</drivers>", "<component />\n</drivers>")),
            ("progid 'AddIn.vesklink'", CARD.replace("AddIn.CAddInNative", "AddIn.vesklink")),
            ("type 'ККМ', not ККТ", CARD.replace('type="ККТ"', 'type="ККМ"')),
            ("no name", CARD.replace(' name="VESKLINK"', "")),
            ("version '' is not a version number", CARD.replace('version="2.7" ', 'version="" ')),
            # A card from another build than the libraries beside it.
            ("vesklink.dll: does not carry the version '2.8'", CARD.replace('version="2.7"', 'version="2.8"')),
        ]
        for message, card in cases:
            with self.subTest(message):
                self.fails(message, card=card.encode() if isinstance(card, str) else card)


if __name__ == "__main__":
    unittest.main()
