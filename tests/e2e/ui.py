"""The client of the UI driver (tests/driver/driver.cpp, quentaro-driver.exe): the long-lived
driver process in a prefix, and the objects that stand for what it reaches there (a program
started by it, a window and its controls, pixels read from the screen), with the numbers of the
messages and controls that the scenarios send and name.

See README.md in this folder for the driver's protocol.
"""

import json
import os
import select
import struct
import subprocess
import time

import wine
from wine import BenchError

# Wizard buttons (children of the sheet) and PSM_PRESSBUTTON values.
ID_BACK, ID_NEXT, ID_FINISH, ID_CANCEL, ID_HELP = 12323, 12324, 12325, 2, 9
PSBTN_BACK, PSBTN_NEXT, PSBTN_FINISH, PSBTN_CANCEL = 0, 1, 2, 5
# Message box controls.
IDOK, IDCANCEL, IDYES, IDNO = 1, 2, 6, 7
MSGBOX_TEXT_ID = 0xFFFF
MSGBOX_ICON_ID = 1088
STM_GETICON = 0x0171

# Rich edit messages and flags.
EM_GETFIRSTVISIBLELINE, EM_LINEINDEX, EM_LINESCROLL, EM_GETSEL = 0x00CE, 0x00BB, 0x00B6, 0x00B0
EM_EXGETSEL, EM_GETCHARFORMAT, EM_GETPARAFORMAT = 0x0434, 0x043A, 0x043D
WM_VSCROLL, SB_LINEDOWN, SB_PAGEDOWN, SB_TOP = 0x0115, 1, 3, 6
SCF_DEFAULT, SCF_SELECTION = 0, 1
CFE_PROTECTED = 0x10

WS_VISIBLE = 0x10000000
WS_MINIMIZEBOX = 0x00020000
WS_EX_APPWINDOW = 0x00040000

