"""The setup's program file: a 32-bit Windows GUI image that needs no DLL beyond Windows' own."""

import re
import shutil
import subprocess
import unittest

import bench

OBJDUMP = shutil.which("i686-w64-mingw32-objdump") or "i686-w64-mingw32-objdump"

# DLLs that every Windows from 2000 on ships in its system folder.
SYSTEM_DLLS = {
    "advapi32.dll", "comctl32.dll", "comdlg32.dll", "gdi32.dll", "kernel32.dll", "msvcrt.dll",
    "ole32.dll", "oleaut32.dll", "shell32.dll", "shlwapi.dll", "user32.dll", "version.dll",
    "imm32.dll", "winmm.dll",
}


class ProgramImage(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        bench.require_artifacts(bench.SETUP_EXE)
        r = subprocess.run([OBJDUMP, "-p", str(bench.SETUP_EXE)], capture_output=True, text=True, check=True)
        cls.dump = r.stdout

    def test_pe32_i386_gui_program(self):
        self.assertIn("file format pei-i386", self.dump)
        self.assertRegex(self.dump, r"(?m)^Subsystem\s+00000002\b")  # Windows GUI

    def test_imports_system_dlls_only(self):
        imported = {name.lower() for name in re.findall(r"DLL Name: (\S+)", self.dump)}
        self.assertTrue(imported, "the import table lists DLLs")
        self.assertEqual(imported - SYSTEM_DLLS, set(), "DLLs that are not Windows' own")
        # The rich edit library is loaded at run time from the system folder, never through the
        # import table (which would search the program's folder first).
        self.assertNotIn("riched20.dll", imported)


if __name__ == "__main__":
    unittest.main()
