"""Startup, the hidden main window and the wizard sheet, end to end under Wine (64-bit prefix)."""

import unittest

import scenario
import ui
import wine
from scenario import BenchCase

CAPTION = "QUENTARO ｾｯﾄｱｯﾌﾟ"
MISSING_PACKAGE = "ﾃﾞｰﾀﾌｧｲﾙが見つかりません。ｾｯﾄｱｯﾌﾟを開始出来ません。"
CANCEL_CAPTION = "ｾｯﾄｱｯﾌﾟの中止"
PACKAGE = "QUENTARO.cab"

# The wizard's pages in the order Next walks them: index and the page's heading (control 1018).
PAGES = [
    (0, "QUENTARO　セットアップウィザードへようこそ"),
    (1, "ソフトウェア使用許諾契約"),
    (2, "著作権上の注意"),
    (3, "ｲﾝｽﾄｰﾙ先の選択"),
    (4, "インストール中・・・"),
]
# What the installation says about the unchecked packages below (on the install page only).
DAMAGED_PACKAGE = "ﾃﾞｰﾀﾌｧｲﾙが壊れています。ｾｯﾄｱｯﾌﾟを終了します。"
HEADING_ID = 1018
LICENCE_TEXT_ID = 1023

EXIT_FINISHED, EXIT_FAILED, EXIT_CANCELLED, EXIT_ALREADY_RUNNING = 0, 1, 2, 3

# Packages that pass startup, which only tests that the file can be opened.
UNCHECKED_PACKAGES = [
    ("empty", b""),
    ("damaged", bytes((i * 37 + 11) % 256 for i in range(3000))),
]


class StartupCase(BenchCase):
    def prepare(self):
        self.folder = self.bench.work_folder(self._testMethodName)

    def start_setup(self, exe_folder, cwd):
        exe = self.bench.copy_setup(exe_folder)
        return self.bench.start(exe, cwd)

    def start_wizard(self, package=b""):
        """The setup started in a folder holding the exe and a package; returns (process, sheet)."""
        (self.folder / PACKAGE).write_bytes(package)
        p = self.start_setup(self.folder, self.folder)
        return p, p.wait_sheet()

    def assertOnlyVisible(self, process, *windows, allow_damaged_message=False):
        """Nothing of the process is visible but the given top-level windows (and, if allowed, the
        installation's damaged-package message): the hidden frame, its toolbar, status bar and view
        stay invisible."""
        allowed = {w.hwnd for w in windows}
        tops = process.windows(deep=True)  # one listing: windows may come and go meanwhile
        if allow_damaged_message:
            for top in tops:
                if top["kind"] not in ("msgbox", "dialog"):
                    continue
                # A box that is shown must be the damaged-package message. One that is still being
                # made when the windows are listed is not shown yet (and may not have its text
                # control yet, so it lists as a dialog), while its icon already carries WS_VISIBLE:
                # it is the same message on its way.
                if top["visible"]:
                    self.assertEqual(top["kind"], "msgbox")
                    self.assertEqual(ui.Window(self.bench.driver, top).message(), DAMAGED_PACKAGE)
                allowed.add(top["hwnd"])
        self.assertTrue(any(t["hwnd"] not in allowed for t in tops), f"no hidden frame among {tops}")
        self.assertNeverVisibleExcept(process, allowed, tops)

    def assertMissingPackageMessage(self, p):
        box = p.wait_msgbox()
        self.assertEqual(box.caption(), CAPTION)
        self.assertEqual(box.message(), MISSING_PACKAGE)
        self.assertTrue(box.has_icon(), "MB_ICONEXCLAMATION shows an icon")
        # Owned by the hidden frame of the same process.
        self.assertNotEqual(box.info["owner"], 0)
        self.assertEqual(box.info["owner_pid"], p.pid)
        self.assertFalse(box.info["owner_visible"])
        self.assertNotEqual(box.info["owner_class"], "#32770")
        self.assertOnlyVisible(p, box)
        self.assertFalse([w for w in p.windows() if w["kind"] == "sheet"], "no wizard")
        self.shot("message")
        box.click(ui.IDOK)
        self.assertEqual(p.wait_exit(), EXIT_FAILED)

    def cancel(self, p, sheet):
        """Cancel; a cancel confirmation, if the page asks one, is answered Yes. No other message."""
        sheet.click(ui.ID_CANCEL)
        box = p.try_wait_window("msgbox", 5)
        if box is not None:
            self.assertEqual(box.caption(), CANCEL_CAPTION, box.info)
            box.answer(ui.IDYES)
            box = p.try_wait_window("msgbox", 5, skip=[box.hwnd])
        self.assertIsNone(box, "no message after cancelling")
        self.assertEqual(p.wait_exit(), EXIT_CANCELLED)

    def next_page(self, sheet, index):
        """Presses Next as a user would (visible, enabled) and waits for page `index`."""
        button = sheet.control(ui.ID_NEXT)
        self.assertTrue(button["visible"] and button["enabled"], f"Next usable: {button}")
        sheet.click(ui.ID_NEXT)
        sheet.wait_page(index)


