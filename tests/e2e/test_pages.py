"""The first four wizard pages end to end under Wine: button captions, the cancel confirmation,
closing from the title bar, the licence and copyright text controls, and the page fonts."""

import re
import struct
import time
import unittest

import packages
import ui
import wine
from scenario import BenchCase

PACKAGE = "QUENTARO.cab"
EXIT_CANCELLED = 2

CANCEL_TEXT = "     ｾｯﾄｱｯﾌﾟは完了していません。\n\nインストールを中止してもよろしいですか?"
CANCEL_CAPTION = "ｾｯﾄｱｯﾌﾟの中止"

HEADING, SUBTITLE, TEXT_CONTROL = 1018, 1019, 1023
WELCOME, LICENCE, COPYRIGHT, DESTINATION, INSTALL = range(5)

# What every page shows on the sheet's buttons: (visible, caption) of Back, Next and Cancel.
BACK_CAPTION = "<戻る(&B)"
BUTTONS = {
    WELCOME: {ui.ID_BACK: (False, None), ui.ID_NEXT: (True, "次へ(&N)>"), ui.ID_CANCEL: (True, "キャンセル")},
    LICENCE: {ui.ID_BACK: (True, BACK_CAPTION), ui.ID_NEXT: (True, "はい(&Y)"),
              ui.ID_CANCEL: (True, "いいえ(&N)")},
    COPYRIGHT: {ui.ID_BACK: (True, BACK_CAPTION), ui.ID_NEXT: (True, "はい(&Y)"),
                ui.ID_CANCEL: (True, "いいえ(&N)")},
    DESTINATION: {ui.ID_BACK: (True, BACK_CAPTION), ui.ID_NEXT: (True, "次へ>(&N)"),
                  ui.ID_CANCEL: (True, "キャンセル")},
}

# Window messages and rich edit messages used below.
WM_CHAR, WM_KEYDOWN, WM_CUT, WM_PASTE, WM_CLOSE = 0x0102, 0x0100, 0x0300, 0x0302, 0x0010
WM_NOTIFY, WM_SYSCOMMAND, WM_VSCROLL, SC_CLOSE, SB_PAGEDOWN = 0x004E, 0x0112, 0x0115, 0xF060, 3
VK_DELETE, VK_BACK = 0x2E, 0x08
EM_GETSEL, EM_SETSEL, EM_LINEINDEX, EM_GETFIRSTVISIBLELINE = 0x00B0, 0x00B1, 0x00BB, 0x00CE
EM_GETCHARFORMAT, EM_GETEVENTMASK, EM_GETPARAFORMAT, EM_GETOPTIONS = 0x043A, 0x043B, 0x043D, 0x044E
SCF_DEFAULT, SCF_SELECTION = 0, 1
EN_PROTECTED, EN_LINK = 0x0704, 0x070B
CFE_PROTECTED, ENM_PROTECTED = 0x10, 0x00200000
# Both option sets hold ECO_WANTRETURN | ECO_READONLY | ECO_AUTOWORDSELECTION; the focus options
# add ECO_AUTOVSCROLL, which Wine's EM_GETOPTIONS always reports, so it cannot be told apart here.
READ_ONLY_OPTIONS = 0x1801

# The fonts of the pages, as (face, size in tenths of a point, weight). The pages draw their
# heading (1018) with a bold title font and their texts with a normal body font, both "ＭＳ Ｐゴシック"
# made for the screen from a point size; what a page leaves alone keeps the font of its template.
PAGE_FACE = "ＭＳ Ｐゴシック"
BOLD, NORMAL = 700, 0  # FW_BOLD; 0 (FW_DONTCARE) is the face's normal weight
TITLE_16, BODY_12 = (PAGE_FACE, 160, BOLD), (PAGE_FACE, 120, NORMAL)  # the welcome page
TITLE_15, BODY_10 = (PAGE_FACE, 150, BOLD), (PAGE_FACE, 100, NORMAL)  # the other pages
# The templates' own font: 8 points, "ＭＳ ゴシック" for the welcome page, "MS Sans Serif" for the others.
WELCOME_TEMPLATE, TEMPLATE = ("ＭＳ ゴシック", 80, NORMAL), ("MS Sans Serif", 80, NORMAL)
IDC_FOLDER, IDC_BROWSE, IDC_INSTRUCTIONS, IDC_FREE_SPACE, IDC_NEED_SPACE = 1011, 1012, 1020, 1026, 1027

