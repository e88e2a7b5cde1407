"""Faults during the installation, through the real setup: the package locked or removed between
two readers, the destination drive filling up, the driver installer missing, the all-users desktop
folder missing, and (run as an ordinary user, since as root Wine writes read-only files) a
read-only or busy destination file and a system folder without the right to write.

Every case ends with the setup's own message and exit code 1 where the setup could not be done,
within bounded waits; the files written before the fault are whole, and drive C: (and the small
drive D: where it is used) is listed before and after.

Each reader opens the package by its name: the checks of signature, version and check value, then
the extraction; all of them read the file that the first check opened and that stays open until the
extraction ends. Faults "between two readers" are made deterministic with a large sparse package
whose check value takes seconds to compute: the scenario acts while the bar shows the check value
running (between 1 % and 40 %), when the check holds the package open.
"""

import os
import shutil
import subprocess
import time
import unittest

import install_wizard as iw
import packages
import reliability as rel
import ui
import wine
from install_wizard import pattern
from packages import entry

STAMP = "20240102030405"
RECORD = ("faults", "Faults during the installation", 2)


def colour_rgb(colorref):
    return ((colorref & 0xFF) << 16) | (colorref & 0xFF00) | ((colorref >> 16) & 0xFF)


class FaultCase(rel.ReliabilityCase):
    RECORD = RECORD

    def bar_fraction(self, sheet):
        """The filled part of the progress bar, read from its top row of pixels."""
        if not hasattr(self.__class__, "_bar_rgb"):
            self.__class__._bar_rgb = colour_rgb(self.bench.driver.call("syscolors")["highlight"])
        pixels = sheet.pixels(iw.IDC_PROGRESS, "client")
        filled = sum(1 for x in range(pixels.width) if pixels.at(x, 0) == self._bar_rgb)
        return filled / pixels.width

    def record(self, name, tried, result, disk, check, did=None):
        """Runs the checks of a case and records its row whatever they find."""
        passed = False
        try:
            check()
            passed = True
        finally:
            self.recorder.add(name, tried, did or rel.outcome_text(result["message"], result["code"]), disk, passed)

    def assertWhole(self, path, data, stamp=STAMP):
        self.assertFileWritten(path, data, stamp)


