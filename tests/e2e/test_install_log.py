"""The install page's log view in the middle of an extraction: what it shows after the lines of many
files, held still by the message of a file that cannot be created.

After every line the view holds exactly the log text, all of it at 9.5 points (190 twips), with the
caret, and no selection, at the end, and the end in view.
"""

import struct
import unittest

import install_wizard as iw
import ui
import wine
from install_wizard import InstallCase, pattern
from packages import entry

EM_EXGETSEL, EM_GETLINECOUNT, EM_POSFROMCHAR = 0x0434, 0x00BA, 0x00D6
FILES = 60


class LogView(InstallCase):
    PREFIX = "win64"

    def held_view(self):
        """Runs a package whose file after FILES others cannot be created (a folder of its name is in
        the destination); returns (process, sheet, box) with the message up."""
        destination = "C:\\QUENTARO log"
        (self.bench.prefix.host_path(destination) / "blocked.txt").mkdir(parents=True)
        entries = [entry(f"file{i:03d}.txt", 0, pattern(100 + i, i)) for i in range(FILES)]
        self.write_package(entries + [entry("blocked.txt", 0, b"x"), entry("QUENTARO.exe", 0, b"MZ")])
        p, sheet = self.run_to_install_page(destination)
        box = self.wait_for_job(p, sheet)
        self.assertIsNotNone(box)
        self.assertBox(p, box, iw.MSG_NOT_FOUND)
        return p, sheet, box

    def test_after_many_lines(self):
        p, sheet, box = self.held_view()
        expected = [iw.LOG_FIRST] + [f'Create "file{i:03d}.txt"...' for i in range(FILES)] + ['Create "blocked.txt"...']
        self.assertEqual(self.log_lines(sheet), expected)

        # The caret at the end: the rich edit counts each paragraph mark as one character.
        length = len("\n".join(expected))
        _, buf = sheet.send_buffer(iw.IDC_LOG, EM_EXGETSEL, 0, "buf", bytes(8))
        self.assertEqual(struct.unpack("<ii", buf), (length, length))
        # The end in view: the caret's line lies inside the control's client area, and the view is
        # scrolled (the lines do not fit).
        _, buf = sheet.send_buffer(iw.IDC_LOG, EM_POSFROMCHAR, "buf", length, bytes(8), where="remote")
        x, y = struct.unpack("<ii", buf)
        rect = sheet.control(iw.IDC_LOG)["rect"]
        self.assertTrue(0 <= y < rect["bottom"] - rect["top"], (x, y, rect))
        self.assertGreater(sheet.first_visible_line(iw.IDC_LOG), 0)
        self.assertEqual(sheet.send(iw.IDC_LOG, EM_GETLINECOUNT), len(expected))

        # Every character at 9.5 points, nothing protected yet.
        mask, effects, height = self.log_format(sheet)
        self.assertTrue(mask & iw.CFM_SIZE, f"one size over the whole text (mask {mask:#x})")
        self.assertEqual(height, iw.LOG_HEIGHT_TWIPS)
        self.assertFalse(effects & iw.CFE_PROTECTED)
        box.click(ui.IDOK)
        self.assertEqual(p.wait_exit(), iw.EXIT_FAILED)

    @wine.needs_wow64  # the installation completes: on 32-bit Windows 7 it would need the driver installer
    def test_a_long_log_is_protected_to_its_end(self):
        # About 20,000 characters of log: the closing format is applied over the text in several
        # ranges, and must still reach every character, the last line included.
        count = 800
        destination = "C:\\QUENTARO long log"
        entries = [entry(f"long-log-file-{i:04d}.txt", 0, b"x") for i in range(count)]
        self.write_package(entries + [entry("QUENTARO.exe", 0, b"MZ")])
        p, sheet = self.run_to_install_page(destination)
        self.assertIsNone(self.wait_for_job(p, sheet, timeout=300))
        lines = self.log_lines(sheet)
        self.assertGreater(len("\n".join(lines)), 16384 * 1.2)
        self.assertEqual(lines[-2:], [iw.LOG_SHORTCUT, iw.LOG_DONE])
        self.assertLogFormatted(sheet, protected=True)
        # The last character alone: protected and at 9.5 points like the first.
        length = len("\n".join(lines))
        for start in (0, length - 1):
            sheet.send(iw.IDC_LOG, iw.EM_SETSEL, start, start + 1)
            cf = struct.pack("<II", 116, 0) + bytes(108)
            mask, buf = sheet.send_buffer(iw.IDC_LOG, iw.EM_GETCHARFORMAT, iw.SCF_SELECTION, "buf", cf)
            _, _, effects, height = struct.unpack_from("<IIIi", buf, 0)
            self.assertTrue(effects & iw.CFE_PROTECTED, f"character {start} protected")
            self.assertEqual(height, iw.LOG_HEIGHT_TWIPS)
        sheet.send(iw.IDC_LOG, iw.EM_SETSEL, -1, -1)
        self.finish(p, sheet)


