#!/usr/bin/env python3
"""The tools archive check catches what a broken archive looks like: a program missing or of the
wrong kind (a DLL, a shared library, 32-bit), a stray file, a Linux program not marked executable."""
import importlib.util
import os
import tempfile
import unittest
import zipfile

HERE = os.path.dirname(os.path.abspath(__file__))


def load(name, path):
    loader_spec = importlib.util.spec_from_file_location(name, path)
    module = importlib.util.module_from_spec(loader_spec)
    loader_spec.loader.exec_module(module)
    return module


check_tools = load("check_tools", os.path.join(HERE, "..", "..", "packaging", "check-tools.py"))
fakes = load("package_check_test", os.path.join(HERE, "package_check_test.py"))

EXE = fakes.pe(0x8664, 0x20B, dll=False)
EXE = EXE[:0x80 + 24 + 68] + b"\x03\x00" + EXE[0x80 + 24 + 70:]  # the console subsystem
GOOD = {"vesklink-cli.exe": EXE, "vesklink-cli": fakes.elf(2, 62, e_type=2),
        "vesklink-sim": fakes.elf(2, 62, e_type=2), "README.txt": b"vesklink-cli.exe vesklink-cli vesklink-sim"}


class ToolsCheck(unittest.TestCase):
    def archive(self, files, mode=0o755):
        handle, path = tempfile.mkstemp(suffix=".zip")
        os.close(handle)
        self.addCleanup(os.remove, path)
        with zipfile.ZipFile(path, "w") as z:
            for name, data in files.items():
                info = zipfile.ZipInfo(name)
                info.external_attr = mode << 16
                z.writestr(info, data)
        return path

    def test_good_archive(self):
        self.assertEqual(len(check_tools.check(self.archive(GOOD))), 4)

    def test_faults(self):
        cases = [
            ("missing: vesklink-sim", {k: v for k, v in GOOD.items() if k != "vesklink-sim"}, 0o755),
            ("files that do not belong: vesklink_64.dll", dict(GOOD, **{"vesklink_64.dll": EXE}), 0o755),
            ("vesklink-cli.exe: a DLL", dict(GOOD, **{"vesklink-cli.exe": fakes.pe(0x8664, 0x20B)}), 0o755),
            ("not a console program", dict(GOOD, **{"vesklink-cli.exe": fakes.pe(0x8664, 0x20B, dll=False)}), 0o755),
            ("vesklink-cli: ELF class 1 machine 3", dict(GOOD, **{"vesklink-cli": fakes.elf(1, 3, e_type=2)}), 0o755),
            ("vesklink-sim: ELF type 3 without an interpreter", dict(GOOD, **{"vesklink-sim": fakes.elf(2, 62)}), 0o755),
            ("vesklink-cli: carries debug information",
             dict(GOOD, **{"vesklink-cli": fakes.elf(2, 62, e_type=2, sections=[".debug_info"])}), 0o755),
            ("not marked executable", GOOD, 0o644),
            ("README.txt: says nothing of vesklink-sim", dict(GOOD, **{"README.txt": b"vesklink-cli.exe"}), 0o755),
        ]
        for message, files, mode in cases:
            with self.subTest(message):
                with self.assertRaises(check_tools.Fault) as caught:
                    check_tools.check(self.archive(files, mode))
                self.assertIn(message, str(caught.exception))


if __name__ == "__main__":
    unittest.main()