class PackageAndDiskFaults(FaultCase):
    """64-bit Windows (platform kind 4)."""

    PREFIX = "win64"
    NEEDS_WOW64 = True
    DESTINATION = "C:\\QUENTARO faults"

    def small_entries(self):
        return [entry("QUENTARO.exe", 0, pattern(2000, 1), STAMP), entry("data.dat", 0, pattern(5000, 2), STAMP)]

    def large_package(self, path):
        """A sparse package just under 2 GiB: QUENTARO.exe, and big.dat for platform 2 (not
        written here) over the rest; its check value takes seconds."""
        exe = pattern(2000, 1)
        length = 2 * rel.GIB - 1
        head = 32 + 2 * 64 + len(exe)
        packages.write_sparse_package(path, packages.package_body([("QUENTARO.exe", STAMP, 32 + 128, len(exe), 0),
                                                        ("big.dat", STAMP, head, length - 2 - head, 2)], exe), length)
        return path

    def run_recorded(self, name, tried, destination, expected_message, expected_log, **kwargs):
        """Runs one installation and checks the common outcome; returns (result, classified changes)."""
        self.bench.copy_setup(self.source)
        drive_c = self.bench.prefix.drive_c
        before = rel.listing(drive_c)
        result = self.run_install(destination, **kwargs)
        changes = rel.classify(rel.disk_changes(before, rel.listing(drive_c)), self.areas(destination))
        return result, changes

    def test_package_locked_before_the_first_check(self):
        # Another program holds the package from before the install page: the first check cannot
        # open it.
        package = self.write_package(self.small_entries())
        lock = lambda p, sheet: self.bench.lock(package)  # noqa: E731
        try:
            result, changes = self.run_recorded("package locked", "", self.DESTINATION, None, None, before_next=lock)
        finally:
            self.bench.unlock(package)

        def check():
            self.assertEqual((result["message"], result["code"]), (iw.MSG_NOT_FOUND, iw.EXIT_FAILED))
            self.assertEqual(result["log"], [iw.LOG_FIRST])
            self.assertNothingWritten(changes)
        self.record("package locked by another program", "another process holds QUENTARO.cab open without sharing "
                    "from the destination page on", result, rel.describe(changes), check)

    def act_during_check_value(self, action):
        """A `during` callback that runs `action` once, while the bar shows the check value running."""
        state = {"done": False, "seen": []}

        def during(p, sheet):
            if state["done"]:
                return
            fraction = self.bar_fraction(sheet)
            state["seen"].append(fraction)
            if 0.01 <= fraction <= 0.40:
                action()
                state["done"] = True
        return during, state

    def test_package_locked_between_the_check_value_and_the_extraction(self):
        package = self.large_package(self.source / iw.PACKAGE)
        held = self.source / "QUENTARO.cab.checked"

        def lock_new_file():
            # The check holds its file open (the name may change under it, as on Windows a file
            # open without sharing can still be renamed by the file system's owner); a new file
            # of the package's name, as good as the first, is locked by another process.
            os.rename(package, held)
            self.large_package(package)
            self.bench.lock(package)
        during, state = self.act_during_check_value(lock_new_file)
        try:
            result, changes = self.run_recorded("", "", self.DESTINATION, None, None, during=during, timeout=300)
        finally:
            if state["done"]:
                self.bench.unlock(package)

        def check():
            self.assertTrue(state["done"], f"the check value was not seen running: {state['seen'][:20]}")
            self.assertEqual((result["message"], result["code"]), (iw.MSG_NOT_FOUND, iw.EXIT_FAILED))
            self.assertEqual(result["log"], [iw.LOG_FIRST])
            self.assertNothingWritten(changes, source_changed=True)
        self.record("package locked between two readers", "while the check value is read (bar between 1 and 40 %), "
                    "QUENTARO.cab is replaced by an equal package that another process holds open; the extraction "
                    "opens it next", result,
                    "nothing written by the setup (" + rel.describe(changes) + ": the scenario's own doing)", check)

    def test_package_removed_during_the_check_value(self):
        package = self.large_package(self.source / iw.PACKAGE)
        during, state = self.act_during_check_value(lambda: package.unlink())
        result, changes = self.run_recorded("", "", self.DESTINATION, None, None, during=during, timeout=300)

        def check():
            self.assertTrue(state["done"], f"the check value was not seen running: {state['seen'][:20]}")
            self.assertEqual((result["message"], result["code"]), (iw.MSG_NOT_FOUND, iw.EXIT_FAILED))
            self.assertEqual(result["log"], [iw.LOG_FIRST])
            self.assertNothingWritten(changes, source_changed=True)
        self.record("package removed", "QUENTARO.cab deleted while the check value is read (bar between 1 and 40 %); "
                    "the check reads on through its open file, the extraction finds no package",
                    result,
                    "nothing written by the setup (" + rel.describe(changes) + ": the scenario's own doing)", check)

    def assertNothingWritten(self, changes, source_changed=False):
        self.assertEqual(changes["elsewhere"], [])
        if not source_changed:
            self.assertEqual(changes["source"], [])
        self.assertEqual([x for x in changes["destination"] if x[0] != "."], [])
        for area in ("system folder", "desktop", "programs"):
            self.assertEqual(changes[area], [], area)

    def test_destination_drive_fills_up(self):
        small = self.bench.prefix.root / "small-drive"
        small.mkdir(exist_ok=True)
        r = subprocess.run(["mount", "-t", "tmpfs", "-o", "size=4m", "tmpfs", str(small)], capture_output=True,
                           text=True)
        if r.returncode != 0:
            self.skipTest(f"a small file system cannot be mounted here (mount: {r.stderr.strip()})")
        link = self.bench.prefix.dir / "dosdevices" / "d:"
        # Cleanups run last first: the link goes, the file system is unmounted, Wine starts anew.
        self.addCleanup(self.restart_wine)
        self.addCleanup(lambda: subprocess.run(["umount", "-l", str(small)], capture_output=True))
        self.addCleanup(lambda: link.unlink(missing_ok=True))
        link.symlink_to(small)
        # Running Wine keeps the drives it has seen: a new wineserver sees D:.
        self.restart_wine()
        self.assertTrue(self.bench.driver.call("sysinfo")["logical_drives"] & (1 << 3), "drive D: is there")

        first, second = pattern(1 << 20, 1), pattern(6 << 20, 2)
        self.write_package([entry("QUENTARO.exe", 0, first, STAMP), entry("big.dat", 0, second, STAMP),
                            entry("after.dat", 0, pattern(100, 3), STAMP)])
        drive_d_before = rel.listing(small)
        result, changes = self.run_recorded("", "", "D:\\QUENTARO", None, None)
        drive_d = rel.describe({"drive D": [(rel_, how, now) for rel_, (how, now) in
                                             sorted(rel.disk_changes(drive_d_before, rel.listing(small)).items())
                                             if now and now[0] == "file"]})

        def check():
            self.assertEqual((result["message"], result["code"]), (rel.MSG_DISK_FULL, iw.EXIT_FAILED))
            self.assertEqual(result["log"], [iw.LOG_FIRST, 'Create "QUENTARO.exe"...', 'Create "big.dat"...'])
            # The file before the fault is whole, with its time; the one that did not fit is not
            # there at all, under its name or any other; nothing after it.
            self.assertWhole(small / "QUENTARO" / "QUENTARO.exe", first)
            self.assertEqual(sorted(p.name for p in (small / "QUENTARO").iterdir()), ["QUENTARO.exe"])
            self.assertEqual(changes["elsewhere"], [])
            for area in ("system folder", "desktop", "programs"):
                self.assertEqual(changes[area], [], area)
        self.record("destination drive full", "destination D:\\QUENTARO on a 4 MiB file system (tmpfs as drive D:); "
                    "the package holds 1 MiB, 6 MiB and 100 bytes", result,
                    drive_d + " (QUENTARO.exe whole; no big.dat, no partial or temporary file); drive C: "
                    + rel.describe(changes), check)

    def restart_wine(self):
        self.bench.end_processes()
        self.bench.driver.close()
        self.bench.prefix.kill_server()
        self.bench.driver = ui.Driver(self.bench.prefix, self.bench.display, self.bench.prefix.root / "wine.log")

    def test_all_users_desktop_folder_missing(self):
        desktop, programs = self.link_folders()
        shutil.rmtree(desktop)
        self.write_package(self.small_entries())
        result, changes = self.run_recorded("", "", self.DESTINATION, None, None)

        def check():
            # The shell makes the folder again when it is asked for it: both links are written.
            self.assertEqual((result["message"], result["code"]), (None, iw.EXIT_FINISHED))
            self.assertEqual(result["log"][-2:], [iw.LOG_SHORTCUT, iw.LOG_DONE])
            self.assertTrue(desktop.is_dir())
            self.assertLinks(self.DESTINATION)
            self.assertEqual(changes["elsewhere"], [])
        self.record("all-users desktop folder missing", f"{self.bench.prefix.win_path(desktop)} removed before the "
                    "setup starts", result, rel.describe(changes) + " (the desktop folder made again by the shell)",
                    check, did=f"installed, both links written; Finish gave 「{iw.COMPLETED}」, exit {result['code']}")


