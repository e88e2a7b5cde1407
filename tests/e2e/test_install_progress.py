"""The install page's percentage bar as the screen shows it, held still by the message boxes that the
install job shows on its way:

- at 0: a package with a wrong signature stops the job at its first check, before the bar has been
  given any value; the bar shows its first paint while the message is up;
- at 50: a package whose check value alone is wrong is read to its last byte, which sets the bar to
  exactly 50, before the message; the box is moved over part of the bar and away again, then a part
  of the bar around the boundary alone is repainted, and the picture must not change;
- at 100: a package without "QUENTARO.exe" is extracted completely (bar at 100) before the
  shortcut message; after it the closing line with its trailing blank and an enabled Finish;
- above 100: bytes written to the system folder raise the extraction's progress value past 100
  by its formula; the bar still shows exactly what it shows at 100.

Colours are the system's COLOR_HIGHLIGHT (bar) and COLOR_WINDOW (background), read by the driver.
The text is drawn with anti-aliasing, so text pixels lie between the two colours.
"""

import time
import unittest

import install_wizard as iw
import packages
import ui
import wine
from install_wizard import BarPicture, InstallCase, pattern
from packages import entry, raw_package


def colour_rgb(colorref):
    """A COLORREF (0x00BBGGRR) as the driver's pixels give colours (0xRRGGBB)."""
    return ((colorref & 0xFF) << 16) | (colorref & 0xFF00) | ((colorref >> 16) & 0xFF)


