"""Complete installations through the whole wizard, on every class of Windows: the files in the
destination and system folders with their stored times, the driver installer on 32-bit Windows 7,
the install page's log, format, texts and buttons, the shortcuts, the completion message and the
exit code; a second run over the first; leading blanks in the destination folder.
"""

import json
import subprocess
import unittest

import install_wizard as iw
import scenario
import wine
from install_wizard import InstallCase, pattern
from packages import entry


def full_package():
    """Entries for every class of Windows, in table order. The driver installer is the stand-in,
    which records how it was started next to itself."""
    return [
        entry("QUENTARO.exe", 0, pattern(3000, 1), "20240102030405"),
        entry("辞書データ.dat", 0, pattern(70001, 2), "20231231235959"),
        entry("empty.txt", 0, b"", "20080401120000"),
        entry("Quentaro.inf", 0, b"[Version]\r\nSignature=\"$Windows NT$\"\r\n", "20080401120000"),
        entry("QuentaroDriver32setup.exe", 0, iw.STANDIN_EXE.read_bytes(), "20080401120000"),
        entry("QU%xquentaro.sys", 3, pattern(520, 3), "20100505050505"),
        entry("SY%5win7only.dll", 5, pattern(100, 4), "20110606060606"),
        entry("XP%2xponly.dll", 2, pattern(50, 5), "20120707070707"),
        entry("2K%1w2konly.dll", 1, pattern(51, 6), "20130808080808"),
        entry("64%4wow64only.dll", 4, pattern(52, 7), "20140909090909"),
        entry("readme.txt", 0, "お読みください\r\n".encode("cp932"), "20150101000000"),
    ]


# For each PlatformKind: the entries written to the destination folder (whole name) and to the
# system folder (name after its prefix), in table order.
WRITTEN = {
    1: (["QUENTARO.exe", "辞書データ.dat", "empty.txt", "Quentaro.inf", "QuentaroDriver32setup.exe", "readme.txt"],
        {"2K%1w2konly.dll": "w2konly.dll"}),
    2: (["QUENTARO.exe", "辞書データ.dat", "empty.txt", "Quentaro.inf", "QuentaroDriver32setup.exe", "readme.txt"],
        {"XP%2xponly.dll": "xponly.dll"}),
    3: (["QUENTARO.exe", "辞書データ.dat", "empty.txt", "Quentaro.inf", "QuentaroDriver32setup.exe", "readme.txt"],
        {"QU%xquentaro.sys": "quentaro.sys"}),
    4: (["QUENTARO.exe", "辞書データ.dat", "empty.txt", "Quentaro.inf", "QuentaroDriver32setup.exe", "readme.txt"],
        {"64%4wow64only.dll": "wow64only.dll"}),
    5: (["QUENTARO.exe", "辞書データ.dat", "empty.txt", "Quentaro.inf", "QuentaroDriver32setup.exe",
         "QU%xquentaro.sys", "readme.txt"],
        {"SY%5win7only.dll": "win7only.dll"}),
}

ALL_SYSTEM_NAMES = ["w2konly.dll", "xponly.dll", "quentaro.sys", "win7only.dll", "wow64only.dll"]