# Per page: the template's font, and the font each control is drawn with.
PAGE_FONTS = {
    WELCOME: (WELCOME_TEMPLATE, {HEADING: TITLE_16, SUBTITLE: BODY_12}),
    LICENCE: (TEMPLATE, {HEADING: TITLE_15, SUBTITLE: BODY_10}),
    COPYRIGHT: (TEMPLATE, {HEADING: TITLE_15, SUBTITLE: BODY_10}),
    DESTINATION: (TEMPLATE, {HEADING: TITLE_15, SUBTITLE: BODY_10, IDC_INSTRUCTIONS: BODY_10,
                             IDC_FREE_SPACE: BODY_10, IDC_NEED_SPACE: BODY_10,
                             IDC_FOLDER: TEMPLATE, IDC_BROWSE: TEMPLATE}),
    INSTALL: (TEMPLATE, {HEADING: TITLE_15, SUBTITLE: BODY_10}),
}

# Paragraphs of the licence text (numbered from 1) that have no hanging indent: the preamble, the
# body of article 2, and the last paragraph (no carriage return ends it).
LICENCE_UNINDENTED = {3, 12, 29}


class WizardCase(BenchCase):
    """The setup started in a fresh folder with a package; helpers for pages and controls."""

    def prepare(self):
        self.folder = self.bench.work_folder(self._testMethodName)

    def start_wizard(self, package=b""):
        (self.folder / PACKAGE).write_bytes(package)
        exe = self.bench.copy_setup(self.folder)
        p = self.bench.start(exe, self.folder)
        return p, p.wait_sheet()

    def next_page(self, sheet, index):
        button = sheet.control(ui.ID_NEXT)
        self.assertTrue(button["visible"] and button["enabled"], f"Next usable: {button}")
        sheet.click(ui.ID_NEXT)
        sheet.wait_page(index)

    def back_page(self, sheet, index):
        button = sheet.control(ui.ID_BACK)
        self.assertTrue(button["visible"] and button["enabled"], f"Back usable: {button}")
        sheet.click(ui.ID_BACK)
        sheet.wait_page(index)

    def go_to(self, sheet, index):
        for i in range(sheet.page_index() + 1, index + 1):
            self.next_page(sheet, i)

    def page_hwnd(self, sheet):
        return self.bench.driver.call("page", sheet.hwnd)["page"]

    def focused_id(self, sheet):
        return self.bench.driver.call("gui-focus", sheet.hwnd).get("id")

    def selection(self, sheet, cid):
        _, buf = sheet.send_buffer(cid, EM_GETSEL, "buf", "buf+4", size=8)
        return struct.unpack("<II", buf)

    def assertButtons(self, sheet, index):
        for cid, (visible, caption) in BUTTONS[index].items():
            c = sheet.control(cid)
            self.assertEqual(c["visible"], visible, f"page {index}, button {cid}: {c}")
            if visible:
                self.assertEqual(c["text"], caption, f"page {index}, button {cid}")
                self.assertTrue(c["enabled"], f"page {index}, button {cid} enabled")
        self.assertFalse(sheet.control(ui.ID_FINISH)["visible"], f"page {index}: no Finish")

    def assertNoMessageBox(self, p, seconds=1.5):
        """No message box comes up within the time (a box just answered must be gone already:
        answer it with Window.answer, which waits for that)."""
        box = p.try_wait_window("msgbox", seconds)
        self.assertIsNone(box, f"unexpected message box {box and box.info}")

    def assertCancelConfirmation(self, p, sheet):
        box = p.wait_msgbox()
        self.assertEqual(box.caption(), CANCEL_CAPTION)
        self.assertEqual(box.message(), CANCEL_TEXT)
        self.assertTrue(box.has_icon(), "MB_ICONEXCLAMATION shows an icon")
        self.assertEqual(box.text(ui.IDYES), "はい(&Y)")
        self.assertEqual(box.text(ui.IDNO), "いいえ(&N)")
        # A message box owned by a child window is owned by its top-level window: the sheet.
        self.assertEqual(box.info["owner"], sheet.hwnd)
        return box

    def assertNoKeepsThePage(self, p, sheet, index, what=None):
        """The cancel confirmation comes up; No closes it and keeps the wizard on the page, with
        the page's buttons."""
        self.assertCancelConfirmation(p, sheet).answer(ui.IDNO)
        self.assertNoMessageBox(p)
        self.assertEqual(sheet.page_index(), index, what)
        self.assertButtons(sheet, index)

    def assertNothingInstalled(self):
        drive_c = self.bench.prefix.drive_c
        self.assertFalse((drive_c / "Program Files" / "QUENTARO").exists())
        self.assertEqual(sorted(f.name for f in self.folder.iterdir()), sorted([PACKAGE, wine.SETUP_NAME]))