class DriverInstallerMissing(FaultCase):
    """32-bit Windows 7 (platform kind 5): the extraction ends by starting the package's driver
    installer from the destination folder."""

    PREFIX = "win7"

    def test_driver_installer_missing(self):
        data = pattern(2000, 1)
        self.write_package([entry("QUENTARO.exe", 0, data, STAMP), entry("Quentaro.inf", 0, b"[Version]\r\n", STAMP)])
        self.bench.copy_setup(self.source)
        drive_c = self.bench.prefix.drive_c
        before = rel.listing(drive_c)
        destination = "C:\\QUENTARO driver"
        result = self.run_install(destination)
        changes = rel.classify(rel.disk_changes(before, rel.listing(drive_c)), self.areas(destination))

        def check():
            # The setup's own message, not the shell's box; the files stay, no links are made.
            self.assertEqual((result["message"], result["code"]), (rel.MSG_DRIVER_INSTALLER, iw.EXIT_FAILED))
            self.assertEqual(result["log"], [iw.LOG_FIRST, 'Create "QUENTARO.exe"...', 'Create "Quentaro.inf"...'])
            dest = self.bench.prefix.host_path(destination)
            self.assertWhole(dest / "QUENTARO.exe", data)
            self.assertNoLinks()
            self.assertEqual(changes["elsewhere"], [])
        self.record("driver installer missing", "a package for 32-bit Windows 7 without QuentaroDriver32setup.exe",
                    result, rel.describe(changes), check)


