#!/usr/bin/env python3
"""Checks the built Quenlet.exe as a downloaded file: hardened PE header flags, a GUI subsystem,
and static imports only from system DLLs that the loader never looks for beside the exe
(KnownDLLs, or the common controls, which the manifest redirects to the side-by-side store).
Usage: check_exe.py QUENLET_EXE [OBJDUMP]"""

import re
import subprocess
import sys
import unittest

EXE = sys.argv[1] if len(sys.argv) > 1 else None
OBJDUMP = sys.argv[2] if len(sys.argv) > 2 else "x86_64-w64-mingw32-objdump"

ALLOWED_IMPORTS = {"kernel32.dll", "user32.dll", "gdi32.dll", "ole32.dll", "oleaut32.dll", "advapi32.dll",
                   "msvcrt.dll", "comctl32.dll"}


def headers():
    return subprocess.run([OBJDUMP, "-p", EXE], check=True, capture_output=True, text=True).stdout


class ExeTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.text = headers()

    def test_aslr_with_high_entropy_and_dep(self):
        m = re.search(r"DllCharacteristics\s+([0-9a-fA-F]+)", self.text)
        self.assertIsNotNone(m, "no DllCharacteristics in the header")
        flags = int(m.group(1), 16)
        for name, bit in (("HIGH_ENTROPY_VA", 0x20), ("DYNAMIC_BASE", 0x40), ("NX_COMPAT", 0x100)):
            self.assertTrue(flags & bit, f"{name} missing from {flags:#06x}")

    def test_is_a_64_bit_gui_exe(self):
        self.assertRegex(self.text, r"Magic\s+020b")
        self.assertRegex(self.text, r"Subsystem\s+00000002")

    def test_imports_only_system_dlls(self):
        imports = {m.lower() for m in re.findall(r"DLL Name: (\S+)", self.text)}
        self.assertTrue(imports, "no imports found: objdump output changed?")
        self.assertLessEqual(imports, ALLOWED_IMPORTS, f"unexpected imports: {sorted(imports - ALLOWED_IMPORTS)}")

    def test_manifest_runs_as_invoker_with_common_controls_6(self):
        with open(EXE, "rb") as f:
            data = f.read()
        self.assertIn(b'level="asInvoker"', data)
        self.assertIn(b'name="Microsoft.Windows.Common-Controls" version="6.0.0.0"', data)


if __name__ == "__main__":
    unittest.main(argv=[sys.argv[0]], verbosity=2)
