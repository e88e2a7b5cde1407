"""Installations that cannot be done, and attempts to end the wizard while the install job runs.

A package that fails a check or the extraction shows its message (none when nothing is to be
installed); once it is closed the wizard is gone and the setup has ended with exit code 1, with
nothing written where nothing may be written. While the job runs (held by a driver installer that
waits for the scenario), Escape, Alt+F4, the title-bar close, a click on the hidden Cancel or Back
button and a press of the disabled Finish button change nothing, and the installation completes.
"""

import time
import unittest

import install_wizard as iw
import packages
import scenario
import ui
import wine
from install_wizard import InstallCase, pattern
from packages import entry, raw_package


def good_entries():
    return [entry("QUENTARO.exe", 0, pattern(2000, 1)), entry("data.dat", 0, pattern(5000, 2)),
            entry("64%4wow64only.dll", 4, pattern(300, 3))]


def package_bytes(entries=None, signature=packages.SIGNATURE, version=packages.VERSION):
    return raw_package(entries or good_entries(), signature=signature, version=version)


class FailedInstall(InstallCase):
    # Its packages are made for 64-bit Windows: entries for platform kind 4 and its system folder,
    # no driver installer (which 32-bit Windows 7 would start).
    PREFIX = "win64"
    NEEDS_WOW64 = True

    # name, package bytes (or None: built by the package tool from good_entries), the message
    # (None: none), the log view's lines when the message is up.
    CASES = [
        ("wrong signature", lambda: package_bytes(signature=b"KJ48"), iw.MSG_DAMAGED, [iw.LOG_FIRST]),
        ("version after V1.0", lambda: package_bytes(version=b"V1.1"), iw.MSG_DAMAGED, [iw.LOG_FIRST]),
        ("damaged check value", lambda: packages.damaged_at_end(package_bytes()), iw.MSG_DAMAGED, [iw.LOG_FIRST]),
        ("no entry for the destination", lambda: package_bytes([entry("64%4wow64only.dll", 4, b"x" * 99),
                                                                entry("XP%2xponly.dll", 2, b"y" * 10)]),
         None, [iw.LOG_FIRST]),
        ("no entries at all", lambda: raw_package([]), None, [iw.LOG_FIRST]),
        ("name with a folder above", lambda: package_bytes(good_entries() + [entry("..\\evil.txt", 0, b"evil")]),
         iw.MSG_DAMAGED, [iw.LOG_FIRST]),
        ("name with a drive", lambda: package_bytes(good_entries() + [entry("C:evil.txt", 0, b"evil")]),
         iw.MSG_DAMAGED, [iw.LOG_FIRST]),
        ("device name", lambda: package_bytes(good_entries() + [entry("CON", 0, b"evil")]),
         iw.MSG_DAMAGED, [iw.LOG_FIRST]),
        ("hostile name for the system folder", lambda: package_bytes(
            good_entries() + [entry("64%4..\\..\\evil.dll", 4, b"evil")]), iw.MSG_DAMAGED, [iw.LOG_FIRST]),
    ]

    def test_failed_check_or_extraction_ends_the_setup(self):
        for name, make, message, log in self.CASES:
            with self.subTest(case=name):
                self.fresh()
                self.write_package(data=make())
                self.assertFailedRun(message, log)

    def test_file_that_cannot_be_created(self):
        # A folder of an entry's name in the destination: the files before it stay written.
        destination = "C:\\QUENTARO failed"
        dest = self.bench.prefix.host_path(destination)
        (dest / "data.dat").mkdir(parents=True)
        self.write_package(data=package_bytes())
        self.assertFailedRun(iw.MSG_NOT_FOUND, [iw.LOG_FIRST, 'Create "QUENTARO.exe"...', 'Create "data.dat"...'],
                             destination=destination, written={"QUENTARO.exe"})

    def assertFailedRun(self, message, log, destination="C:\\QUENTARO", written=()):
        dest = self.bench.prefix.host_path(destination)
        system_before = scenario.tree(self.system_folder)
        before = {x.name for x in dest.iterdir()} if dest.is_dir() else set()
        p, sheet = self.run_to_install_page(destination)
        if message is None:
            # No message: the wizard closes by itself; no other window shows meanwhile.
            watched = self.bench.driver.call("watch-exit", p.pid, 20000, timeout=40)
            self.assertEqual(watched["code"], iw.EXIT_FAILED)
            self.assertEqual([w for w in watched["windows"] if w["visible"] and w["class"] == "#32770"
                              and w.get("hwnd") != sheet.hwnd], [])
        else:
            box = self.wait_for_job(p, sheet)
            self.assertIsNotNone(box, "a message")
            self.assertBox(p, box, message)
            # Owned by the install page (its top-level window, the sheet).
            self.assertEqual(box.info["owner"], sheet.hwnd)
            self.assertRunningState(self.page_state(sheet))
            self.assertEqual(self.log_lines(sheet), log)
            box.click(ui.IDOK)
            self.assertEqual(p.wait_exit(), iw.EXIT_FAILED)
        self.assertFalse(sheet.exists())
        # Nothing written but the files before a failed one; no links; the system folder as it was.
        self.assertEqual({x.name for x in dest.iterdir()} - before, set(written))
        self.assertFalse((dest.parent / "evil.txt").exists())
        self.assertFalse((self.bench.prefix.drive_c / "evil.txt").exists())
        self.assertEqual(scenario.tree(self.system_folder), system_before)
        self.assertNoLinks()