class ProgressBar(InstallCase):
    PREFIX = "win64"

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        colours = cls.bench.driver.call("syscolors")
        cls.bar_rgb, cls.background_rgb = colour_rgb(colours["highlight"]), colour_rgb(colours["window"])

    def picture(self, sheet):
        return BarPicture(sheet.pixels(iw.IDC_PROGRESS, "client"), self.bar_rgb, self.background_rgb)

    def stopped_at_message(self, data, message):
        """Runs the setup on a package to the message box that stops the job; returns (process,
        sheet, box) with the box moved away from the sheet."""
        self.write_package(data=data)
        p, sheet = self.run_to_install_page()
        box = self.wait_for_job(p, sheet)
        self.assertIsNotNone(box)
        self.assertBox(p, box, message)
        self.assertRunningState(self.page_state(sheet))
        self.move_away(box)
        self.assertFalse(self.overlaps(box, sheet.refresh()["rect"]))
        return p, sheet, box

    def move_away(self, box):
        """Moves the box to the desktop's bottom-right corner, away from the wizard."""
        r = box.refresh()["rect"]
        width, height = wine.DESKTOP_SIZE
        self.bench.driver.call("move", box.hwnd, width - (r["right"] - r["left"]), height - (r["bottom"] - r["top"]))
        time.sleep(0.3)

    @staticmethod
    def overlaps(box, rect):
        r = box.refresh()["rect"]
        return r["left"] < rect["right"] and rect["left"] < r["right"] and r["top"] < rect["bottom"] and \
            rect["top"] < r["bottom"]

    def assertTextCentred(self, ink, picture):
        self.assertTrue(ink, "the percentage is drawn")
        xs, ys = [x for x, _ in ink], [y for _, y in ink]
        self.assertLessEqual(abs((min(xs) + max(xs)) / 2 - (picture.width - 1) / 2), 2, (min(xs), max(xs)))
        self.assertLessEqual(abs((min(ys) + max(ys)) / 2 - (picture.height - 1) / 2), 2, (min(ys), max(ys)))

    def assertBar(self, picture, filled_width):
        """Every pixel is the bar colour left of `filled_width` and the background colour right of
        it, except the text, drawn in the other colour of its side."""
        self.assertEqual(picture.off_line(), [], "only the two colours and their blends")
        ink = picture.ink(filled_width)
        for x in range(picture.width):
            for y in range(picture.height):
                if (x, y) in ink:
                    continue
                expected = 1.0 if x < filled_width else 0.0
                self.assertLess(abs(picture.barness(x, y) - expected), 0.25, (x, y, hex(picture.pixels.at(x, y))))
        self.assertTextCentred(ink, picture)
        return ink

    def test_bar_at_0_while_the_first_check_fails(self):
        data = raw_package([entry("QUENTARO.exe", 0, pattern(3000, 1))], signature=b"KJ4X")
        p, sheet, box = self.stopped_at_message(data, iw.MSG_DAMAGED)
        picture = self.picture(sheet)
        self.shot("bar0")
        self.assertBar(picture, 0)
        box.click(ui.IDOK)
        self.assertEqual(p.wait_exit(), iw.EXIT_FAILED)

    def test_bar_at_50_split_in_swapped_colours_also_after_a_partial_repaint(self):
        data = packages.damaged_at_end(raw_package([entry("QUENTARO.exe", 0, pattern(30000, 1))]))
        p, sheet, box = self.stopped_at_message(data, iw.MSG_DAMAGED)
        bar = sheet.control(iw.IDC_PROGRESS)["rect"]
        # Cover the right part of the bar, the boundary included, and uncover it again. (Wine then
        # repaints the whole bar; the partial repaint follows below.)
        left = bar["left"] + (bar["right"] - bar["left"]) * 3 // 10
        self.bench.driver.call("move", box.hwnd, left, bar["top"] - 20)
        time.sleep(0.3)
        self.assertTrue(self.overlaps(box, bar))
        self.move_away(box)
        full = self.picture(sheet)
        self.shot("bar50")
        # Only a part around the boundary, not at the bar's top-left corner, is repainted: its
        # clip box starts inside the bar, and the picture must stay the same.
        width, height = full.width, full.height
        self.bench.driver.call("redraw", sheet.hwnd, iw.IDC_PROGRESS, width * 3 // 10, 3, width * 8 // 10, height - 2)
        time.sleep(0.3)
        partial = self.picture(sheet)
        self.assertEqual(partial.pixels.data, full.pixels.data, "a partial repaint draws what a full one does")

        boundary = full.width // 2
        ink = self.assertBar(full, boundary)
        # The characters that straddle the boundary are split there: text on both sides of it.
        left_ink = [y for (x, y) in ink if x == boundary - 1]
        right_ink = [y for (x, y) in ink if x == boundary]
        self.assertTrue(left_ink and right_ink, "a character straddles the boundary")
        box.click(ui.IDOK)
        self.assertEqual(p.wait_exit(), iw.EXIT_FAILED)

    @wine.needs_wow64  # on 32-bit Windows 7 the missing driver installer would end the job first
    def test_bar_at_100_and_never_beyond(self):
        # Without the application the shortcut message stops the job after the extraction.
        data = raw_package([entry("readme.txt", 0, pattern(20000, 1)), entry("data.dat", 0, pattern(777, 2))])
        p, sheet, box = self.stopped_at_message(data, iw.MSG_SHORTCUT)
        self.assertEqual(box.info["owner"], sheet.hwnd)
        self.assertEqual(self.log_lines(sheet), [iw.LOG_FIRST, 'Create "readme.txt"...', 'Create "data.dat"...',
                                                 iw.LOG_SHORTCUT])
        at_100 = self.picture(sheet)
        self.shot("bar100")
        self.assertBar(at_100, at_100.width)
        # A window text of its own is drawn instead of the percentage, and read back as the
        # window's text; an empty one brings the percentage back.
        sheet.set_text(iw.IDC_PROGRESS, "ABC")
        time.sleep(0.3)
        own = self.picture(sheet)
        self.assertNotEqual(own.pixels.data, at_100.pixels.data)
        self.assertBar(own, own.width)
        self.assertEqual(sheet.text(iw.IDC_PROGRESS), "ABC")
        sheet.set_text(iw.IDC_PROGRESS, "")
        time.sleep(0.3)
        self.assertEqual(self.picture(sheet).pixels.data, at_100.pixels.data)
        self.assertEqual(sheet.text(iw.IDC_PROGRESS), "")
        self.dismiss(box)
        self.assertIsNone(self.wait_for_job(p, sheet))
        lines = self.log_lines(sheet)
        self.assertEqual(lines[-2:], [iw.LOG_SHORTCUT, iw.LOG_DONE_NO_SHORTCUT])
        self.assertLogFormatted(sheet, protected=True)
        self.assertNoLinks()
        self.finish(p, sheet)

        # System-folder bytes of five times the destination's: the formula gives 350.
        self.fresh()
        self.write_package([entry("QUENTARO.exe", 0, pattern(1000, 3)),
                            entry("64%4wow64only.dll", 4, pattern(5000, 4))])
        p, sheet = self.run_to_install_page()
        self.assertIsNone(self.wait_for_job(p, sheet))
        beyond = self.picture(sheet)
        self.assertEqual(beyond.pixels.data, at_100.pixels.data, "the bar shows 100%")
        self.finish(p, sheet)


if __name__ == "__main__":
    unittest.main()