class AsOrdinaryUser(FaultCase):
    """Windows XP (platform kind 2), with Wine run as an ordinary user on a prefix of its own."""

    PREFIX = "winxp"
    DESTINATION = "C:\\QUENTARO user"

    @classmethod
    def setUpClass(cls):
        wine.require_artifacts(*cls.REQUIRES)
        user = rel.ensure_user()
        if user is None:
            raise unittest.SkipTest(f"no ordinary user {rel.USER} (needs root to be made)")
        cls.bench = rel.UserBench(cls.PREFIX, f"{cls.__module__}.{cls.__name__}", user)
        cls._class_started = time.monotonic()
        module = __import__(cls.__module__)
        if getattr(module, "_recorder", None) is None:
            module._recorder = rel.Recorder(*RECORD)
        cls.recorder = module._recorder

    # The all-users folders of every Wine prefix (Vista layout, also when Windows XP is reported).
    SHELL_FOLDERS = {iw.CSIDL_COMMON_DESKTOPDIRECTORY: "C:\\users\\Public\\Desktop",
                     iw.CSIDL_COMMON_PROGRAMS: "C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs"}

    def shell_folder(self, csidl):
        return self.bench.prefix.host_path(self.SHELL_FOLDERS[csidl])

    def entries(self):
        return [entry("QUENTARO.exe", 0, pattern(2000, 1), STAMP), entry("data.dat", 0, pattern(5000, 2), STAMP),
                entry("extra.dat", 0, pattern(100, 3), STAMP)]

    def existing_destination(self, old):
        dest = self.bench.prefix.host_path(self.DESTINATION)
        dest.mkdir(parents=True)
        (dest / "data.dat").write_bytes(old)
        rel.chown_tree(dest, self.bench.prefix.user)
        return dest

    def run_user_case(self, name, tried, expected_log, **kwargs):
        self.bench.copy_setup(self.source)
        drive_c = self.bench.prefix.drive_c
        before = rel.listing(drive_c)
        result = self.run_install(self.DESTINATION, **kwargs)
        changes = rel.classify(rel.disk_changes(before, rel.listing(drive_c)), self.areas(self.DESTINATION))

        def check():
            self.assertEqual(self.bench.info.get("system_dir"), "C:\\windows\\system32")
            # A file that cannot be created: the message the Parts give for it.
            self.assertEqual((result["message"], result["code"]), (iw.MSG_NOT_FOUND, iw.EXIT_FAILED))
            self.assertEqual(result["log"], expected_log)
            self.assertWhole(self.bench.prefix.host_path(self.DESTINATION) / "QUENTARO.exe", pattern(2000, 1))
            self.assertNoLinks()
            self.assertEqual(changes["elsewhere"], [])
            self.assertEqual(changes["system folder"], [])
        self.record(name, tried, result, rel.describe(changes), check)

    def test_read_only_destination_file(self):
        old = b"the user's own data.dat"
        dest = self.existing_destination(old)
        os.chmod(dest / "data.dat", 0o444)
        self.write_package(self.entries())
        self.run_user_case("read-only destination file", "C:\\QUENTARO user\\data.dat exists read-only; Wine runs as "
                           "an ordinary user", [iw.LOG_FIRST, 'Create "QUENTARO.exe"...', 'Create "data.dat"...'])
        self.assertEqual((dest / "data.dat").read_bytes(), old)
        self.assertFalse((dest / "extra.dat").exists())

    def test_destination_file_held_open(self):
        old = b"the user's own data.dat"
        dest = self.existing_destination(old)
        self.write_package(self.entries())
        self.bench.lock(dest / "data.dat")
        try:
            self.run_user_case("destination file held open", "another process holds C:\\QUENTARO user\\data.dat open "
                               "without sharing; Wine runs as an ordinary user",
                               [iw.LOG_FIRST, 'Create "QUENTARO.exe"...', 'Create "data.dat"...'])
        finally:
            self.bench.unlock(dest / "data.dat")
        self.assertEqual((dest / "data.dat").read_bytes(), old)
        self.assertFalse((dest / "extra.dat").exists())

    def test_system_folder_not_writable(self):
        system = self.system_folder
        mode = system.stat().st_mode & 0o7777
        os.chmod(system, 0o555)
        self.addCleanup(os.chmod, system, mode)
        self.write_package([entry("QUENTARO.exe", 0, pattern(2000, 1), STAMP),
                            entry("XP%2xponly.dll", 2, pattern(300, 4), STAMP),
                            entry("data.dat", 0, pattern(5000, 2), STAMP)])
        self.run_user_case("system folder not writable", "the system folder (system32) without the right to write "
                           "for the ordinary user that runs Wine; the package has a file for it",
                           [iw.LOG_FIRST, 'Create "QUENTARO.exe"...', 'Create "xponly.dll"...'])
        dest = self.bench.prefix.host_path(self.DESTINATION)
        self.assertFalse((dest / "data.dat").exists())


if __name__ == "__main__":
    unittest.main()
