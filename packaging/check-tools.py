#!/usr/bin/env python3
"""Checks the tools archive: vesklink-cli.exe (a 64-bit Windows console program), vesklink-cli and
vesklink-sim (64-bit Linux programs, marked executable) and README.txt, nothing else, each program
of its system and architecture and without debug information. The ELF and PE readers are those of
check-package.py. Prints one line per file; exits 1 on the first fault."""
import importlib.util
import os
import struct
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
_spec = importlib.util.spec_from_file_location("check_package", os.path.join(HERE, "check-package.py"))
check_package = importlib.util.module_from_spec(_spec)
_spec.loader.exec_module(check_package)
Fault = check_package.Fault

README = "README.txt"
PROGRAMS = {"vesklink-cli.exe": "Windows", "vesklink-cli": "Linux", "vesklink-sim": "Linux"}
PT_INTERP = 3


def elf_interpreter(data):
    """Whether a 64-bit ELF file names a program interpreter (a position-independent program does;
    a shared library does not)."""
    if len(data) < 64:
        raise Fault("ELF header cut short")
    phoff, = struct.unpack_from("<Q", data, 0x20)
    phentsize, phnum = struct.unpack_from("<HH", data, 0x36)
    if phoff + phnum * phentsize > len(data) or (phnum and phentsize < 56):
        raise Fault("program headers lie outside the file")
    return any(struct.unpack_from("<I", data, phoff + i * phentsize)[0] == PT_INTERP for i in range(phnum))


def check_linux_program(name, data):
    if len(data) < 20 or data[:4] != b"\x7fELF":
        raise Fault(f"{name}: not an ELF file")
    e_type, e_machine = struct.unpack_from("<HH", data, 16)
    if (data[4], data[5], e_machine) != (2, 1, 62):
        raise Fault(f"{name}: ELF class {data[4]} machine {e_machine}, not x86_64")
    try:
        program = e_type == 2 or (e_type == 3 and elf_interpreter(data))
    except Fault as fault:
        raise Fault(f"{name}: {fault}")
    if not program:
        raise Fault(f"{name}: ELF type {e_type} without an interpreter, not a program")
    check_package.no_debug(name, check_package.elf_sections(name, data))
    return "ELF64 x86_64 program"


def check_windows_program(name, data):
    if len(data) < 0x40 or data[:2] != b"MZ":
        raise Fault(f"{name}: not a PE file")
    (offset,) = struct.unpack_from("<I", data, 0x3C)
    if offset + 24 + 70 > len(data) or data[offset:offset + 4] != b"PE\0\0":
        raise Fault(f"{name}: no PE header")
    machine, = struct.unpack_from("<H", data, offset + 4)
    characteristics, magic = struct.unpack_from("<HH", data, offset + 22)
    subsystem, = struct.unpack_from("<H", data, offset + 24 + 68)
    if characteristics & 0x2000:
        raise Fault(f"{name}: a DLL, not a program")
    if (machine, magic) != (0x8664, 0x20B):
        raise Fault(f"{name}: PE machine 0x{machine:04x} magic 0x{magic:03x}, not x86_64")
    if subsystem != 3:
        raise Fault(f"{name}: subsystem {subsystem}, not a console program")
    check_package.no_debug(name, check_package.pe_sections(data, offset))
    return "PE32+ x86_64 console program"


def check(path):
    archive, names = check_package.open_archive(path)
    with archive:
        expected = set(PROGRAMS) | {README}
        if set(names) - expected:
            raise Fault(f"{path}: files that do not belong: {', '.join(sorted(set(names) - expected))}")
        if expected - set(names):
            raise Fault(f"{path}: missing: {', '.join(sorted(expected - set(names)))}")
        lines = []
        for name, system in sorted(PROGRAMS.items()):
            data = archive.read(name)
            if system == "Linux":
                what = check_linux_program(name, data)
                if not (archive.getinfo(name).external_attr >> 16) & 0o100:
                    raise Fault(f"{name}: not marked executable")
            else:
                what = check_windows_program(name, data)
            lines.append(f"ok: {name}: {what}")
        try:
            text = archive.read(README).decode("utf-8")
        except UnicodeDecodeError:
            raise Fault(f"{README}: not UTF-8 text")
        absent = [name for name in PROGRAMS if name not in text]
        if absent:
            raise Fault(f"{README}: says nothing of {', '.join(absent)}")
        lines.append(f"ok: {README}: {len(text.splitlines())} lines")
        return lines


def main(argv):
    return check_package.run(argv, "check-tools.py vesklink-tools.zip", check,
                             "ok: the tools archive holds the three programs and the README, nothing else")


if __name__ == "__main__":
    sys.exit(main(sys.argv))
