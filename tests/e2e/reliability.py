"""Shared parts of the reliability scenarios (test_reliability_*.py): packages patched byte by byte
and sealed again with their check value (also multi-gigabyte sparse ones), the disk listed before
and after a run, a bench whose Wine runs as an ordinary user, and the table of outcomes that the
scenarios record and docs/RELIABILITY.md is rendered from.

Not a scenario file itself: it holds no tests. Run as a program it renders the table:

    python3 tests/e2e/reliability.py render [OUTPUT]     # default build/native/reliability/RELIABILITY.md
"""

import json
import os
import pwd
import shutil
import stat
import struct
import subprocess
import sys
import tempfile
import time
from pathlib import Path

import bench
import install_wizard as iw

RECORD_DIR = bench.NATIVE_DIR / "reliability"

# The messages of the engine that the Parts leave to this program (core/messages.h).
MSG_READ_FAILED = "ﾃﾞｰﾀﾌｧｲﾙの読み込みに失敗しました。ｾｯﾄｱｯﾌﾟを終了します。"
MSG_WRITE_FAILED = "ﾌｧｲﾙの書き込みに失敗しました。ｾｯﾄｱｯﾌﾟを終了します。"
MSG_DISK_FULL = "ﾃﾞｨｽｸの空き容量が不足しています。ｾｯﾄｱｯﾌﾟを終了します。"
MSG_DRIVER_INSTALLER = "ﾄﾞﾗｲﾊﾞｰのｲﾝｽﾄｰﾙﾌﾟﾛｸﾞﾗﾑを起動出来ません。ｾｯﾄｱｯﾌﾟを終了します。"

GIB = 1 << 30

# ---------------------------------------------------------------------------------------------
# Check value: CRC-16/X-25, table-driven, and over long runs of zero bytes without reading them


def _table():
    table = []
    for i in range(256):
        r = i
        for _ in range(8):
            r = (r >> 1) ^ 0x8408 if r & 1 else r >> 1
        table.append(r)
    return table


CRC_TABLE = _table()


def crc_register(data, r=0xFFFF):
    """The CRC-16/X-25 register after `data` (no final complement)."""
    t = CRC_TABLE
    for b in data:
        r = t[(r ^ b) & 0xFF] ^ (r >> 8)
    return r


def _apply(matrix, r):
    out = 0
    bit = 0
    while r:
        if r & 1:
            out ^= matrix[bit]
        r >>= 1
        bit += 1
    return out


def crc_zeros(r, count):
    """The register after `count` zero bytes: one zero byte is a linear map of the register, so
    `count` of them are that map raised to `count`, by repeated squaring."""
    step = [crc_register(b"\0", 1 << i) for i in range(16)]
    while count:
        if count & 1:
            r = _apply(step, r)
        step = [_apply(step, column) for column in step]
        count >>= 1
    return r


def seal(body):
    """The bytes followed by their complemented CRC-16/X-25, low byte first."""
    return bytes(body) + struct.pack("<H", crc_register(body) ^ 0xFFFF)


def is_sealed(package):
    return len(package) >= 2 and crc_register(package) == 0xF0B8


# ---------------------------------------------------------------------------------------------
# Packages


class Package:
    """A package as bytes, with its entry records read and patched in place."""

    def __init__(self, data):
        self.data = bytearray(data)

    @classmethod
    def build(cls, folder, entries):
        """Built by the package tool from install_wizard.entry() dicts."""
        path = Path(folder) / "tool.cab"
        bench.make_package(path, entries)
        data = path.read_bytes()
        path.unlink()
        return cls(data)

    @property
    def entry_count(self):
        return struct.unpack_from("<I", self.data, 24)[0]

    @entry_count.setter
    def entry_count(self, value):
        struct.pack_into("<I", self.data, 24, value)

    @staticmethod
    def record(i):
        return 32 + 64 * i

    def entry(self, i):
        at = self.record(i)
        offset, size, target = struct.unpack_from("<IIB", self.data, at + 48)
        return {"name": bytes(self.data[at:at + 32]).split(b"\0", 1)[0], "time": bytes(self.data[at + 32:at + 48]),
                "offset": offset, "size": size, "target": target}

    def entry_data(self, i):
        e = self.entry(i)
        return bytes(self.data[e["offset"]:e["offset"] + e["size"]])

    def patch(self, i, name=None, time=None, offset=None, size=None, target=None):
        at = self.record(i)
        if name is not None:
            raw = name if isinstance(name, bytes) else name.encode("cp932")
            self.data[at:at + 32] = raw.ljust(32, b"\0")[:32]
        if time is not None:
            raw = time if isinstance(time, bytes) else time.encode("ascii")
            self.data[at + 32:at + 48] = raw.ljust(16, b"\0")[:16]
        if offset is not None:
            struct.pack_into("<I", self.data, at + 48, offset)
        if size is not None:
            struct.pack_into("<I", self.data, at + 52, size)
        if target is not None:
            self.data[at + 56] = target
        return self

    def sealed(self):
        """The bytes with the check value computed again over everything before it."""
        return seal(self.data[:-2])

    def cut(self, length, reseal):
        """The first `length` bytes; with `reseal`, followed by a check value that is right for them
        (a package cut short and sealed again passes the check value test)."""
        body = bytes(self.data[:length])
        return seal(body) if reseal else body