# Mouse messages a user's hand sends to the log view (posted, as input arrives).
WM_MOUSEMOVE, WM_LBUTTONDOWN, WM_LBUTTONUP, WM_LBUTTONDBLCLK, MK_LBUTTON = 0x0200, 0x0201, 0x0202, 0x0203, 0x0001


def point(x, y):
    return (y << 16) | x


class LogUnderUserInput(InstallCase):
    """The user clicks, double-clicks, drags and selects in the log while 2,000 files are
    installed: the view never shows anything but a beginning of the log, and ends exactly as it
    would without the user. (On Windows XP: the installation completes on every build the bench
    runs.)"""

    PREFIX = "winxp"
    FILES = 2000

    def disturb(self, sheet, round_):
        """One round of a user's hand in the log view: a click, a double click, a drag, and a
        selection of a range of its text."""
        r = sheet.control(iw.IDC_LOG)["rect"]
        width, height = r["right"] - r["left"], r["bottom"] - r["top"]
        x1, y1 = 5 + (round_ * 37) % max(width - 10, 1), 5 + (round_ * 13) % max(height - 10, 1)
        x2, y2 = 5 + (round_ * 53 + 40) % max(width - 10, 1), 5 + (round_ * 29 + 20) % max(height - 10, 1)
        post = lambda msg, wp, lp: self.bench.driver.call("post", sheet.hwnd, iw.IDC_LOG, msg, wp, lp)  # noqa: E731
        post(WM_LBUTTONDOWN, MK_LBUTTON, point(x1, y1))
        post(WM_LBUTTONUP, 0, point(x1, y1))
        post(WM_LBUTTONDBLCLK, MK_LBUTTON, point(x2, y2))
        post(WM_LBUTTONUP, 0, point(x2, y2))
        post(WM_LBUTTONDOWN, MK_LBUTTON, point(x1, y1))
        for step in range(1, 4):
            post(WM_MOUSEMOVE, MK_LBUTTON, point(x1 + (x2 - x1) * step // 3, y1 + (y2 - y1) * step // 3))
        post(WM_LBUTTONUP, 0, point(x2, y2))
        sheet.send(iw.IDC_LOG, iw.EM_SETSEL, round_ % 50, round_ % 50 + 30)

    def test_clicks_drags_and_selections_while_it_installs(self):
        names = [f"f{i:04d}.txt" for i in range(self.FILES)]
        self.write_package([entry(name, 0, b"x") for name in names] + [entry("QUENTARO.exe", 0, b"MZ")])
        expected = ([iw.LOG_FIRST] + [f'Create "{name}"...' for name in names] + ['Create "QUENTARO.exe"...']
                    + [iw.LOG_SHORTCUT, iw.LOG_DONE])
        p, sheet = self.run_to_install_page("C:\\QUENTARO clicks")
        rounds = []

        def watch(lines):
            # Whatever the user did, the view shows a beginning of the log, line for line.
            self.assertEqual(lines, expected[:len(lines)], f"after {len(rounds)} rounds of input")
            self.disturb(sheet, len(rounds))
            rounds.append(len(lines))

        self.assertIsNone(self.wait_for_job(p, sheet, timeout=300, watch=watch))
        self.assertIsNone(p.exit_code(), "the setup is still running")
        self.assertGreater(len(rounds), 3, "the user had time to act while it installed")
        self.assertEqual(self.log_lines(sheet), expected)
        self.assertLogFormatted(sheet, protected=True)
        self.finish(p, sheet)


if __name__ == "__main__":
    unittest.main()