def utf16z(data):
    """The text of a zero-terminated UTF-16LE field (such as a structure's face name): the units
    before the first zero unit, decoded strictly. What follows the terminator is not part of the
    value, and a control may leave anything there (Wine's rich edit leaves stack bytes)."""
    for i in range(0, len(data) - 1, 2):
        if data[i] == 0 and data[i + 1] == 0:
            data = data[:i]
            break
    return bytes(data[:len(data) // 2 * 2]).decode("utf-16-le")


def pack_enprotected(hwnd_from, id_from, code, msg, wparam, lparam, cp_min, cp_max):
    """An ENPROTECTED notification (NMHDR, msg, wParam, lParam, CHARRANGE) as the setup under test
    lays it out: the rich edit header packs it to 4 bytes, so on x86-64 wParam follows msg at 28,
    after the 24-byte NMHDR."""
    if wine.PLAN.bits == 64:
        return struct.pack("<QQI4xIQqii", hwnd_from, id_from, code, msg, wparam, lparam, cp_min, cp_max)
    return struct.pack("<IIIIIiii", hwnd_from, id_from, code, msg, wparam, lparam, cp_min, cp_max)

def _escape_field(value):
    s = str(value)
    return s.replace("\\", "\\\\").replace("\t", "\\t").replace("\n", "\\n").replace("\r", "\\r")


class DriverError(BenchError):
    pass


class Driver:
    """The long-lived UI driver inside the prefix; one command per line, one JSON reply per line."""

    def __init__(self, prefix, display, log_path):
        wine.require_artifacts(wine.DRIVER_EXE)
        self._log = open(log_path, "ab")
        self.proc = subprocess.Popen(wine.WINE + [str(wine.DRIVER_EXE)], env=prefix.env(display),
                                     stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=self._log)
        self._buf = b""
        self.call("hello", timeout=120)

    def call(self, *fields, timeout=30, check=True):
        line = "\t".join(_escape_field(f) for f in fields) + "\n"
        try:
            self.proc.stdin.write(line.encode("utf-8"))
            self.proc.stdin.flush()
        except BrokenPipeError:
            raise DriverError(f"driver is gone (exit {self.proc.poll()})")
        deadline = time.monotonic() + timeout
        fd = self.proc.stdout.fileno()
        while b"\n" not in self._buf:
            left = deadline - time.monotonic()
            ready, _, _ = select.select([fd], [], [], max(0.0, left))
            if not ready:
                raise DriverError(f"driver gave no answer to {fields[0]} within {timeout} s")
            chunk = os.read(fd, 65536)
            if not chunk:
                raise DriverError(f"driver exited (code {self.proc.poll()}) during {fields[0]}")
            self._buf += chunk
        reply, self._buf = self._buf.split(b"\n", 1)
        try:
            result = json.loads(reply.decode("utf-8"))
        except ValueError as e:  # UnicodeDecodeError included; the driver writes ASCII JSON
            raise DriverError(f"unreadable answer to {fields[0]} ({e}): {reply[:300]!r}")
        if check and not result.get("ok"):
            raise DriverError(f"{' '.join(str(f) for f in fields)[:300]}: {result.get('error')}")
        return result

    def close(self):
        if self.proc.poll() is None:
            try:
                self.call("quit", timeout=10)
            except BenchError:
                pass
            try:
                self.proc.wait(10)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait(10)
        self.proc.stdin.close()
        self.proc.stdout.close()
        self._log.close()


class Window:
    """A top-level window of a program under test, seen through the driver."""

    def __init__(self, driver, info):
        self.driver = driver
        self.hwnd = info["hwnd"]
        self.info = info

    def __repr__(self):
        return f"<Window {self.hwnd} {self.info.get('kind')} {self.info.get('text')!r}>"

    @property
    def kind(self):
        return self.info.get("kind")

    def refresh(self):
        self.info = self.driver.call("window", self.hwnd)
        return self.info

    def exists(self):
        return self.driver.call("exists", self.hwnd)["exists"]

    def wait_gone(self, timeout=10):
        """Waits until the window is destroyed or hidden (a posted click closes a box later)."""
        deadline = time.monotonic() + timeout
        while True:
            r = self.driver.call("window", self.hwnd, check=False)
            if not r.get("ok") or not r.get("visible"):
                return
            if time.monotonic() > deadline:
                raise BenchError(f"window {self.hwnd} still there after {timeout} s")
            time.sleep(0.03)

    def wait_destroyed(self, timeout=10):
        """Waits until the window no longer exists (a posted click ends a dialog a little later)."""
        deadline = time.monotonic() + timeout
        while self.exists():
            if time.monotonic() > deadline:
                raise BenchError(f"window {self.hwnd} still exists after {timeout} s")
            time.sleep(0.03)

    def answer(self, button):
        """Presses a button of a message box and waits until the box has gone."""
        self.click(button)
        self.wait_gone()

    def caption(self):
        return self.refresh()["text"]

    def control(self, cid):
        return self.driver.call("control", self.hwnd, cid)

    def text(self, cid):
        return self.control(cid)["text"]

    def click(self, cid):
        return self.driver.call("click", self.hwnd, cid)

    def press(self, psbtn):
        return self.driver.call("press", self.hwnd, psbtn)

    def set_text(self, cid, text):
        return self.driver.call("settext", self.hwnd, cid, text)

    def type(self, cid, text):
        return self.driver.call("type", self.hwnd, cid, text)

    def keys(self, *chords):
        return self.driver.call("keys", self.hwnd, *chords)

    def focus(self, cid):
        return self.driver.call("focus", self.hwnd, cid)["focused"]

    def send(self, cid, msg, wparam=0, lparam=0):
        return self.driver.call("send", self.hwnd, cid, msg, wparam, lparam)["result"]

    def send_buffer(self, cid, msg, wparam, lparam, data=b"", size=None, where="auto"):
        """Sends a message whose parameters ("buf", "buf+N") point at a buffer filled with
        `data` (in the target process for private messages, see README.md); returns (result,
        buffer bytes afterwards)."""
        r = self.driver.call("sendbuf", self.hwnd, cid, msg, wparam, lparam, data.hex(),
                             size if size is not None else len(data), where)
        return r["result"], bytes.fromhex(r["buffer"])

    # Rich edit (messages of the rich edit control, their structures read across processes)

    def selection(self, cid):
        """(start, end) of the selection (EM_EXGETSEL)."""
        _, buf = self.send_buffer(cid, EM_EXGETSEL, 0, "buf", size=8)
        return struct.unpack("<ii", buf)

    def char_format(self, cid, which=SCF_DEFAULT):
        """EM_GETCHARFORMAT with a CHARFORMAT2W: mask, effects, height (twips), charset, face,
        protected."""
        data = struct.pack("<II", 116, 0) + bytes(108)
        _, buf = self.send_buffer(cid, EM_GETCHARFORMAT, which, "buf", data)
        mask, effects, height = struct.unpack_from("<IIi", buf, 4)
        face = utf16z(buf[26:90])
        return {"mask": mask, "effects": effects, "height": height, "charset": buf[24], "face": face,
                "protected": bool(effects & CFE_PROTECTED)}

    def para_format(self, cid):
        """EM_GETPARAFORMAT with a PARAFORMAT2 (of the selection): mask, start_indent,
        right_indent, offset (twips), alignment."""
        data = struct.pack("<I", 188) + bytes(184)
        _, buf = self.send_buffer(cid, EM_GETPARAFORMAT, 0, "buf", data)
        mask, = struct.unpack_from("<I", buf, 4)
        start, right, offset = struct.unpack_from("<iii", buf, 12)
        alignment, = struct.unpack_from("<H", buf, 24)
        return {"mask": mask, "start_indent": start, "right_indent": right, "offset": offset,
                "alignment": alignment}

    def first_visible_line(self, cid):
        return self.send(cid, EM_GETFIRSTVISIBLELINE)

    def line_index(self, cid, line):
        return self.send(cid, EM_LINEINDEX, line)

    def line_scroll(self, cid, lines):
        return self.send(cid, EM_LINESCROLL, 0, lines)

    def vscroll(self, cid, code):
        return self.send(cid, WM_VSCROLL, code)

    def font(self, cid):
        """The control's fonts, read inside its process (the driver's `font`): "font", its own font
        (WM_GETFONT), and "drawn", the font its parent selects for it as it paints (WM_CTLCOLOR*),
        each None or a dict of face, height (LOGFONT lfHeight), width, weight, italic, underline
        and charset."""
        r = self.driver.call("font", self.hwnd, cid)
        return {"font": r["font"], "drawn": r["drawn"]}

    def pixels(self, cid=0, area="window"):
        r = self.driver.call("pixels", self.hwnd, cid, area)
        return Pixels(r["width"], r["height"], r["rgb"], r["rect"])

    def probe(self, timeout_ms=2000):
        return self.driver.call("probe", self.hwnd, timeout_ms, timeout=timeout_ms / 1000 + 10)["responsive"]

    # Sheet

    def page_index(self):
        return self.driver.call("page", self.hwnd)["index"]

    def wait_page(self, index, timeout=10):
        deadline = time.monotonic() + timeout
        while True:
            r = self.driver.call("page", self.hwnd, check=False)
            if r.get("ok") and r["index"] == index:
                return r
            if time.monotonic() > deadline:
                raise BenchError(f"sheet did not reach page {index} (last answer {r})")
            time.sleep(0.05)

    # Message box

    def message(self):
        return self.text(MSGBOX_TEXT_ID)

    def has_icon(self):
        """Whether the box shows an icon: its icon static is visible and holds an icon
        (STM_GETICON). A box without an icon keeps the static, visible and empty."""
        r = self.driver.call("control", self.hwnd, MSGBOX_ICON_ID, check=False)
        if not (r.get("ok") and r.get("visible")):
            return False
        return self.send(MSGBOX_ICON_ID, STM_GETICON) != 0


class Pixels:
    def __init__(self, width, height, rgb_hex, rect=None):
        self.width, self.height, self.rect = width, height, rect
        self.data = bytes.fromhex(rgb_hex)

    def at(self, x, y):
        i = (y * self.width + x) * 3
        return (self.data[i] << 16) | (self.data[i + 1] << 8) | self.data[i + 2]

    def colours(self):
        counts = {}
        for i in range(0, len(self.data), 3):
            c = (self.data[i] << 16) | (self.data[i + 1] << 8) | self.data[i + 2]
            counts[c] = counts.get(c, 0) + 1
        return counts


class Process:
    """A program started by the driver."""

    def __init__(self, driver, pid):
        self.driver, self.pid = driver, pid

    def wait_window(self, kind="any", timeout=20, skip=()):
        info = self.driver.call("wait-window", self.pid, kind, int(timeout * 1000),
                                ",".join(str(h) for h in skip), timeout=timeout + 15)
        return Window(self.driver, info)

    def wait_sheet(self, timeout=30):
        return self.wait_window("sheet", timeout)

    def wait_msgbox(self, timeout=20):
        return self.wait_window("msgbox", timeout)

    def try_wait_window(self, kind, timeout, skip=()):
        """The window, or None when the process exits or the time runs out first."""
        r = self.driver.call("wait-window", self.pid, kind, int(timeout * 1000),
                             ",".join(str(h) for h in skip), timeout=timeout + 15, check=False)
        return Window(self.driver, r) if r.get("ok") else None

    def windows(self, deep=False):
        return self.driver.call("windows", self.pid, *(["deep"] if deep else []))["windows"]

    def wait_exit(self, timeout=30):
        return self.driver.call("wait-exit", self.pid, int(timeout * 1000), timeout=timeout + 15)["code"]

    def exit_code(self):
        r = self.driver.call("exit-code", self.pid)
        return r["code"] if r["exited"] else None

    def kill(self):
        return self.driver.call("kill", self.pid)["code"]