class CompleteRun(InstallCase):
    """A complete installation on this prefix's class of Windows (PLATFORM_KIND)."""

    PLATFORM_KIND = None
    DESTINATION = None  # the destination page's default folder

    def install_and_check(self, destination_text=None, before_finish=None):
        """One complete run; returns the destination folder (Windows path)."""
        entries = full_package()
        self.write_package(entries)
        by_name = {e["name"]: e for e in entries}
        kind = self.PLATFORM_KIND
        dest_names, system_names = WRITTEN[kind]
        destination = (destination_text or iw.DEFAULT_DESTINATION).lstrip(" ")
        dest = self.bench.prefix.host_path(destination)
        system_before = scenario.tree(self.system_folder)

        p, sheet = self.run_to_install_page(destination_text)
        record = dest / iw.STANDIN_RECORD
        seen = []

        def watch(lines):
            # While the driver installer runs, every file has been announced, the installer has
            # not written its record yet, and Finish stays disabled (checked by wait_for_job).
            if kind == 5 and len(lines) == 1 + len(dest_names) + len(system_names) and not record.exists():
                seen.append(lines)

        box = self.wait_for_job(p, sheet, watch=watch)
        self.assertIsNone(box, box and box.message())

        # The log, line by line; 9.5 points and protected.
        order = [e["name"] for e in entries]
        announced = sorted(dest_names + list(system_names), key=order.index)
        expected_log = ([iw.LOG_FIRST] + [f'Create "{system_names.get(n, n)}"...' for n in announced] +
                        [iw.LOG_SHORTCUT, iw.LOG_DONE])
        self.assertEqual(self.log_lines(sheet), expected_log)
        self.assertLogFormatted(sheet, protected=True)
        # Read-only: typing changes nothing.
        sheet.type(iw.IDC_LOG, "x")
        self.assertEqual(self.log_lines(sheet), expected_log)

        # The files with their stored last-write times, and nothing else.
        for name in dest_names:
            self.assertFileWritten(dest / name, by_name[name]["data"], by_name[name]["time"])
        for stored, used in system_names.items():
            self.assertFileWritten(self.system_folder / used, by_name[stored]["data"], by_name[stored]["time"])
        extra = {iw.STANDIN_RECORD} if kind == 5 else set()
        self.assertEqual(sorted(x.name for x in dest.iterdir()), sorted(set(dest_names) | extra))
        # Nothing else in the system folder was added, changed or removed.
        ours = set(system_names.values())
        self.assertEqual({k: v for k, v in scenario.tree(self.system_folder).items() if k not in ours},
                         {k: v for k, v in system_before.items() if k not in ours})
        for name in ALL_SYSTEM_NAMES:
            if name not in system_names.values():
                self.assertFalse((self.system_folder / name).exists(), name)

        # The driver installer: on kind 5 only, once, from the destination folder, waited for.
        if kind == 5:
            self.assertEqual(record.read_text(encoding="utf-8").splitlines(), [f"Quentaro.inf\t{destination}"])
            self.assertTrue(seen, "the job waited for the driver installer")
        else:
            self.assertFalse(record.exists())
        self.assertPlanAgrees(kind, dest, extra, driver_started=record.exists())

        self.assertLinks(destination)
        self.shot("completed")
        if before_finish:
            before_finish(sheet)
        self.finish(p, sheet)
        return destination


    def assertPlanAgrees(self, kind, dest, extra, driver_started):
        """What `quentaro-pack plan` says of this class of Windows is what the setup did: the files
        in the destination folder (names and sizes), the files in the system folder, whether the
        driver installer ran, and a completed installation with its shortcuts."""
        r = subprocess.run([str(wine.PACK_TOOL), "plan", "--json", str(self.source / iw.PACKAGE)],
                           capture_output=True, text=True)
        self.assertEqual(r.returncode, 0, r.stderr)
        plan = next(k for k in json.loads(r.stdout)["kinds"] if k["kind"] == kind)
        self.assertEqual({(f["name"], f["size"]) for f in plan["files"] if f["folder"] == "destination"},
                         {(x.name, x.stat().st_size) for x in dest.iterdir() if x.name not in extra})
        self.assertEqual({f["name"] for f in plan["files"] if f["folder"] == "system"},
                         {n for n in ALL_SYSTEM_NAMES if (self.system_folder / n).exists()})
        self.assertEqual(plan["driverInstaller"]["started"], driver_started)
        self.assertEqual((plan["shortcuts"], plan["outcome"]), (True, "completes"))


class CompleteRunOn64Bit(CompleteRun):
    PREFIX = "win64"
    NEEDS_WOW64 = True
    PLATFORM_KIND = 4

    def test_complete_run(self):
        self.install_and_check(before_finish=self.check_protection)

    def check_protection(self, sheet):
        # The log view notifies the page of changes to protected text only, and the page refuses them.
        self.assertEqual(sheet.send(iw.IDC_LOG, iw.EM_GETEVENTMASK), iw.ENM_PROTECTED)
        self.assertEqual(self.protected_text_answer(sheet), 1)

    def test_second_run_rewrites_the_same_links(self):
        destination = self.install_and_check()
        links = [folder / iw.LINK_NAME for folder in self.link_folders()]
        first = [x.stat().st_mtime_ns for x in links]
        self.install_and_check()
        self.assertLinks(destination)
        self.assertTrue(all(x.stat().st_mtime_ns > t for x, t in zip(links, first)), "links rewritten")


class CompleteRunOnWindows7(CompleteRun):
    PREFIX = "win7"
    PLATFORM_KIND = 5

    def test_complete_run_with_driver_installer(self):
        self.install_and_check()


class CompleteRunOnVista(CompleteRun):
    PREFIX = "vista"
    PLATFORM_KIND = 3

    def test_complete_run(self):
        self.install_and_check()


class CompleteRunOnXp(CompleteRun):
    PREFIX = "winxp"
    PLATFORM_KIND = 2

    def test_complete_run_with_leading_blanks_in_the_folder(self):
        # The blanks are gone for the extraction and the shortcuts' working folder.
        destination = self.install_and_check("   C:\\QUENTARO XP")
        self.assertEqual(destination, "C:\\QUENTARO XP")


class CompleteRunOn2000(CompleteRun):
    PREFIX = "win2k"
    PLATFORM_KIND = 1

    def test_complete_run(self):
        self.install_and_check()


if __name__ == "__main__":
    unittest.main()