class MissingPackage(StartupCase):
    def test_no_package_in_the_current_folder(self):
        exe_folder = self.bench.work_folder("program")
        p = self.start_setup(exe_folder, self.folder)
        self.assertMissingPackageMessage(p)

    def test_package_beside_the_exe_but_not_in_the_current_folder(self):
        exe_folder = self.bench.work_folder("program")
        (exe_folder / PACKAGE).write_bytes(b"")
        p = self.start_setup(exe_folder, self.folder)
        self.assertMissingPackageMessage(p)

    def test_package_held_open_without_sharing(self):
        package = self.folder / PACKAGE
        package.write_bytes(b"")
        self.bench.lock(package)
        try:
            p = self.start_setup(self.folder, self.folder)
            self.assertMissingPackageMessage(p)
        finally:
            self.bench.unlock(package)

    def test_folder_of_the_package_name(self):
        (self.folder / PACKAGE).mkdir()
        p = self.start_setup(self.folder, self.folder)
        self.assertMissingPackageMessage(p)


class SecondCopy(StartupCase):
    def test_second_copy_ends_at_once_and_leaves_the_first_alone(self):
        first, sheet = self.start_wizard()
        second = self.bench.start(self.folder / wine.SETUP_NAME, self.folder)
        watched = self.bench.driver.call("watch-exit", second.pid, 20000, timeout=40)
        self.assertEqual(watched["code"], EXIT_ALREADY_RUNNING)
        self.assertEqual([w for w in watched["windows"] if w["visible"]], [], "second copy showed nothing")
        # The first copy still runs its wizard and answers.
        self.assertIsNone(first.exit_code())
        self.assertTrue(sheet.exists())
        self.assertTrue(sheet.probe())
        self.assertEqual(sheet.page_index(), 0)
        self.next_page(sheet, 1)
        self.cancel(first, sheet)


class Wizard(StartupCase):
    def test_walks_the_pages_in_order(self):
        for name, package in UNCHECKED_PACKAGES:
            with self.subTest(package=name):
                self.fresh()
                p, sheet = self.start_wizard(package)
                self.assertEqual(sheet.caption(), CAPTION)
                for index, heading in PAGES:
                    if index:
                        self.next_page(sheet, index)
                    self.assertEqual(sheet.page_index(), index)
                    self.assertEqual(sheet.text(HEADING_ID), heading)
                    # On the install page the installation checks the package and may already
                    # report it as damaged: that message box is the only other window allowed.
                    self.assertOnlyVisible(p, sheet, allow_damaged_message=index == 4)
                    self.shot(f"{name}.page{index}")

    def test_sheet_window_style_and_icon(self):
        p, sheet = self.start_wizard()
        info = sheet.refresh()
        self.assertTrue(info["style"] & ui.WS_MINIMIZEBOX, hex(info["style"]))
        self.assertTrue(info["exstyle"] & ui.WS_EX_APPWINDOW, hex(info["exstyle"]))
        # Another process cannot read the icon handle under Wine (WM_GETICON fails): the icon is
        # found in the title bar's pixels instead.
        self.assertTrue(self.bench.title_bar_shows_icon(sheet, self.folder / wine.SETUP_NAME, 129),
                        "the title bar shows icon 129")
        # The frame is the sheet's owner and stays hidden.
        self.assertEqual(info["owner_pid"], p.pid)
        self.assertFalse(info["owner_visible"])
        self.assertOnlyVisible(p, sheet)
        self.cancel(p, sheet)

    def test_leaves_no_registry_value_and_no_ini_file(self):
        registry = self.bench.registry()
        files = scenario.tree(self.bench.prefix.drive_c)
        p, sheet = self.start_wizard()
        for index, _ in PAGES[1:4]:
            self.next_page(sheet, index)
        self.cancel(p, sheet)
        missing = self.start_setup(self.bench.work_folder("program"), self.bench.work_folder("elsewhere"))
        self.assertMissingPackageMessage(missing)
        self.assertEqual(self.bench.registry() ^ registry, set())
        added, removed, changed = scenario.tree_diff(files, scenario.tree(self.bench.prefix.drive_c))
        self.assertEqual([f for f in added + removed + changed if f.lower().endswith(".ini")], [])

    def test_cancel_on_the_welcome_page(self):
        p, sheet = self.start_wizard()
        self.cancel(p, sheet)


class PlantedRichEdit(StartupCase):
    """A download folder may hold a "RICHED20.dll" planted by someone else: the setup must use the
    system's rich edit control, not the file beside it."""

    def planted_files(self):
        return [
            ("marker DLL", wine.helper_exe("planted_riched20.dll").read_bytes()),
            ("garbage", b"MZ" + bytes(range(256)) * 8),
        ]

    def test_planted_riched20_is_not_loaded(self):
        for name, content in self.planted_files():
            with self.subTest(planted=name):
                self.fresh()
                planted = self.folder / "RICHED20.dll"
                planted.write_bytes(content)
                p, sheet = self.start_wizard()
                self.next_page(sheet, 1)
                text = sheet.control(LICENCE_TEXT_ID)
                self.assertEqual(text["class"].upper(), "RICHEDIT20W")
                self.assertTrue(text["visible"])
                self.assertGreater(len(text["text"]), 1000, "the licence text is in the system's control")
                self.assertFalse((self.folder / "RICHED20.dll.loaded").exists(), "planted DLL was loaded")
                self.cancel(p, sheet)


if __name__ == "__main__":
    unittest.main()
