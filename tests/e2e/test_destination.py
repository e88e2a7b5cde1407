"""The destination page end to end under Wine: the default folder, the space texts, the folder
browser, the checks and the creation of the folder on Next, and the Close item disabled after."""

import os
import re
import unittest

import packages
import scenario
import ui
from test_pages import DESTINATION, INSTALL, WizardCase

FOLDER, BROWSE, FREE_SPACE, NEED_SPACE = 1011, 1012, 1026, 1027
DEFAULT_FOLDER = "C:\\Program Files\\QUENTARO\\lw-r7100_lw-r710r"
FREE_UNKNOWN = "空き容量:"
FREE_KNOWN = re.compile(r"^空き容量: (\d+\.\d) MB$")
INVALID_PATH = "このパスは無効です。"
ERROR_CAPTION = "QUENTARO ｾｯﾄｱｯﾌﾟ"
BROWSE_TITLE = "ﾌｫﾙﾀﾞを選択してください。"
BROWSER_TITLE_ID = 14146
MEGABYTE = 1048576
MF_GRAYED, MF_DISABLED = 0x1, 0x2
WM_SYSCOMMAND, WM_CLOSE, SC_CLOSE = 0x0112, 0x0010, 0xF060
CANCEL_CAPTION = "ｾｯﾄｱｯﾌﾟの中止"


class DestinationCase(WizardCase):
    def to_destination(self, package=b""):
        p, sheet = self.start_wizard(package)
        self.go_to(sheet, DESTINATION)
        return p, sheet

    def close_state(self, sheet):
        """GetMenuState of SC_CLOSE in the sheet's system menu, as the sheet itself reports it
        (another process cannot read that menu)."""
        msg = self.bench.driver.call("register-message", "QUENTARO.CloseMenuState")["msg"]
        return sheet.send(0, msg, 0, 0) & 0xFFFF

    def assertFolderSelected(self, sheet):
        self.assertEqual(self.focused_id(sheet), FOLDER)
        self.assertEqual(self.selection(sheet, FOLDER), (0, len(sheet.text(FOLDER))))

    def drive_c_tree(self):
        return scenario.tree(self.bench.prefix.drive_c)