class EndingWhileInstalling(InstallCase):
    """On 32-bit Windows 7 the job runs the package's driver installer and waits for it: a stand-in
    that waits until the scenario releases it holds the job still, so that every attempt below is
    certainly made while the job runs."""

    PREFIX = "win7"
    DESTINATION = "C:\\QUENTARO held"

    def held_package(self):
        self.write_package([entry("QUENTARO.exe", 0, pattern(2000, 1)), entry("Quentaro.inf", 0, b"[Version]\r\n"),
                            entry("QuentaroDriver32setup.exe", 0, wine.helper_exe("quentaro-held-installer.exe")
                                  .read_bytes())])
        return self.bench.prefix.host_path(self.DESTINATION)

    def wait_for_file(self, path, timeout=30):
        deadline = time.monotonic() + timeout
        while not path.exists():
            if time.monotonic() > deadline:
                self.fail(f"{path.name} did not appear")
            time.sleep(0.05)

    def test_nothing_ends_the_wizard_while_the_job_runs(self):
        dest = self.held_package()
        p, sheet = self.run_to_install_page(self.DESTINATION)
        self.wait_for_file(dest / "held.started")
        # Escape reaches the wizard's cancel path from a control that does not keep the key for
        # itself (the rich edit view does), such as the progress bar.
        attempts = [
            ("Escape", lambda: sheet.keys("Escape")),
            ("Escape on the progress bar", lambda: (sheet.focus(iw.IDC_PROGRESS), sheet.keys("Escape"))),
            ("Alt+F4", lambda: sheet.keys("Alt+F4")),
            ("title-bar close", lambda: self.bench.driver.call("post", sheet.hwnd, 0, iw.WM_SYSCOMMAND,
                                                               iw.SC_CLOSE, 0)),
            ("WM_CLOSE", lambda: self.bench.driver.call("post", sheet.hwnd, 0, iw.WM_CLOSE, 0, 0)),
            ("hidden Cancel", lambda: sheet.click(ui.ID_CANCEL)),
            ("hidden Back", lambda: sheet.click(ui.ID_BACK)),
            ("disabled Finish", lambda: sheet.click(ui.ID_FINISH)),
            ("PSM_PRESSBUTTON Finish", lambda: sheet.press(ui.PSBTN_FINISH)),
            ("PSM_PRESSBUTTON Cancel", lambda: sheet.press(ui.PSBTN_CANCEL)),
            ("PSM_PRESSBUTTON Back", lambda: sheet.press(ui.PSBTN_BACK)),
        ]
        for name, attempt in attempts:
            with self.subTest(attempt=name):
                attempt()
                time.sleep(0.1)
                # Still the install page of a running job, with no message.
                self.assertIsNone(p.try_wait_window("msgbox", 0.05))
                self.assertTrue(sheet.exists())
                self.assertEqual(sheet.page_index(), iw.INSTALL_PAGE)
                self.assertRunningState(self.page_state(sheet))
        self.assertFalse((dest / "held.ended").exists(), "the job was held throughout")
        self.assertEqual(self.log_lines(sheet), [iw.LOG_FIRST, 'Create "QUENTARO.exe"...', 'Create "Quentaro.inf"...',
                                                 'Create "QuentaroDriver32setup.exe"...'])

        (dest / "held.release").write_bytes(b"")
        box = self.wait_for_job(p, sheet)
        self.assertIsNone(box, box and box.message())
        self.assertTrue((dest / "held.ended").exists(), "the job waited for the driver installer")
        self.assertEqual(self.log_lines(sheet)[-2:], [iw.LOG_SHORTCUT, iw.LOG_DONE])
        self.finish(p, sheet)

    def test_escape_after_the_job_cancels_without_a_message(self):
        # Once the job is done the install page keeps the framework's answer to a cancel request:
        # the wizard ends as cancelled, without the completion message.
        dest = self.held_package()
        dest.mkdir(parents=True)
        (dest / "held.release").write_bytes(b"")
        p, sheet = self.run_to_install_page(self.DESTINATION)
        self.assertIsNone(self.wait_for_job(p, sheet))
        self.assertTrue(sheet.focus(iw.IDC_PROGRESS))
        sheet.keys("Escape")
        self.assertIsNone(p.try_wait_window("msgbox", 3))
        self.assertEqual(p.wait_exit(), iw.EXIT_CANCELLED)


if __name__ == "__main__":
    unittest.main()
