"""The layers of the program hold in its build: a source of one layer compiles with the headers of
its own layer and of those below it, and fails to compile with a header of a layer above; and a
quoted include that is not written from the source root (a relative path, a bare name) is refused
before anything compiles. Runs against the 32-bit cross build (build/win32)."""

import os
import pathlib
import subprocess
import sys
import tempfile
import unittest

ROOT = pathlib.Path(__file__).resolve().parents[2]
WIN32_DIR = pathlib.Path(os.environ.get("QUENTARO_WIN32_DIR", ROOT / "build" / "win32"))
COMPILER = "i686-w64-mingw32-g++-win32"
DEFINES = ["-DUNICODE", "-D_UNICODE", "-DSTRICT", "-DNOMINMAX", "-DWIN32_LEAN_AND_MEAN", "-D_WIN32_WINNT=0x0501",
           "-DWINVER=0x0501", "-D_WIN32_IE=0x0600", "-std=c++17"]

# (target, its build folder, a header it may include, headers of the layers above it)
LAYERS = [
    ("quentaro_core", "core", "core/engine.h", ["win/handles.h", "engine/install_job.h"]),
    ("quentaro_win", "win", "win/handles.h", ["core/engine.h", "engine/install_job.h"]),
    ("quentaro_engine", "engine", "core/checks.h",
     ["app/setup_app.h", "wizard/setup_prop_sheet.h", "pages/copy_file_prop_page.h", "wizard/page_look.h",
      "controls/percent_progress_ctrl.h"]),
    ("quentaro_controls", "controls", "win/subclass.h", ["engine/install_job.h", "pages/setup_prop_page.h"]),
    ("quentaro_page_look", "wizard", "win/property_sheet.h",
     ["wizard/setup_prop_sheet.h", "pages/setup_prop_page.h", "engine/install_job.h"]),
    ("quentaro_pages", "pages", "engine/install_job.h", ["wizard/setup_prop_sheet.h", "app/setup_app.h"]),
    ("quentaro_wizard", "wizard", "pages/copy_file_prop_page.h", ["app/setup_app.h", "app/install_thread.h"]),
]


def compile_include(target, folder, header):
    rsp = WIN32_DIR / folder / "CMakeFiles" / f"{target}.dir" / "includes_CXX.rsp"
    with tempfile.TemporaryDirectory() as scratch:
        source = pathlib.Path(scratch) / "probe.cpp"
        source.write_text(f'#include "{header}"\n')
        return subprocess.run([COMPILER, *DEFINES, f"@{rsp}", "-fsyntax-only", str(source)],
                              capture_output=True, text=True, timeout=120)


def check_includes(text):
    with tempfile.TemporaryDirectory() as scratch:
        source = pathlib.Path(scratch) / "engine" / "probe.cpp"
        source.parent.mkdir()
        source.write_text(text)
        stamp = pathlib.Path(scratch) / "stamp"
        return subprocess.run(["cmake", f"-DFILES={source}", f"-DROOT={scratch}", f"-DSTAMP={stamp}", "-P",
                               str(ROOT / "cmake" / "check_includes.cmake")], capture_output=True, text=True,
                              timeout=60), stamp.exists()


class Layers(unittest.TestCase):
    def test_a_layer_sees_its_own_and_lower_headers_and_not_those_above(self):
        for target, folder, allowed, above in LAYERS:
            with self.subTest(target=target, header=allowed):
                result = compile_include(target, folder, allowed)
                self.assertEqual(result.returncode, 0, result.stderr)
            for header in above:
                with self.subTest(target=target, header=header):
                    result = compile_include(target, folder, header)
                    self.assertNotEqual(result.returncode, 0)
                    self.assertIn(f"{header}: No such file or directory", result.stderr)

    def test_includes_are_written_from_the_source_root(self):
        cases = [
            ('#include "core/engine.h"\n#include <windows.h>\n', True),
            ('#include "../app/setup_app.h"\n', False),
            ('#include "setup_prop_sheet.h"\n', False),
            ('#  include "./win_ports.h"\n', False),
            ('#include "engine/../app/setup_app.h"\n', False),
        ]
        for text, passes in cases:
            with self.subTest(text=text):
                result, stamped = check_includes(text)
                self.assertEqual(result.returncode == 0, passes, result.stderr)
                self.assertEqual(stamped, passes)
                if not passes:
                    # CMake wraps its message: compare with the white space folded.
                    said = " ".join(result.stderr.split())
                    self.assertIn(f"engine/probe.cpp: {text.strip().replace('#  ', '#')}", said)
                    self.assertIn("write the header's path from the source root", said)


if __name__ == "__main__":
    if not (WIN32_DIR / "engine" / "CMakeFiles").is_dir():
        print(f"layers skipped: the cross build {WIN32_DIR} is not configured", file=sys.stderr)
        sys.exit(77)
    unittest.main()
