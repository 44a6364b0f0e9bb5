#!/usr/bin/env python3
"""Checks an add-in package: MANIFEST.XML names one native component for each of Windows and
Linux on i386 and x86_64, every file it names is in the archive, and each is a shared library of
the stated system and architecture (ELF class and machine, PE machine and DLL flag) without debug
information (every client downloads the package; the debug information has a package of its own).
INFO.XML, the driver card the equipment library reads, is UTF-8 with its declaration and names
the component AddIn.CAddInNative, with a name, and the version and equipment type that every
library carries as its own text. Nothing else may lie in the archive. Prints one line per
component; exits 1 on the first fault."""
import re
import struct
import sys
import xml.etree.ElementTree as ET
import zipfile

NAMESPACE = "http://v8.1c.ru/8.2/addin/bundle"
MANIFEST = "MANIFEST.XML"
CARD = "INFO.XML"
PROGID = "AddIn.CAddInNative"
EQUIPMENT_TYPE = "ККТ"
EXPECTED = {("Windows", "i386"), ("Windows", "x86_64"), ("Linux", "i386"), ("Linux", "x86_64")}

# ELF: class (1 = 32-bit, 2 = 64-bit) and e_machine; PE: Machine and the optional header magic.
ELF_KIND = {"i386": (1, 3), "x86_64": (2, 62)}
PE_KIND = {"i386": (0x014C, 0x010B), "x86_64": (0x8664, 0x020B)}


class Fault(Exception):
    pass


def is_debug(section):
    return section.startswith((".debug", ".zdebug", ".gnu.debuglto"))


def elf_sections(name, data):
    """Section names from the section headers and the section name table."""
    wide = data[4] == 2
    if len(data) < (64 if wide else 52):
        raise Fault(f"{name}: ELF header cut short")
    shoff, = struct.unpack_from("<Q" if wide else "<I", data, 0x28 if wide else 0x20)
    shentsize, shnum, shstrndx = struct.unpack_from("<HHH", data, 0x3A if wide else 0x2E)
    if shoff == 0 or shnum == 0:
        return []
    if shentsize < (64 if wide else 40) or shstrndx >= shnum or shoff + shnum * shentsize > len(data):
        raise Fault(f"{name}: section headers lie outside the file")

    def header(i):
        at = shoff + i * shentsize
        if wide:
            name_at, offset, size = struct.unpack_from("<I20xQQ", data, at)
        else:
            name_at, offset, size = struct.unpack_from("<I12xII", data, at)
        return name_at, offset, size

    _, table_at, table_size = header(shstrndx)
    table = data[table_at:table_at + table_size]
    names = []
    for i in range(shnum):
        name_at = header(i)[0]
        end = table.find(b"\0", name_at)
        names.append(table[name_at:end if end >= 0 else len(table)].decode("latin-1"))
    return names


def pe_sections(data, offset):
    """Section names; a long name ("/4") is read from the COFF string table."""
    sections, optional_size = struct.unpack_from("<H12xH", data, offset + 6)
    symbols_at, symbol_count = struct.unpack_from("<II", data, offset + 12)
    strings_at = symbols_at + symbol_count * 18 if symbols_at else 0
    names = []
    first = offset + 24 + optional_size
    for i in range(sections):
        raw = data[first + i * 40:first + i * 40 + 8].rstrip(b"\0").decode("latin-1")
        if raw.startswith("/") and raw[1:].isdigit() and strings_at:
            start = strings_at + int(raw[1:])
            end = data.find(b"\0", start)
            raw = data[start:end if end >= 0 else len(data)].decode("latin-1")
        names.append(raw)
    return names


def no_debug(name, sections):
    debug = [s for s in sections if is_debug(s)]
    if debug:
        raise Fault(f"{name}: carries debug information ({', '.join(debug)}); package the stripped library")


def check_elf(name, data, arch):
    if len(data) < 20 or data[:4] != b"\x7fELF":
        raise Fault(f"{name}: not an ELF file")
    if data[5] != 1:
        raise Fault(f"{name}: not little-endian")
    elf_class = data[4]
    e_type, e_machine = struct.unpack_from("<HH", data, 16)
    if e_type != 3:
        raise Fault(f"{name}: ELF type {e_type}, not a shared object")
    if (elf_class, e_machine) != ELF_KIND[arch]:
        raise Fault(f"{name}: ELF class {elf_class} machine {e_machine}, not {arch}")
    no_debug(name, elf_sections(name, data))
    return f"ELF{32 if elf_class == 1 else 64} shared object, machine {e_machine}"


def check_pe(name, data, arch):
    if len(data) < 0x40 or data[:2] != b"MZ":
        raise Fault(f"{name}: not a PE file")
    (offset,) = struct.unpack_from("<I", data, 0x3C)
    if offset + 26 > len(data) or data[offset:offset + 4] != b"PE\0\0":
        raise Fault(f"{name}: no PE header")
    machine, = struct.unpack_from("<H", data, offset + 4)
    characteristics, magic = struct.unpack_from("<HH", data, offset + 22)
    if not characteristics & 0x2000:
        raise Fault(f"{name}: a PE image but not a DLL")
    if (machine, magic) != PE_KIND[arch]:
        raise Fault(f"{name}: PE machine 0x{machine:04x} magic 0x{magic:03x}, not {arch}")
    no_debug(name, pe_sections(data, offset))
    return f"PE{'32+' if magic == 0x20B else '32'} DLL, machine 0x{machine:04x}"