class Defaults(DestinationCase):
    def test_default_folder_focused_and_selected(self):
        p, sheet = self.to_destination()
        self.assertEqual(sheet.text(FOLDER), DEFAULT_FOLDER)
        self.assertFolderSelected(sheet)
        self.assertRegex(sheet.text(FREE_SPACE), FREE_KNOWN)
        self.shot("destination")

    def test_space_needed_on_every_activation(self):
        p, sheet = self.to_destination(bytes(50 * MEGABYTE))
        self.assertEqual(sheet.text(NEED_SPACE), "必要容量: 50.0 MB")
        package = self.folder / "QUENTARO.cab"
        for size, text in ((3 * MEGABYTE // 2, "必要容量: 1.5 MB"), (0, "必要容量: 0.0 MB"),
                           (MEGABYTE // 20 * 19, "必要容量: 0.9 MB")):
            with self.subTest(size=size):
                package.write_bytes(bytes(size))
                self.back_page(sheet, DESTINATION - 1)
                self.next_page(sheet, DESTINATION)
                self.assertEqual(sheet.text(NEED_SPACE), text)
        # A package that cannot be opened leaves the text as it was.
        self.bench.lock(package)
        try:
            package_text = sheet.text(NEED_SPACE)
            self.back_page(sheet, DESTINATION - 1)
            self.next_page(sheet, DESTINATION)
            self.assertEqual(sheet.text(NEED_SPACE), package_text)
        finally:
            self.bench.unlock(package)

    def test_space_needed_keeps_the_template_text_when_the_package_is_locked(self):
        p, sheet = self.start_wizard(bytes(1000))
        package = self.folder / "QUENTARO.cab"
        self.bench.lock(package)
        try:
            self.go_to(sheet, DESTINATION)
            self.assertEqual(sheet.text(NEED_SPACE), "Need Space:")
        finally:
            self.bench.unlock(package)

    def test_free_space_follows_every_keystroke(self):
        p, sheet = self.to_destination()
        # (text typed so far, whether a free space can be told)
        typings = [
            ("C:\\bench", [False, True, True, True, True, True, True, True]),
            ("  c:", [False, False, False, True]),
            ("\\\\server\\share", [False] * 14),
            ("Q:\\", [False, False, False]),  # no drive Q:
            ("Z:\\tmp", [False, True, True, True, True, True]),
        ]
        for text, known in typings:
            with self.subTest(text=text):
                sheet.set_text(FOLDER, "")
                self.assertEqual(sheet.text(FREE_SPACE), FREE_UNKNOWN)
                for i, ch in enumerate(text):
                    sheet.type(FOLDER, ch)
                    self.assertEqual(sheet.text(FOLDER), text[:i + 1])
                    shown = sheet.text(FREE_SPACE)
                    if known[i]:
                        self.assertRegex(shown, FREE_KNOWN, text[:i + 1])
                    else:
                        self.assertEqual(shown, FREE_UNKNOWN, text[:i + 1])

    def test_free_space_is_the_drives_free_space(self):
        # C: is a folder of the host's file system. Wine reports the blocks available to the user
        # as the volume's total free bytes too (GetDiskFreeSpaceExW's second and third results are
        # equal there), so the text is compared with those. The page takes the third result, the
        # total free bytes, which on Windows also counts blocks beyond the user's quota.
        p, sheet = self.to_destination()
        sheet.set_text(FOLDER, "C:\\")
        shown = float(FREE_KNOWN.match(sheet.text(FREE_SPACE)).group(1))
        st = os.statvfs(self.bench.prefix.drive_c)
        self.assertAlmostEqual(shown, st.f_bavail * st.f_frsize / MEGABYTE, delta=256)


class Defaults32(DestinationCase):
    PREFIX = "win7"  # a 32-bit prefix

    def test_default_folder_and_space_needed(self):
        p, sheet = self.to_destination(bytes(50 * MEGABYTE))
        self.assertEqual(sheet.text(FOLDER), DEFAULT_FOLDER)
        self.assertFolderSelected(sheet)
        self.assertEqual(sheet.text(NEED_SPACE), "必要容量: 50.0 MB")


class Rejections(DestinationCase):
    REJECTED = [
        "",
        "   ",
        "C:",
        "C:folder",
        "C:/folder",
        "\\\\server\\share\\folder",
        "Q:\\QUENTARO\\folder",  # no drive Q:
        "1:\\folder",
        "　C:\\folder",  # an ideographic space is not white space
    ]

    def test_rejected_folders_create_nothing(self):
        p, sheet = self.to_destination()
        for text in self.REJECTED:
            with self.subTest(text=text):
                before = self.drive_c_tree()
                sheet.set_text(FOLDER, text)
                sheet.click(ui.ID_NEXT)
                box = p.wait_msgbox()
                self.assertEqual(box.caption(), ERROR_CAPTION)
                self.assertEqual(box.message(), INVALID_PATH)
                self.assertTrue(box.has_icon())
                self.assertEqual(box.control(ui.IDOK)["text"], "OK")
                self.assertEqual(box.info["owner"], sheet.hwnd)
                box.answer(ui.IDOK)
                self.assertNoMessageBox(p, 0.5)
                self.assertEqual(sheet.page_index(), DESTINATION)
                self.assertEqual(sheet.text(FOLDER), text)
                self.assertFolderSelected(sheet)
                self.assertEqual(self.close_state(sheet) & (MF_DISABLED | MF_GRAYED), 0, "Close still enabled")
                self.assertEqual(scenario.tree_diff(before, self.drive_c_tree()), ([], [], []))


class Acceptance(DestinationCase):
    def accept(self, sheet, text):
        sheet.set_text(FOLDER, text)
        self.next_page(sheet, INSTALL)
        self.assertEqual(self.close_state(sheet) & (MF_DISABLED | MF_GRAYED), MF_DISABLED)

    def test_new_folders_are_created_with_all_parents(self):
        # (typed text, folders that appear below C:\bench, in no particular order)
        cases = [
            ("C:\\bench\\a\\b\\c", ["a", "a/b", "a/b/c"]),
            ("   C:\\bench\\blanks", ["blanks"]),
            ("\t c:\\bench\\lower\\case", ["lower", "lower/case"]),
            ("C:\\bench\\\\double\\\\x\\", ["double", "double/x"]),
            ("C:\\bench\\日本語\\フォルダ", ["日本語", "日本語/フォルダ"]),
        ]
        for text, created in cases:
            with self.subTest(text=text):
                self.fresh()
                p, sheet = self.to_destination()
                bench_dir = self.bench.prefix.drive_c / "bench"
                before = scenario.tree(bench_dir)
                self.accept(sheet, text)
                added, removed, _ = scenario.tree_diff(before, scenario.tree(bench_dir))
                self.assertEqual(sorted(added), sorted(created))
                self.assertEqual(removed, [])
                for folder in created:
                    self.assertTrue((bench_dir / folder).is_dir(), folder)

    def test_existing_folder_and_drive_root_are_accepted_unchanged(self):
        for text in ("C:\\bench\\existing", "C:\\bench\\existing\\", "C:\\", " c:\\"):
            with self.subTest(text=text):
                self.fresh()
                p, sheet = self.to_destination()
                existing = self.bench.prefix.drive_c / "bench" / "existing"
                (existing / "inner").mkdir(parents=True)
                (existing / "file.txt").write_bytes(b"kept")
                before = self.drive_c_tree()
                self.accept(sheet, text)
                self.assertEqual(scenario.tree_diff(before, self.drive_c_tree()), ([], [], []))

    def test_close_stays_disabled_after_acceptance(self):
        # A package that installs, so that no message of the install page takes the keyboard.
        package = self.folder / "QUENTARO.cab"
        packages.make_package(package, [{"name": "QUENTARO.exe", "data": b"MZ", "target": 0}])
        p, sheet = self.to_destination(package.read_bytes())
        self.assertEqual(self.close_state(sheet) & (MF_DISABLED | MF_GRAYED), 0)
        self.accept(sheet, "C:\\bench\\closing")
        # The title bar's close button, Alt+F4 and WM_CLOSE leave the wizard alone now.
        self.bench.driver.call("post", sheet.hwnd, 0, WM_SYSCOMMAND, SC_CLOSE, 0)
        self.bench.driver.call("post", sheet.hwnd, 0, WM_CLOSE, 0, 0)
        sheet.keys("Alt+F4")
        self.bench.driver.call("sleep", 1000)
        self.assertTrue(sheet.exists())
        self.assertNotIn(CANCEL_CAPTION, [w["text"] for w in p.windows()])
        self.assertEqual(self.close_state(sheet) & (MF_DISABLED | MF_GRAYED), MF_DISABLED)


class Browser(DestinationCase):
    def open_browser(self, p, sheet):
        sheet.click(BROWSE)
        browser = p.wait_window("dialog", skip=[sheet.hwnd])
        self.assertEqual(browser.text(BROWSER_TITLE_ID), BROWSE_TITLE)
        self.assertEqual(browser.info["owner"], sheet.hwnd)
        return browser

    def test_cancelled_browser_leaves_the_text_selected(self):
        p, sheet = self.to_destination()
        typed = "C:\\bench\\typed"
        sheet.set_text(FOLDER, typed)
        sheet.focus(BROWSE)
        browser = self.open_browser(p, sheet)
        self.shot("browser")
        browser.click(ui.IDCANCEL)
        browser.wait_destroyed()
        sheet.wait_page(DESTINATION)
        self.assertEqual(sheet.text(FOLDER), typed)
        self.assertFolderSelected(sheet)
        self.assertRegex(sheet.text(FREE_SPACE), FREE_KNOWN)
        self.assertFalse((self.bench.prefix.drive_c / "bench" / "typed").exists())

    def test_chosen_folder_replaces_the_text(self):
        p, sheet = self.to_destination()
        sheet.set_text(FOLDER, "")
        self.assertEqual(sheet.text(FREE_SPACE), FREE_UNKNOWN)
        browser = self.open_browser(p, sheet)
        browser.click(ui.IDOK)  # the browser's first item: the desktop, a file-system folder here
        browser.wait_destroyed()
        chosen = sheet.text(FOLDER)
        self.assertTrue(chosen.startswith("C:\\"), chosen)
        self.assertTrue(self.bench.prefix.host_path(chosen).is_dir(), chosen)
        self.assertNotIn("QUENTARO", chosen)  # exactly the chosen folder, nothing appended
        self.assertFolderSelected(sheet)
        self.assertRegex(sheet.text(FREE_SPACE), FREE_KNOWN)
        self.next_page(sheet, INSTALL)


if __name__ == "__main__":
    unittest.main()
