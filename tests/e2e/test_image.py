"""The setup's program file: a 32-bit Windows GUI image that needs no DLL beyond Windows' own; and
the 64-bit test build of the same sources, which the bench runs where 32-bit code cannot run, is
what its name says. Needs no Wine: runs on every machine."""

import re
import shutil
import subprocess
import unittest

import wine



def objdump(arch):
    name = f"{arch}-w64-mingw32-objdump"
    return shutil.which(name) or name


# DLLs that every Windows from 2000 on ships in its system folder.
SYSTEM_DLLS = {
    "advapi32.dll", "comctl32.dll", "comdlg32.dll", "gdi32.dll", "kernel32.dll", "msvcrt.dll",
    "ole32.dll", "oleaut32.dll", "shell32.dll", "shlwapi.dll", "user32.dll", "version.dll",
    "imm32.dll", "winmm.dll",
}


class ProgramImage(unittest.TestCase):
    EXE = wine.PRODUCT_EXE
    FORMAT = "pei-i386"
    ARCH = "i686"

    @classmethod
    def setUpClass(cls):
        wine.require_artifacts(cls.EXE)
        r = subprocess.run([objdump(cls.ARCH), "-p", str(cls.EXE)], capture_output=True, text=True, check=True)
        cls.dump = r.stdout

    def test_windows_gui_program_of_its_architecture(self):
        self.assertIn(f"file format {self.FORMAT}\n", self.dump)
        self.assertRegex(self.dump, r"(?m)^Subsystem\s+00000002\b")  # Windows GUI

    def test_imports_system_dlls_only(self):
        imported = {name.lower() for name in re.findall(r"DLL Name: (\S+)", self.dump)}
        self.assertTrue(imported, "the import table lists DLLs")
        self.assertEqual(imported - SYSTEM_DLLS, set(), "DLLs that are not Windows' own")
        # The rich edit library is loaded at run time from the system folder, never through the
        # import table (which would search the program's folder first).
        self.assertNotIn("riched20.dll", imported)


class TestBuildImage(ProgramImage):
    EXE = wine.TEST_BUILD_EXE
    FORMAT = "pei-x86-64"
    ARCH = "x86_64"


if __name__ == "__main__":
    unittest.main()
