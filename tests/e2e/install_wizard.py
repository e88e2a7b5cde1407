"""Shared parts of the install scenarios (test_install*.py): the wizard walked to the install page,
what the install page shows, the data of packages' files, installed files and shortcuts read
back (the packages themselves: packages.py).

Not a scenario file itself: it holds no tests.
"""

import json
import os
import struct
import subprocess
import time
from pathlib import Path

import packages
import ui
import wine
from scenario import BenchCase

CAPTION = "QUENTARO ｾｯﾄｱｯﾌﾟ"
COMPLETED = " QUENTAROのｾｯﾄｱｯﾌﾟが完了しました。"
MSG_NOT_FOUND = "ﾃﾞｰﾀﾌｧｲﾙが見つかりません。ｾｯﾄｱｯﾌﾟを終了します。"
MSG_DAMAGED = "ﾃﾞｰﾀﾌｧｲﾙが壊れています。ｾｯﾄｱｯﾌﾟを終了します。"
MSG_SHORTCUT = "ﾃﾞｽｸﾄｯﾌﾟへｼｮｰﾄｶｯﾄの作成に失敗しました。"

TITLE_RUNNING = "インストール中・・・"
SUBTITLE_RUNNING = "しばらくお待ち下さい。"
TITLE_DONE = "インストール完了"
FINISH_CAPTION = "次へ(&N)>"

LOG_FIRST = "Check Data File..."
LOG_SHORTCUT = "Create shortcut..."
LOG_DONE = "Install successfully!"
LOG_DONE_NO_SHORTCUT = "Install successfully, but create shortcut failed! "

INSTALL_PAGE = 4
IDC_FOLDER, IDC_PROGRESS, IDC_TITLE, IDC_SUBTITLE, IDC_LOG = 1011, 1015, 1018, 1019, 1023
EXIT_FINISHED, EXIT_FAILED, EXIT_CANCELLED = 0, 1, 2

DEFAULT_DESTINATION = "C:\\Program Files\\QUENTARO\\lw-r7100_lw-r710r"
PACKAGE = "QUENTARO.cab"
LINK_NAME = "NRQ QUENTARO.LNK"
LINK_DESCRIPTION = "QUENTARO for LW-R7100/R710R"
CSIDL_COMMON_DESKTOPDIRECTORY, CSIDL_COMMON_PROGRAMS = 25, 23

PROBE_EXE = wine.WIN_DIR / "tests" / "engine_probe" / "engine_probe.exe"
STANDIN_EXE = wine.WIN_DIR / "tests" / "engine_probe" / "QuentaroDriver32setup.exe"
STANDIN_RECORD = "QuentaroDriver32setup.record"

# Messages and values sent to the setup's windows.
EM_SETSEL, EM_GETCHARFORMAT = 0x00B1, 0x043A
WM_CLOSE, WM_SYSCOMMAND, SC_CLOSE, WM_NOTIFY, WM_CHAR = 0x0010, 0x0112, 0xF060, 0x004E, 0x0102
EM_GETEVENTMASK, ENM_PROTECTED, EN_PROTECTED = 0x043B, 0x00200000, 0x0704
SCF_SELECTION = 1
CFM_SIZE, CFM_PROTECTED, CFE_PROTECTED = 0x80000000, 0x00000010, 0x00000010
LOG_HEIGHT_TWIPS = 190


# ---------------------------------------------------------------------------------------------
# The data of packages' files