class Buttons(WizardCase):
    def test_captions_and_visibility_after_every_move(self):
        p, sheet = self.start_wizard()
        self.assertButtons(sheet, WELCOME)
        moves = [LICENCE, COPYRIGHT, DESTINATION, COPYRIGHT, LICENCE, WELCOME, LICENCE, COPYRIGHT, DESTINATION]
        for target in moves:
            here = sheet.page_index()
            with self.subTest(move=f"{here}->{target}"):
                if target > here:
                    self.next_page(sheet, target)
                else:
                    self.back_page(sheet, target)
                self.assertButtons(sheet, target)


class Cancelling(WizardCase):
    def test_no_keeps_the_page_yes_ends_the_wizard(self):
        for index in (WELCOME, LICENCE, COPYRIGHT, DESTINATION):
            with self.subTest(page=index):
                self.fresh()
                p, sheet = self.start_wizard()
                self.go_to(sheet, index)
                sheet.click(ui.ID_CANCEL)
                self.assertNoKeepsThePage(p, sheet, index)

                sheet.click(ui.ID_CANCEL)
                self.assertCancelConfirmation(p, sheet).answer(ui.IDYES)
                self.assertNoMessageBox(p)
                self.assertEqual(p.wait_exit(), EXIT_CANCELLED)
                self.assertNothingInstalled()

    def test_escape_asks_to_cancel(self):
        # Escape is the sheet's Cancel: one confirmation; No keeps the page. The text controls of
        # the licence and copyright pages, which have the focus there, keep Escape for themselves:
        # the key is pressed on Next instead.
        cases = [
            # (page, the control with the focus: None = where the page puts it)
            (WELCOME, None),
            (LICENCE, ui.ID_NEXT),
            (COPYRIGHT, ui.ID_NEXT),
            (DESTINATION, None),
        ]
        p, sheet = self.start_wizard()
        for index, focus in cases:
            with self.subTest(page=index):
                self.go_to(sheet, index)
                if focus is not None:
                    self.assertTrue(sheet.focus(focus))
                sheet.keys("Escape")
                self.assertNoKeepsThePage(p, sheet, index)
        sheet.keys("Escape")
        self.assertCancelConfirmation(p, sheet).answer(ui.IDYES)
        self.assertEqual(p.wait_exit(), EXIT_CANCELLED)
        self.assertNothingInstalled()

    def test_closing_from_the_title_bar_asks_once(self):
        # Alt+F4 and the title bar's close button (WM_SYSCOMMAND SC_CLOSE, then WM_CLOSE), and a
        # WM_CLOSE alone: one confirmation each; No keeps the page.
        ways = [
            ("Alt+F4", lambda sheet: sheet.keys("Alt+F4")),
            ("SC_CLOSE", lambda sheet: self.bench.driver.call("post", sheet.hwnd, 0, WM_SYSCOMMAND, SC_CLOSE, 0)),
            ("WM_CLOSE", lambda sheet: self.bench.driver.call("post", sheet.hwnd, 0, WM_CLOSE, 0, 0)),
        ]
        for index in (WELCOME, LICENCE, COPYRIGHT, DESTINATION):
            with self.subTest(page=index):
                self.fresh()
                p, sheet = self.start_wizard()
                self.go_to(sheet, index)
                for name, close in ways:
                    close(sheet)
                    self.assertNoKeepsThePage(p, sheet, index, name)
                sheet.keys("Alt+F4")
                self.assertCancelConfirmation(p, sheet).answer(ui.IDYES)
                self.assertEqual(p.wait_exit(), EXIT_CANCELLED)
                self.assertNothingInstalled()