def write_sparse_package(path, head, length):
    """A package of `length` bytes: `head`, zero bytes (a hole in the file, taking no disk space)
    and the check value over both, in the last two bytes."""
    r = crc_zeros(crc_register(head), length - 2 - len(head))
    with open(path, "wb") as f:
        f.write(head)
        f.truncate(length - 2)
        f.seek(length - 2)
        f.write(struct.pack("<H", r ^ 0xFFFF))
    return path


def sparse_head(entries, data):
    """Header and entry table (entries: (name, time, offset, size, target)) followed by `data`."""
    table = b""
    for name, stamp, offset, size, target in entries:
        table += name.encode("cp932").ljust(32, b"\0") + stamp.encode("ascii").ljust(16, b"\0")
        table += struct.pack("<III", offset, size, target) + bytes(4)
    return b"KJ47" + bytes(12) + b"V1.0" + bytes(4) + struct.pack("<I", len(entries)) + bytes(4) + table + data


# ---------------------------------------------------------------------------------------------
# The disk before and after


def listing(top):
    """{relative path: (kind, size, mtime ns)} below a folder, symlinks not followed."""
    top = Path(top)
    out = {}
    for dirpath, dirnames, filenames in os.walk(top):
        for name in dirnames + filenames:
            p = os.path.join(dirpath, name)
            st = os.lstat(p)
            kind = "dir" if stat.S_ISDIR(st.st_mode) else "link" if stat.S_ISLNK(st.st_mode) else "file"
            out[os.path.relpath(p, top)] = (kind, None if kind == "dir" else st.st_size, st.st_mtime_ns)
    return out


def disk_changes(before, after):
    """Every path added, removed or changed between two listings, with what it is now."""
    changes = {}
    for rel in set(before) | set(after):
        if before.get(rel) != after.get(rel):
            changes[rel] = ("added" if rel not in before else "removed" if rel not in after else "changed",
                            after.get(rel))
    return changes


def _inside(rel, folder):
    return folder is not None and (rel == folder or rel.startswith(folder + os.sep))


def classify(changes, areas):
    """{area: [(relative path inside it, how, entry)]} for the named areas (name: path relative to
    the listed folder); what lies in none of them goes to "elsewhere". A folder that merely holds
    a changed entry (its time changed) is left out."""
    out = {name: [] for name in list(areas) + ["elsewhere"]}
    for rel, (how, now) in sorted(changes.items()):
        if how == "changed" and now and now[0] == "dir":
            continue
        for name, folder in areas.items():
            if _inside(rel, folder):
                out[name].append((os.path.relpath(rel, folder), how, now))
                break
        else:
            out["elsewhere"].append((rel, how, now))
    return out


def describe(classified):
    """The disk column of the table: per area the entries written, or "nothing"."""
    parts = []
    for area, items in classified.items():
        files = [(rel, how, now) for rel, how, now in items if rel != "."]
        if not files:
            continue
        text = ", ".join(f"{rel} ({now[1]:,} B)" if now and now[0] == "file" else f"{rel} ({how})"
                         for rel, how, now in files[:6])
        if len(files) > 6:
            text += f", … {len(files)} entries in all"
        parts.append(f"{area}: {text}")
    return "; ".join(parts) if parts else "nothing written"


# ---------------------------------------------------------------------------------------------
# Outcomes: the rows of docs/RELIABILITY.md


class Recorder:
    """Rows of one scenario file, written to build/native/reliability/<file>.json after each row
    (so that a failed run still leaves what it saw)."""

    def __init__(self, name, title, order):
        self.path = RECORD_DIR / f"{name}.json"
        self.title, self.order = title, order
        # Rows of cases that this run does not repeat (a single scenario run alone) are kept.
        self.rows = {}
        try:
            for row in json.loads(self.path.read_text(encoding="utf-8"))["rows"]:
                self.rows[row["case"]] = row
        except (OSError, ValueError, KeyError):
            pass

    def add(self, case, tried, did, disk, passed=True):
        self.rows[case] = {"case": case, "tried": tried, "did": did, "disk": disk, "passed": passed}
        RECORD_DIR.mkdir(parents=True, exist_ok=True)
        data = {"title": self.title, "order": self.order, "recorded": time.strftime("%Y-%m-%d %H:%M:%S"),
                "rows": list(self.rows.values())}
        tmp = self.path.with_suffix(".tmp")
        tmp.write_text(json.dumps(data, ensure_ascii=False, indent=1), encoding="utf-8")
        os.replace(tmp, self.path)