def pattern(size, seed):
    """`size` bytes that differ from one seed to the next."""
    block = bytes((seed * 31 + i * 7) & 0xFF for i in range(256))
    return (block * (size // 256 + 1))[:size]


# ---------------------------------------------------------------------------------------------
# Links and the engine probe (for what only Windows can read back)


def link_show_command(path):
    """The show command as the .lnk file stores it: the DWORD at offset 0x3C of the header (Wine's
    IShellLinkW::GetShowCmd answers 1 after Load, whatever the file holds)."""
    return struct.unpack_from("<I", Path(path).read_bytes(), 0x3C)[0]


def run_probe(bench_, *args):
    """One answer line of engine_probe (run in the bench's prefix)."""
    wine.require_artifacts(PROBE_EXE)
    r = subprocess.run(wine.WINE + [str(PROBE_EXE)] + [str(a) for a in args], cwd=str(bench_.prefix.drive_c),
                       env=bench_.prefix.env(bench_.display), stdout=subprocess.PIPE,
                       stderr=subprocess.DEVNULL, timeout=120)
    lines = [json.loads(x) for x in r.stdout.decode("ascii").splitlines() if x.startswith("{")]
    if len(lines) != 1 or not lines[0].get("ok"):
        raise wine.BenchError(f"engine_probe {args}: {lines}")
    return lines[0]


# ---------------------------------------------------------------------------------------------
# Scenario base class


class InstallCase(BenchCase):
    """Runs the setup on a package and drives it to and through the install page."""

    REQUIRES = (wine.SETUP_EXE, wine.DRIVER_EXE, wine.PACK_TOOL, PROBE_EXE, STANDIN_EXE)

    def prepare(self):
        self.source = self.bench.work_folder("source")

    # Folders

    @property
    def system_folder(self):
        """Where the setup's writes to the system folder land: on 64-bit Windows a 32-bit program's
        system32 is the file system's syswow64 (the 64-bit test build writes to system32 itself)."""
        name = "syswow64" if self.PREFIX == "win64" and wine.PLAN.bits == 32 else "system32"
        return self.bench.prefix.drive_c / "windows" / name

    def shell_folder(self, csidl):
        cache = self.__class__.__dict__.get("_shell_folders")
        if cache is None:
            cache = {}
            setattr(self.__class__, "_shell_folders", cache)
        if csidl not in cache:
            cache[csidl] = run_probe(self.bench, "shellfolder", csidl)["path"]
        return self.bench.prefix.host_path(cache[csidl])

    def link_folders(self):
        return [self.shell_folder(CSIDL_COMMON_DESKTOPDIRECTORY), self.shell_folder(CSIDL_COMMON_PROGRAMS)]

    def read_link(self, host_path):
        return run_probe(self.bench, "readlink", self.bench.prefix.win_path(host_path))

    # Running the wizard

    def write_package(self, entries=None, data=None):
        """The package in the source folder: built by the package tool from entries, or given as bytes."""
        path = self.source / PACKAGE
        if data is not None:
            path.write_bytes(data)
        else:
            packages.make_package(path, entries)
        return path

    def start_setup(self, env=None):
        exe = self.bench.copy_setup(self.source)
        p = self.bench.start(exe, self.source, env=env)
        return p, p.wait_sheet()

    def walk_to_install_page(self, p, sheet, destination=None):
        """Next on the first four pages (the destination page's folder set first when given) and
        returns when the install page is the current page."""
        for index in range(INSTALL_PAGE):
            self.assertEqual(sheet.page_index(), index)
            if index == INSTALL_PAGE - 1 and destination is not None:
                sheet.set_text(IDC_FOLDER, destination)
            button = sheet.control(ui.ID_NEXT)
            self.assertTrue(button["visible"] and button["enabled"], f"Next on page {index}: {button}")
            sheet.click(ui.ID_NEXT)
            if index + 1 < INSTALL_PAGE:
                sheet.wait_page(index + 1, timeout=20)
                continue
            # A job that fails without a message may end the wizard before a look at the page.
            deadline = time.monotonic() + 20
            while True:
                r = self.bench.driver.call("page", sheet.hwnd, check=False)
                if r.get("ok") and r["index"] == INSTALL_PAGE:
                    break
                if not r.get("ok") and not sheet.exists() and p.exit_code() is not None:
                    break
                if time.monotonic() > deadline:
                    self.fail(f"the sheet did not reach the install page (last answer {r})")
                time.sleep(0.05)
        return sheet

    def run_to_install_page(self, destination=None, env=None):
        p, sheet = self.start_setup(env)
        self.walk_to_install_page(p, sheet, destination)
        return p, sheet

    def page_state(self, sheet):
        """What the install page and the sheet's buttons show now."""
        back, cancel, finish = (sheet.control(i) for i in (ui.ID_BACK, ui.ID_CANCEL, ui.ID_FINISH))
        return {"back_visible": back["visible"], "cancel_visible": cancel["visible"],
                "finish_visible": finish["visible"], "finish_enabled": finish["enabled"],
                "finish_text": finish["text"], "title": sheet.text(IDC_TITLE), "subtitle": sheet.text(IDC_SUBTITLE)}

    def assertRunningState(self, state):
        self.assertEqual(state, {"back_visible": False, "cancel_visible": False, "finish_visible": True,
                                 "finish_enabled": False, "finish_text": FINISH_CAPTION, "title": TITLE_RUNNING,
                                 "subtitle": SUBTITLE_RUNNING})

    def assertCompletedState(self, state):
        self.assertEqual(state, {"back_visible": False, "cancel_visible": False, "finish_visible": True,
                                 "finish_enabled": True, "finish_text": FINISH_CAPTION, "title": TITLE_DONE,
                                 "subtitle": ""})

    def wait_for_job(self, p, sheet, timeout=60, watch=None):
        """Waits until Finish is enabled (returns None) or a message box appears (returns it).
        Every look at the page before that must show the running state; `watch` is called with
        the log lines of each look while the job runs."""
        deadline = time.monotonic() + timeout
        while True:
            box = p.try_wait_window("msgbox", 0.05)
            if box is not None:
                return box
            if p.exit_code() is not None:
                self.fail(f"the setup ended during the installation with code {p.exit_code()}")
            state = self.page_state(sheet)
            if state["finish_enabled"]:
                # Enabled last: everything read after it shows the end.
                self.assertCompletedState(state)
                return None
            # The log, read after the texts: without its closing line the job had not begun its
            # completion steps when the texts were read.
            lines = self.log_lines(sheet)
            if lines[-1] in (LOG_DONE, LOG_DONE_NO_SHORTCUT):
                self.assertIn(state["title"], (TITLE_RUNNING, TITLE_DONE))
                self.assertIn(state["subtitle"], (SUBTITLE_RUNNING, ""))
            else:
                self.assertRunningState(state)
            if watch:
                watch(lines)
            if time.monotonic() > deadline:
                self.fail(f"the installation did not end within {timeout} s")

    def log_lines(self, sheet):
        """The log view's text, one entry per line (the control gives "\r\n" per paragraph)."""
        return sheet.text(IDC_LOG).replace("\r\n", "\n").split("\n")

    def log_format(self, sheet):
        """(mask, effects, height in twips) of the whole log text: selects all, reads the
        selection's character format (CHARFORMAT2W), puts the caret back at the end."""
        sheet.send(IDC_LOG, EM_SETSEL, 0, -1)
        cf = struct.pack("<II", 116, 0) + bytes(108)
        mask, buf = sheet.send_buffer(IDC_LOG, EM_GETCHARFORMAT, SCF_SELECTION, "buf", cf)
        sheet.send(IDC_LOG, EM_SETSEL, -1, -1)
        _, _, effects, height = struct.unpack_from("<IIIi", buf, 0)
        return mask & 0xFFFFFFFF, effects, height

    def assertLogFormatted(self, sheet, protected):
        mask, effects, height = self.log_format(sheet)
        self.assertTrue(mask & CFM_SIZE, f"one size over the whole text (mask {mask:#x})")
        self.assertEqual(height, LOG_HEIGHT_TWIPS)
        if protected:
            self.assertTrue(mask & CFM_PROTECTED, f"protection the same over the whole text (mask {mask:#x})")
            self.assertTrue(effects & CFE_PROTECTED, f"protected (effects {effects:#x})")

    def protected_text_answer(self, sheet, id_from=IDC_LOG):
        """The install page's answer to EN_PROTECTED (a WM_CHAR on the first character), sent to the
        page from a thread inside the setup's process as the rich edit would send it (Wine's rich
        edit never sends it)."""
        page = self.bench.driver.call("page", sheet.hwnd)["page"]
        control = sheet.control(IDC_LOG)["hwnd"]
        enp = ui.pack_enprotected(control, id_from, EN_PROTECTED, WM_CHAR, ord("x"), 0, 0, 1)
        return self.bench.driver.call("send-inprocess", sheet.hwnd, f"h{page}", WM_NOTIFY, id_from, "buf",
                                      enp.hex(), len(enp))["result"]

    def assertBox(self, p, box, text, icon=True):
        """A message box of the setup with the setup's caption, this text, and an icon or none;
        owned by a window of the setup."""
        self.assertEqual(box.caption(), CAPTION)
        self.assertEqual(box.message(), text)
        self.assertEqual(box.has_icon(), icon, f"icon of {text!r}")
        self.assertEqual(box.info["owner_pid"], p.pid)

    def dismiss(self, box, timeout=10):
        """OK on a message box; returns once the box is gone (the click is posted)."""
        box.click(ui.IDOK)
        deadline = time.monotonic() + timeout
        while box.exists():
            if time.monotonic() > deadline:
                self.fail("the message box stayed")
            time.sleep(0.02)

    def finish(self, p, sheet):
        """Presses the enabled Finish button: the completion message without an icon, then exit 0."""
        self.assertCompletedState(self.page_state(sheet))
        sheet.click(ui.ID_FINISH)
        box = p.wait_msgbox()
        self.assertBox(p, box, COMPLETED, icon=False)
        box.click(ui.IDOK)
        self.assertEqual(p.wait_exit(), EXIT_FINISHED)

    def assertFileWritten(self, path, data, stamp):
        self.assertTrue(path.is_file(), path)
        self.assertEqual(path.read_bytes(), data, path)
        # Wine keeps the last-write time; it cannot keep a creation time of its own.
        self.assertEqual(os.stat(path).st_mtime, packages.stamp_seconds(stamp), path)

    def assertLinks(self, destination_win):
        """One link per all-users folder, to QUENTARO.exe in the destination folder."""
        for folder in self.link_folders():
            self.assertEqual(sorted(x.name for x in folder.glob("NRQ*")), [LINK_NAME], folder)
            link = self.read_link(folder / LINK_NAME)
            self.assertEqual((link["target"], link["folder"], link["description"]),
                             (destination_win + "\\QUENTARO.exe", destination_win, LINK_DESCRIPTION))
            self.assertEqual(link_show_command(folder / LINK_NAME), 5)

    def assertNoLinks(self):
        for folder in self.link_folders():
            self.assertEqual(list(folder.glob("NRQ*")), [], folder)


# ---------------------------------------------------------------------------------------------
# The progress bar as pixels


class BarPicture:
    """The client area of the progress bar, read from the screen, with every pixel placed on the
    line between the background colour (COLOR_WINDOW) and the bar colour (COLOR_HIGHLIGHT): the
    font is drawn with anti-aliasing, so text pixels take colours between the two."""

    def __init__(self, pixels, bar_rgb, background_rgb):
        self.pixels = pixels
        self.width, self.height = pixels.width, pixels.height
        self.bar, self.background = bar_rgb, background_rgb

    @staticmethod
    def channels(rgb):
        return ((rgb >> 16) & 0xFF, (rgb >> 8) & 0xFF, rgb & 0xFF)

    def barness(self, x, y):
        """0.0 for the background colour, 1.0 for the bar colour; None for a colour off the line."""
        c = self.channels(self.pixels.at(x, y))
        b, w = self.channels(self.bar), self.channels(self.background)
        span = [bi - wi for bi, wi in zip(b, w)]
        axis = max(range(3), key=lambda i: abs(span[i]))
        t = (c[axis] - w[axis]) / span[axis]
        expected = [wi + t * si for wi, si in zip(w, span)]
        if any(abs(ci - ei) > 12 for ci, ei in zip(c, expected)) or t < -0.05 or t > 1.05:
            return None
        return min(1.0, max(0.0, t))

    def off_line(self):
        return [(x, y) for y in range(self.height) for x in range(self.width) if self.barness(x, y) is None]

    def ink(self, filled_width):
        """Text coverage per pixel for a bar filled up to `filled_width`: over the filled part the
        text is the background colour, over the empty part the bar colour."""
        out = {}
        for y in range(self.height):
            for x in range(self.width):
                t = self.barness(x, y)
                coverage = (1.0 - t) if x < filled_width else t
                if coverage > 0.25:
                    out[(x, y)] = coverage
        return out