def check_card(data):
    """The driver card's attributes; raises Fault when the equipment library could not read it."""
    if not re.match(rb'<\?xml version="1\.0" encoding="UTF-8"\?>\r?\n', data):
        raise Fault(f"{CARD}: does not start with the declaration of version 1.0 and encoding UTF-8")
    try:
        data.decode("utf-8")
        root = ET.fromstring(data)
    except (UnicodeDecodeError, ET.ParseError) as e:
        raise Fault(f"{CARD}: not well-formed UTF-8 XML: {e}")
    components = list(root)
    if root.tag != "drivers" or len(components) != 1 or components[0].tag != "component":
        raise Fault(f"{CARD}: not one component under drivers")
    card = components[0].attrib
    if card.get("progid") != PROGID:
        raise Fault(f"{CARD}: progid {card.get('progid')!r}, not {PROGID}")
    if card.get("type") != EQUIPMENT_TYPE:
        raise Fault(f"{CARD}: type {card.get('type')!r}, not {EQUIPMENT_TYPE}")
    if not card.get("name"):
        raise Fault(f"{CARD}: no name")
    if not re.fullmatch(r"\d+(\.\d+)+", card.get("version") or ""):
        raise Fault(f"{CARD}: version {card.get('version')!r} is not a version number")
    return card


def carries(data, text):
    """The library holds the text as a string of its own: two-byte units, then a zero unit."""
    return (text + "\0").encode("utf-16-le") in data


def open_archive(path):
    """The zip archive at path and its entry names, none of which may appear twice."""
    try:
        archive = zipfile.ZipFile(path)
    except (OSError, zipfile.BadZipFile) as e:
        raise Fault(f"{path}: cannot open: {e}")
    names = archive.namelist()
    if len(names) != len(set(names)):
        archive.close()
        raise Fault(f"{path}: an entry appears twice")
    return archive, names


def check(path):
    archive, names = open_archive(path)
    with archive:
        if MANIFEST not in names:
            raise Fault(f"{path}: no {MANIFEST}")
        try:
            root = ET.fromstring(archive.read(MANIFEST))
        except ET.ParseError as e:
            raise Fault(f"{MANIFEST}: not well-formed: {e}")
        if root.tag != f"{{{NAMESPACE}}}bundle":
            raise Fault(f"{MANIFEST}: root is {root.tag}, not bundle in {NAMESPACE}")
        if CARD not in names:
            raise Fault(f"{path}: no {CARD}")
        card = check_card(archive.read(CARD))
        seen = {}
        lines = []
        for element in root:
            if element.tag != f"{{{NAMESPACE}}}component":
                raise Fault(f"{MANIFEST}: unexpected element {element.tag}")
            os_name, arch = element.get("os"), element.get("arch")
            kind, file_name = element.get("type"), element.get("path") or ""
            if (os_name, arch) not in EXPECTED:
                raise Fault(f"{MANIFEST}: component with os={os_name!r} arch={arch!r}")
            if kind != "native":
                raise Fault(f"{MANIFEST}: {file_name}: type {kind!r}, not native")
            if not file_name or "/" in file_name or "\\" in file_name or file_name in (".", ".."):
                raise Fault(f"{MANIFEST}: path {file_name!r} is not a file name")
            if (os_name, arch) in seen:
                raise Fault(f"{MANIFEST}: two components for {os_name} {arch}")
            if file_name in seen.values():
                raise Fault(f"{MANIFEST}: {file_name} named twice")
            if file_name not in names:
                raise Fault(f"{path}: {file_name} named by {MANIFEST} is missing")
            seen[(os_name, arch)] = file_name
            data = archive.read(file_name)
            what = check_elf(file_name, data, arch) if os_name == "Linux" else check_pe(file_name, data, arch)
            for field in ("version", "type"):
                if not carries(data, card[field]):
                    raise Fault(f"{file_name}: does not carry the {field} {card[field]!r} that {CARD} names")
            lines.append(f"ok: {os_name} {arch}: {file_name}: {what}")
        missing = EXPECTED - set(seen)
        if missing:
            raise Fault(f"{MANIFEST}: no component for {', '.join(' '.join(m) for m in sorted(missing))}")
        strays = set(names) - set(seen.values()) - {MANIFEST, CARD}
        if strays:
            raise Fault(f"{path}: files the manifest does not name: {', '.join(sorted(strays))}")
        lines.append(f"ok: {CARD}: {card['progid']} {card['name']} {card['version']} {card['type']}")
        return lines


def run(argv, usage, checker, verdict):
    """The command line of a checker: one archive, its lines printed, the first fault printed and
    exit 1, the verdict printed and exit 0 when nothing was wrong."""
    if len(argv) != 2:
        print(f"usage: {usage}", file=sys.stderr)
        return 2
    try:
        for line in checker(argv[1]):
            print(line)
    except Fault as fault:
        print(f"FAIL: {fault}")
        return 1
    print(verdict)
    return 0


def main(argv):
    return run(argv, "check-package.py PACKAGE.zip", check,
               "ok: every library the manifest names is in the package, of its system and architecture")


if __name__ == "__main__":
    sys.exit(main(sys.argv))