def outcome_text(message, code, extra=""):
    """What the program did: its message (or none) and the exit code."""
    shown = f"「{message}」" if message else "no message"
    return f"{shown}, exit {code}" + (f"; {extra}" if extra else "")


def _cell(text):
    return str(text).replace("|", "\\|").replace("\n", " ")


def render(output=None):
    files = []
    for path in sorted(RECORD_DIR.glob("*.json")):
        files.append(json.loads(path.read_text(encoding="utf-8")))
    files.sort(key=lambda f: f["order"])
    lines = ["# Reliability: what was tried, what the setup did, what remained on the disk", "",
             "Produced by the scenario files `tests/e2e/test_reliability_*.py` (run through CTest, "
             "`ctest --test-dir build/native -R reliability`), each of which records its cases in "
             "`build/native/reliability/`; rendered by `python3 tests/e2e/reliability.py render "
             "docs/RELIABILITY.md`. Every case runs the real setup program under Wine and walks the wizard to the "
             "install page. Exit codes: 0 finished, 1 the setup could not be done, 2 cancelled, 3 another copy was "
             "running. \"Disk\" lists what the run added or changed on the prefix's drives (drive C: listed whole "
             "before and after, and any other drive used), by area: the destination folder, the system folder, "
             "the two shortcut folders, and everything else (\"elsewhere\").", ""]
    for f in files:
        lines += [f"## {f['title']}", "", f"Recorded {f['recorded']}.", "",
                  "| Case | Tried | What the setup did | Disk afterwards | Test |", "| --- | --- | --- | --- | --- |"]
        for row in f["rows"]:
            lines.append("| " + " | ".join(_cell(row[k]) for k in ("case", "tried", "did", "disk"))
                         + (" | passed |" if row["passed"] else " | **failed** |"))
        lines.append("")
    text = "\n".join(lines)
    out = Path(output) if output else RECORD_DIR / "RELIABILITY.md"
    out.parent.mkdir(parents=True, exist_ok=True)
    out.write_text(text, encoding="utf-8")
    return out


# ---------------------------------------------------------------------------------------------
# Running one installation


class ReliabilityCase(iw.InstallCase):
    """An install scenario whose every case ends in a row of the table."""

    RECORD = None  # (file name, title, order)
    recorder = None

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        if cls.RECORD and cls.recorder is None:
            name, title, order = cls.RECORD
            # One recorder per scenario file, shared by its classes.
            module = sys.modules[cls.__module__]
            if getattr(module, "_recorder", None) is None:
                module._recorder = Recorder(name, title, order)
            cls.recorder = module._recorder

    @classmethod
    def tearDownClass(cls):
        super().tearDownClass()
        if cls.recorder:
            render()

    def areas(self, destination):
        drive_c = self.bench.prefix.drive_c
        rel = lambda p: os.path.relpath(p, drive_c)  # noqa: E731
        # A destination on another drive than C: lies outside this listing.
        on_c = destination[:2].upper() == "C:"
        return {"destination": rel(self.bench.prefix.host_path(destination)) if on_c else None,
                "system folder": rel(self.system_folder),
                "desktop": rel(self.link_folders()[0]), "programs": rel(self.link_folders()[1]),
                "source": rel(self.source)}

    def run_install(self, destination, finish=True, before_next=None, during=None, timeout=120):
        """Walks the wizard to the install page with `destination` and waits for the job's end:
        {"message", "code", "log", "box_owner_ok"}. `before_next` runs on the destination page just
        before Next; `during(p, sheet)` is called repeatedly while the job runs."""
        exe = self.source / bench.SETUP_NAME
        if not exe.exists():
            self.bench.copy_setup(self.source)
        p = self.bench.start(exe, self.source)
        sheet = p.wait_sheet()
        for index in range(iw.INSTALL_PAGE - 1):
            sheet.wait_page(index, timeout=20)
            sheet.click(bench.ID_NEXT)
        sheet.wait_page(iw.INSTALL_PAGE - 1, timeout=20)
        sheet.set_text(iw.IDC_FOLDER, destination)
        if before_next:
            before_next(p, sheet)
        sheet.click(bench.ID_NEXT)
        deadline = time.monotonic() + timeout
        result = {"message": None, "code": None, "log": None}
        while True:
            box = p.try_wait_window("msgbox", 0.05)
            if box is not None:
                result["log"] = self.safe_log(sheet)
                result["message"] = box.message()
                self.assertBox(p, box, result["message"])
                box.click(bench.IDOK)
                try:
                    result["code"] = p.wait_exit(30)
                except bench.BenchError:
                    self.fail(f"the setup did not end after {result['message']!r}: {p.windows(deep=True)}")
                break
            code = p.exit_code()
            if code is not None:
                result["code"] = code
                break
            r = self.bench.driver.call("page", sheet.hwnd, check=False)
            if r.get("ok") and r["index"] == iw.INSTALL_PAGE and sheet.control(bench.ID_FINISH)["enabled"]:
                result["log"] = self.safe_log(sheet)
                if finish:
                    self.finish(p, sheet)
                    result["code"] = iw.EXIT_FINISHED
                break
            if during and r.get("ok") and r["index"] == iw.INSTALL_PAGE:
                during(p, sheet)
            if time.monotonic() > deadline:
                self.fail(f"the installation did not end within {timeout} s")
        return result

    def safe_log(self, sheet):
        try:
            return self.log_lines(sheet)
        except bench.BenchError:
            return None