class TextControls(WizardCase):
    """The licence (page 1) and copyright (page 2) text controls."""

    PAGES = (LICENCE, COPYRIGHT)

    def control_text(self, sheet):
        return sheet.text(TEXT_CONTROL).replace("\r\n", "\r")

    def char_format(self, sheet, scope):
        cf = struct.pack("<II", 116, 0xFFFFFFFF) + bytes(108)  # CHARFORMAT2W
        mask, buf = sheet.send_buffer(TEXT_CONTROL, EM_GETCHARFORMAT, scope, "buf", cf, where="remote")
        effects, height = struct.unpack_from("<Ii", buf, 8)
        face = ui.utf16z(buf[26:90])
        return mask, effects, height, face

    def hanging_indent(self, sheet, position):
        sheet.send(TEXT_CONTROL, EM_SETSEL, position, position)
        pf = struct.pack("<II", 156, 0xFFFFFFFF) + bytes(148)  # PARAFORMAT
        _, buf = sheet.send_buffer(TEXT_CONTROL, EM_GETPARAFORMAT, 0, "buf", pf, where="remote")
        return struct.unpack_from("<i", buf, 20)[0]  # dxOffset

    def assertReadOnly(self, sheet):
        options = sheet.send(TEXT_CONTROL, EM_GETOPTIONS)
        self.assertEqual(options & READ_ONLY_OPTIONS, READ_ONLY_OPTIONS, hex(options))

    def scroll_down(self, sheet, pages=2):
        for _ in range(pages):
            sheet.send(TEXT_CONTROL, WM_VSCROLL, SB_PAGEDOWN, 0)
        first = sheet.send(TEXT_CONTROL, EM_GETFIRSTVISIBLELINE)
        self.assertGreater(first, 0, "the text scrolled")
        return first

    def press_tab(self, sheet, timeout=10):
        """Tab, and waits until the focus has left the control that had it: a keystroke is taken
        from the input queue later, and a second Tab pressed before the first has moved the focus
        would land in the text control (whose Tab selects its whole text again)."""
        before = self.bench.driver.call("gui-focus", sheet.hwnd)["focus"]
        sheet.keys("Tab")
        deadline = time.monotonic() + timeout
        while self.bench.driver.call("gui-focus", sheet.hwnd)["focus"] == before:
            if time.monotonic() > deadline:
                self.fail(f"Tab did not move the focus within {timeout} s")
            time.sleep(0.02)

    def test_text_cannot_be_changed(self):
        p, sheet = self.start_wizard()
        self.bench.driver.call("set-clipboard", "TAMPERED")
        driver = self.bench.driver
        for index in self.PAGES:
            self.go_to(sheet, index)
            before = self.control_text(sheet)
            self.assertGreater(len(before), 400)
            tampering = [
                ("typing (sent)", lambda: sheet.type(TEXT_CONTROL, "abc\r")),
                ("typing (posted)", lambda: driver.call("post-chars", sheet.hwnd, TEXT_CONTROL, "xyz")),
                ("typing (keyboard)", lambda: (sheet.focus(TEXT_CONTROL), sheet.keys("A", "B", "Enter"))),
                ("pasting (WM_PASTE)", lambda: sheet.send(TEXT_CONTROL, WM_PASTE)),
                ("pasting (Ctrl+V)", lambda: (sheet.focus(TEXT_CONTROL), sheet.keys("Ctrl+V"))),
                ("cutting (WM_CUT)", lambda: (sheet.send(TEXT_CONTROL, EM_SETSEL, 0, 20),
                                              sheet.send(TEXT_CONTROL, WM_CUT))),
                ("cutting (Ctrl+X)", lambda: (sheet.focus(TEXT_CONTROL), sheet.send(TEXT_CONTROL, EM_SETSEL, 0, 20),
                                              sheet.keys("Ctrl+X"))),
                ("deleting (Delete key)", lambda: (sheet.focus(TEXT_CONTROL), sheet.send(TEXT_CONTROL, EM_SETSEL, 0, 20),
                                                   sheet.keys("Delete"))),
                ("deleting (Backspace)", lambda: (sheet.focus(TEXT_CONTROL), sheet.keys("Backspace"))),
                ("deleting (WM_KEYDOWN VK_DELETE)", lambda: sheet.send(TEXT_CONTROL, WM_KEYDOWN, VK_DELETE, 1)),
            ]
            for name, tamper in tampering:
                with self.subTest(page=index, tamper=name):
                    tamper()
                    time.sleep(0.1)
                    self.assertEqual(sheet.page_index(), index)
                    self.assertEqual(self.control_text(sheet), before)
        self.assertNoMessageBox(p, 0.5)

    def test_protected_notification_is_refused(self):
        # Wine's rich edit never sends EN_PROTECTED: the notification is sent to the page from a
        # thread inside the setup's process, as the control would send it.
        p, sheet = self.start_wizard()
        for index in self.PAGES:
            self.go_to(sheet, index)
            page = self.page_hwnd(sheet)
            control = sheet.control(TEXT_CONTROL)["hwnd"]
            cases = [
                # (what, idFrom, code, expected answer)
                ("EN_PROTECTED from the text", TEXT_CONTROL, EN_PROTECTED, 1),
                ("another notification of the text", TEXT_CONTROL, EN_LINK, 0),
                ("EN_PROTECTED from another id", 1019, EN_PROTECTED, 0),
            ]
            for what, id_from, code, answer in cases:
                with self.subTest(page=index, notification=what):
                    # ENPROTECTED: NMHDR, msg, wParam, lParam, CHARRANGE (a WM_CHAR 'x' on 0..1).
                    enp = ui.pack_enprotected(control, id_from, code, WM_CHAR, ord("x"), 0, 0, 1)
                    r = self.bench.driver.call("send-inprocess", sheet.hwnd, f"h{page}", WM_NOTIFY, id_from,
                                               "buf", enp.hex(), len(enp))
                    self.assertEqual(r["result"], answer)
            self.assertEqual(sheet.send(TEXT_CONTROL, EM_GETEVENTMASK), ENM_PROTECTED)

    def test_character_format_and_structure(self):
        p, sheet = self.start_wizard()
        structure = {LICENCE: (1329, 29), COPYRIGHT: (471, 7)}
        for index in self.PAGES:
            self.go_to(sheet, index)
            with self.subTest(page=index):
                text = self.control_text(sheet)
                length, paragraphs = structure[index]
                self.assertEqual(len(text), length)
                self.assertEqual(text.count("\r") + 1, paragraphs)
                self.assertNotIn("\n", text)
                # The default format, and the format over the whole text (the control's final
                # paragraph mark after the text is not part of it).
                for scope in (SCF_DEFAULT, SCF_SELECTION):
                    sheet.send(TEXT_CONTROL, EM_SETSEL, 0, len(text))
                    _, effects, height, face = self.char_format(sheet, scope)
                    self.assertEqual(height, 200, "10 points")
                    self.assertTrue(effects & CFE_PROTECTED, hex(effects))
                    self.assertEqual(face, "ＭＳ Ｐゴシック")

    def test_hanging_indents(self):
        p, sheet = self.start_wizard()
        for index in self.PAGES:
            self.go_to(sheet, index)
            text = self.control_text(sheet)
            starts = [0] + [m.end() for m in re.finditer("\r", text)]
            for number, start in enumerate(starts, 1):
                with self.subTest(page=index, paragraph=number):
                    indented = index == LICENCE and number not in LICENCE_UNINDENTED
                    self.assertEqual(self.hanging_indent(sheet, start), 200 if indented else 0)

    def test_focus_puts_an_empty_selection_where_the_user_reads(self):
        p, sheet = self.start_wizard()
        for index in self.PAGES:
            with self.subTest(page=index):
                self.go_to(sheet, index)
                # The sheet gives the control (the page's only tab stop) the focus on activation:
                # the first focus, caret at 0, nothing selected; read-only focused or not.
                self.assertEqual(self.focused_id(sheet), TEXT_CONTROL)
                self.assertEqual(self.selection(sheet, TEXT_CONTROL), (0, 0))
                self.assertReadOnly(sheet)
                sheet.focus(ui.ID_NEXT)
                self.assertReadOnly(sheet)

                # A later focus after scrolling: the start of the top visible line; the view stays.
                first = self.scroll_down(sheet)
                sheet.focus(TEXT_CONTROL)
                start = sheet.send(TEXT_CONTROL, EM_LINEINDEX, first, 0)
                self.assertGreater(start, 0)
                self.assertEqual(self.selection(sheet, TEXT_CONTROL), (start, start))
                self.assertEqual(sheet.send(TEXT_CONTROL, EM_GETFIRSTVISIBLELINE), first)
                self.assertReadOnly(sheet)

                # By Tab: the dialog manager selects the whole text as it moves the focus; the
                # control still ends with an empty selection at the top visible line.
                sheet.focus(ui.ID_NEXT)
                for _ in range(4):
                    self.press_tab(sheet)
                    if self.focused_id(sheet) == TEXT_CONTROL:
                        break
                self.assertEqual(self.focused_id(sheet), TEXT_CONTROL)
                first = sheet.send(TEXT_CONTROL, EM_GETFIRSTVISIBLELINE)
                start = sheet.send(TEXT_CONTROL, EM_LINEINDEX, first, 0)
                self.assertEqual(self.selection(sheet, TEXT_CONTROL), (start, start))

                # Back and Next again: the first focus of the new activation goes to 0, also when
                # the control was left scrolled with a selection.
                self.scroll_down(sheet, 1)
                sheet.send(TEXT_CONTROL, EM_SETSEL, 30, 60)
                self.scroll_down(sheet, 1)
                self.back_page(sheet, index - 1)
                self.next_page(sheet, index)
                self.assertEqual(self.focused_id(sheet), TEXT_CONTROL)
                self.assertEqual(self.selection(sheet, TEXT_CONTROL), (0, 0))
                self.assertEqual(sheet.send(TEXT_CONTROL, EM_GETFIRSTVISIBLELINE), 0)


