"""The bytes installed are the bytes checked, and a failed or hostile write leaves no half-written
file, through the real setup: the package replaced by another while the check value is read, other
programs trying to overwrite or empty it during the checks, a drive that fills up during a second
installation over a first one, and links that stand in the destination folder under the names of
the package's files.

Faults during the checks use the large sparse package of the fault scenarios, whose check value
takes seconds, and act while the bar shows the check value running.
"""

import os
import subprocess

import install_wizard as iw
import packages
import reliability as rel
import test_reliability_faults as faults
from install_wizard import pattern
from packages import entry

STAMP = faults.STAMP
NEW_STAMP = "20250607080910"
RECORD = ("integrity", "The checked package is the installed package; no half-written file, no write through "
          "a link", 3)


class Integrity(faults.FaultCase):
    """64-bit Windows (platform kind 4)."""

    RECORD = RECORD
    PREFIX = "win64"
    NEEDS_WOW64 = True
    DESTINATION = "C:\\QUENTARO integrity"

    # The sparse package, the wait for the check value and the small drive D: of the fault scenarios.
    large_package = faults.PackageAndDiskFaults.large_package
    act_during_check_value = faults.PackageAndDiskFaults.act_during_check_value
    restart_wine = faults.PackageAndDiskFaults.restart_wine
    assertNothingWritten = faults.PackageAndDiskFaults.assertNothingWritten

    def run_listed(self, destination, **kwargs):
        """One installation; returns (result, classified changes of drive C:)."""
        self.bench.copy_setup(self.source)
        drive_c = self.bench.prefix.drive_c
        before = rel.listing(drive_c)
        result = self.run_install(destination, **kwargs)
        return result, rel.classify(rel.disk_changes(before, rel.listing(drive_c)), self.areas(destination))

    def test_package_replaced_during_the_check_value(self):
        package = self.large_package(self.source / iw.PACKAGE)
        # Another package of good entries whose signature and check value are broken: alone, the
        # checks refuse it.
        other = self.source / "other.cab"
        packages.make_package(other, [entry("QUENTARO.exe", 0, pattern(2000, 9), STAMP)])
        data = bytearray(other.read_bytes())
        data[0:4], data[-1] = b"XJ47", data[-1] ^ 0xFF
        other.write_bytes(bytes(data))
        # The name is given to the other file, as a program that saves by renaming does; the check
        # reads on through the file it opened.
        during, state = self.act_during_check_value(lambda: os.replace(other, package))
        result, changes = self.run_listed(self.DESTINATION, during=during, timeout=300)

        def check():
            self.assertTrue(state["done"], f"the check value was not seen running: {state['seen'][:20]}")
            self.assertEqual((result["message"], result["code"]), (iw.MSG_DAMAGED, iw.EXIT_FAILED))
            self.assertEqual(result["log"], [iw.LOG_FIRST])
            self.assertNothingWritten(changes, source_changed=True)
        self.record("package replaced during the check value", "while the check value is read (bar between 1 and "
                    "40 %), QUENTARO.cab is replaced (renamed over) by a package whose signature and check value "
                    "are broken", result,
                    "nothing written by the setup (" + rel.describe(changes) + ": the scenario's own doing)", check)

    def test_other_programs_cannot_change_the_package_during_the_checks(self):
        package = self.large_package(self.source / iw.PACKAGE)
        length = package.stat().st_size
        with open(package, "rb") as f:
            head = f.read(4096)
        other = self.source / "other.cab"
        packages.make_package(other, [entry("QUENTARO.exe", 0, pattern(2000, 9), STAMP)])
        cmd = self.bench.prefix.drive_c / "windows" / "system32" / "cmd.exe"
        # Programs of the same Windows: one copies another package over it, one empties it.
        attempts = ["/c copy /y other.cab QUENTARO.cab", "/c type nul > QUENTARO.cab"]
        tried = []

        def during(p, sheet):
            fraction = self.bar_fraction(sheet)
            if not 0.01 <= fraction <= 0.45:
                return
            args = attempts[len(tried) % len(attempts)]
            self.bench.start(cmd, self.source, args).wait_exit(30)
            tried.append((fraction, args))
        result, changes = self.run_listed(self.DESTINATION, during=during, timeout=300)
        dest = self.bench.prefix.host_path(self.DESTINATION)

        def check():
            self.assertGreaterEqual(len(tried), 2, f"no attempt while the checks ran: {tried}")
            self.assertEqual((result["message"], result["code"]), (None, iw.EXIT_FINISHED))
            # Every attempt was refused: the package is the one that was checked, and installed.
            self.assertEqual(package.stat().st_size, length)
            with open(package, "rb") as f:
                self.assertEqual(f.read(4096), head)
            self.assertWhole(dest / "QUENTARO.exe", pattern(2000, 1))
            self.assertEqual(changes["elsewhere"], [])
        self.record("package changed by other programs during the checks", f"while the checks run, {len(tried)} "
                    "programs (cmd.exe) copy another package over QUENTARO.cab or empty it", result,
                    rel.describe(changes) + "; QUENTARO.cab unchanged, every attempt refused", check,
                    did=f"installed the checked package; Finish gave 「{iw.COMPLETED}」, exit {result['code']}")

    def small_drive(self, size):
        """A tmpfs of `size` as drive D:; its host folder, or a skip where nothing can be mounted."""
        small = self.bench.prefix.root / "small-drive"
        small.mkdir(exist_ok=True)
        r = subprocess.run(["mount", "-t", "tmpfs", "-o", f"size={size}", "tmpfs", str(small)], capture_output=True,
                           text=True)
        if r.returncode != 0:
            self.skipTest(f"a small file system cannot be mounted here (mount: {r.stderr.strip()})")
        link = self.bench.prefix.dir / "dosdevices" / "d:"
        self.addCleanup(self.restart_wine)
        self.addCleanup(lambda: subprocess.run(["umount", "-l", str(small)], capture_output=True))
        self.addCleanup(lambda: link.unlink(missing_ok=True))
        link.symlink_to(small)
        self.restart_wine()
        self.assertTrue(self.bench.driver.call("sysinfo")["logical_drives"] & (1 << 3), "drive D: is there")
        return small

    def test_drive_fills_up_during_a_second_installation(self):
        small = self.small_drive("4m")
        first = {"QUENTARO.exe": pattern(1 << 20, 1), "big.dat": pattern(1 << 20, 2), "after.dat": pattern(100, 3)}
        second = {"QUENTARO.exe": pattern(1 << 20, 4), "big.dat": pattern(6 << 20, 5), "after.dat": pattern(100, 6)}
        self.write_package([entry(name, 0, data, STAMP) for name, data in first.items()])
        installed = self.run_install("D:\\QUENTARO")
        self.assertEqual((installed["message"], installed["code"]), (None, iw.EXIT_FINISHED))

        self.write_package([entry(name, 0, data, NEW_STAMP) for name, data in second.items()])
        result = self.run_install("D:\\QUENTARO")
        folder = small / "QUENTARO"
        # Every file of the folder as the first installation's, the second's, or neither.
        seen = {}
        for path in sorted(folder.iterdir()):
            data = path.read_bytes()
            seen[path.name] = ("old" if data == first.get(path.name) else "new" if data == second.get(path.name)
                               else f"neither ({len(data):,} B)")

        def check():
            self.assertEqual((result["message"], result["code"]), (rel.MSG_DISK_FULL, iw.EXIT_FAILED))
            self.assertEqual(result["log"], [iw.LOG_FIRST, 'Create "QUENTARO.exe"...', 'Create "big.dat"...'])
            # The file written before the fault is the new one, whole; the one that did not fit and
            # the one after it are the old ones, with their old times; nothing else.
            self.assertEqual(seen, {"QUENTARO.exe": "new", "big.dat": "old", "after.dat": "old"})
            self.assertWhole(folder / "QUENTARO.exe", second["QUENTARO.exe"], NEW_STAMP)
            self.assertWhole(folder / "big.dat", first["big.dat"], STAMP)
            self.assertWhole(folder / "after.dat", first["after.dat"], STAMP)
        self.record("drive full during a second installation", "D:\\QUENTARO on a 4 MiB file system holds a "
                    "complete first installation (1 MiB, 1 MiB, 100 B); the second package holds 1 MiB, 6 MiB and "
                    "100 bytes", result,
                    "drive D: " + ", ".join(f"{name} {how}" for name, how in seen.items()) + "; no other file", check)

    def test_links_in_the_destination_folder(self):
        elsewhere = self.bench.work_folder("elsewhere")
        victim = elsewhere / "victim.txt"
        victim.write_bytes(b"an ordinary user's file in another folder, which the setup must leave alone\r\n")
        os.utime(victim, (1000000000, 1000000000))
        before = (victim.read_bytes(), victim.stat().st_mtime)
        dest = self.bench.prefix.host_path(self.DESTINATION)
        dest.mkdir(parents=True)
        (dest / "data.dat").symlink_to(victim)
        (dest / "extra.dat").symlink_to(elsewhere / "missing.txt")  # a link that leads nowhere
        files = {"QUENTARO.exe": pattern(2000, 1), "data.dat": pattern(89, 2), "extra.dat": pattern(50, 3)}
        self.write_package([entry(name, 0, data, STAMP) for name, data in files.items()])
        result = self.run_install(self.DESTINATION)

        def check():
            self.assertEqual((result["message"], result["code"]), (None, iw.EXIT_FINISHED))
            # The links are replaced by the files; what they led to is as it was, or still absent.
            for name, data in files.items():
                self.assertFalse((dest / name).is_symlink(), name)
                self.assertWhole(dest / name, data)
            self.assertEqual((victim.read_bytes(), victim.stat().st_mtime), before)
            self.assertEqual(sorted(p.name for p in elsewhere.iterdir()), ["victim.txt"])
            self.assertEqual(sorted(p.name for p in dest.iterdir()), sorted(files))
        self.record("links in the destination folder", "the destination folder holds data.dat, a link to a file in "
                    "another folder, and extra.dat, a link that leads nowhere", result,
                    "both links replaced by the package's files; the linked file unchanged (content and time), "
                    "nothing made where the other link led", check,
                    did=f"installed; Finish gave 「{iw.COMPLETED}」, exit {result['code']}")


if __name__ == "__main__":
    import unittest
    unittest.main()