# ---------------------------------------------------------------------------------------------
# A bench whose Wine runs as an ordinary user (as root, Wine opens read-only files for writing)


USER = "quentaro-bench"


def ensure_user():
    """The ordinary user of these scenarios (made once; needs root). None when it cannot be made."""
    try:
        return pwd.getpwnam(USER)
    except KeyError:
        pass
    if os.geteuid() != 0:
        return None
    subprocess.run(["useradd", "--system", "--no-create-home", "--shell", "/usr/sbin/nologin", USER],
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        return pwd.getpwnam(USER)
    except KeyError:
        return None


def as_user(user):
    return ["setpriv", f"--reuid={user.pw_uid}", f"--regid={user.pw_gid}", "--clear-groups"]


def chown_tree(top, user):
    subprocess.run(["chown", "-R", f"{user.pw_uid}:{user.pw_gid}", str(top)], check=True)


class UserPrefix(bench.Prefix):
    def __init__(self, kind, label, user):
        # The work tree may lie in a folder that only root can enter (a clone in a private temporary
        # folder): the user's prefix and the programs it runs live in a folder of their own in /tmp.
        super().__init__(kind, label, root=tempfile.mkdtemp(prefix=f"quentaro-{label}."))
        self.user = user
        # The prefix names the temporary folder of the wineserver that created it (root's); the
        # user's wineserver makes its own.
        (self.dir / "wineserver").unlink(missing_ok=True)
        self.programs = self.root / "programs"
        self.programs.mkdir()
        shutil.copy2(bench.DRIVER_EXE, self.programs)
        chown_tree(self.root, user)

    def remove(self):
        if not bench.KEEP_RUNS:
            shutil.rmtree(self.root, ignore_errors=True)

    def kill_server(self):
        for arg in ("-k", "-w"):
            subprocess.run(as_user(self.user) + bench.WINESERVER + [arg], env=self.env(), stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL, timeout=60)

    def reset(self):
        super().reset()  # restores files as root
        chown_tree(self.drive_c, self.user)


class UserDriver(bench.Driver):
    def __init__(self, prefix, display, log_path):
        bench.require_artifacts(bench.DRIVER_EXE)
        self._log = open(log_path, "ab")
        driver = prefix.programs / bench.DRIVER_EXE.name
        self.proc = subprocess.Popen(as_user(prefix.user) + bench.WINE + [str(driver)], env=prefix.env(display),
                                     stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=self._log)
        self._buf = b""
        self.call("hello", timeout=120)


class UserBench(bench.Bench):
    def __init__(self, kind, label, user):
        started = time.monotonic()
        self.display_server = bench.Display()
        self.display = self.display_server.name
        self.prefix = UserPrefix(kind, label, user)
        self.driver = UserDriver(self.prefix, self.display, self.prefix.root / "wine.log")
        self.processes = []
        self.info = self.driver.call("sysinfo")
        bench.log(f"user bench {label} on {kind} ready in {time.monotonic() - started:.1f} s as {user.pw_name}")

    def work_folder(self, name):
        folder = super().work_folder(name)
        chown_tree(self.prefix.drive_c / "bench", self.prefix.user)
        return folder


if __name__ == "__main__":
    if len(sys.argv) >= 2 and sys.argv[1] == "render":
        print(render(sys.argv[2] if len(sys.argv) > 2 else None))
    else:
        print(__doc__)
        sys.exit(2)