class Look(WizardCase):
    """The pages' headings and texts are drawn with the page fonts (bold 15 or 16 points, body 10
    or 12 points), not with the templates' 8-point font: the fonts read from the controls, and the
    heights of the drawn text. Screenshots for a look by eye."""

    # (page, control, smallest height in pixels of the inked rows of one line of text)
    FONTS = [
        (WELCOME, HEADING, 16),      # 16 pt bold: about 21 px at 96 dpi
        (WELCOME, SUBTITLE, 13),     # 12 pt
        (LICENCE, HEADING, 15),      # 15 pt bold
        (LICENCE, SUBTITLE, 10),     # 10 pt
        (COPYRIGHT, HEADING, 15),
        (COPYRIGHT, SUBTITLE, 10),
        (DESTINATION, HEADING, 15),
        (DESTINATION, SUBTITLE, 10),
        (DESTINATION, 1020, 10),
        (DESTINATION, 1026, 10),
        (DESTINATION, 1027, 10),
    ]
    # The 8-point template font inks rows of at most this height.
    TEMPLATE_FONT_ROWS = 9

    @staticmethod
    def inked_line_height(pixels):
        """The height of the first run of rows that hold dark (text) pixels."""
        rows = [any((pixels.at(x, y) >> 16) + ((pixels.at(x, y) >> 8) & 255) + (pixels.at(x, y) & 255) < 200
                    for x in range(pixels.width)) for y in range(pixels.height)]
        top = rows.index(True) if True in rows else None
        if top is None:
            return 0
        height = 0
        while top + height < len(rows) and rows[top + height]:
            height += 1
        return height

    @staticmethod
    def expected_font(font, dpi, template=False):
        """The LOGFONT fields of a font given as (face, tenths of a point, weight) at the display's
        DPI. A page font's height is -(dpi * tenths / 720) pixels, rounded down, as a point font is
        made for the screen; the dialog manager makes a template's font with MulDiv, which rounds."""
        face, tenths, weight = font
        pixels = (dpi * tenths + 360) // 720 if template else dpi * tenths // 720
        return {"face": face, "height": -pixels, "weight": weight, "width": 0, "italic": False,
                "underline": False, "charset": 1}  # DEFAULT_CHARSET

    def test_fonts_read_from_the_controls(self):
        # Read inside the setup's process for each control: the font it is drawn with (the one its
        # page selects for it as it paints, or else its own), and its own font (WM_GETFONT), which
        # is its template's font also for the texts drawn with a page font.
        package = packages.raw_package([packages.entry("README.TXT", data=b"QUENTARO\r\n")])
        p, sheet = self.start_wizard(package)
        dpi = self.bench.info["dpi"]
        for index in (WELCOME, LICENCE, COPYRIGHT, DESTINATION, INSTALL):
            self.go_to(sheet, index)
            template, drawn = PAGE_FONTS[index]
            for cid, font in drawn.items():
                with self.subTest(page=index, control=cid):
                    fonts = sheet.font(cid)
                    self.assertEqual(fonts["drawn"] or fonts["font"], self.expected_font(font, dpi, font == template))
                    self.assertEqual(fonts["font"], self.expected_font(template, dpi, template=True))

    def test_page_fonts(self):
        p, sheet = self.start_wizard(bytes(50 * 1048576))
        for index in (WELCOME, LICENCE, COPYRIGHT, DESTINATION):
            self.go_to(sheet, index)
            time.sleep(0.3)
            self.shot(f"page{index}")
            for page, cid, smallest in self.FONTS:
                if page != index:
                    continue
                with self.subTest(page=page, control=cid):
                    height = self.inked_line_height(sheet.pixels(cid))
                    self.assertGreaterEqual(height, smallest)
                    self.assertGreater(height, self.TEMPLATE_FONT_ROWS)


if __name__ == "__main__":
    unittest.main()
