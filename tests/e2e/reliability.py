"""Shared parts of the reliability scenarios (test_reliability_*.py): the disk listed before and
after a run, a bench whose Wine runs as an ordinary user, and the table of outcomes that the
scenarios record and docs/RELIABILITY.md is rendered from (the packages they patch and seal again:
packages.py).

Not a scenario file itself: it holds no tests. Run as a program it renders the table:

    python3 tests/e2e/reliability.py render [OUTPUT]     # default build/native/reliability/RELIABILITY.md
"""

import json
import os
import pwd
import shutil
import stat
import subprocess
import sys
import tempfile
import time
from pathlib import Path

import install_wizard as iw
import scenario
import ui
import wine

RECORD_DIR = wine.NATIVE_DIR / "reliability"

# The engine's own messages (core/messages.h).
MSG_READ_FAILED = "ﾃﾞｰﾀﾌｧｲﾙの読み込みに失敗しました。ｾｯﾄｱｯﾌﾟを終了します。"
MSG_WRITE_FAILED = "ﾌｧｲﾙの書き込みに失敗しました。ｾｯﾄｱｯﾌﾟを終了します。"
MSG_DISK_FULL = "ﾃﾞｨｽｸの空き容量が不足しています。ｾｯﾄｱｯﾌﾟを終了します。"
MSG_DRIVER_INSTALLER = "ﾄﾞﾗｲﾊﾞｰのｲﾝｽﾄｰﾙﾌﾟﾛｸﾞﾗﾑを起動出来ません。ｾｯﾄｱｯﾌﾟを終了します。"

GIB = 1 << 30

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
        exe = self.source / wine.SETUP_NAME
        if not exe.exists():
            self.bench.copy_setup(self.source)
        p = self.bench.start(exe, self.source)
        sheet = p.wait_sheet()
        for index in range(iw.INSTALL_PAGE - 1):
            sheet.wait_page(index, timeout=20)
            sheet.click(ui.ID_NEXT)
        sheet.wait_page(iw.INSTALL_PAGE - 1, timeout=20)
        sheet.set_text(iw.IDC_FOLDER, destination)
        if before_next:
            before_next(p, sheet)
        sheet.click(ui.ID_NEXT)
        deadline = time.monotonic() + timeout
        result = {"message": None, "code": None, "log": None}
        while True:
            box = p.try_wait_window("msgbox", 0.05)
            if box is not None:
                result["log"] = self.safe_log(sheet)
                result["message"] = box.message()
                self.assertBox(p, box, result["message"])
                box.click(ui.IDOK)
                try:
                    result["code"] = p.wait_exit(30)
                except wine.BenchError:
                    self.fail(f"the setup did not end after {result['message']!r}: {p.windows(deep=True)}")
                break
            code = p.exit_code()
            if code is not None:
                result["code"] = code
                break
            r = self.bench.driver.call("page", sheet.hwnd, check=False)
            if r.get("ok") and r["index"] == iw.INSTALL_PAGE and sheet.control(ui.ID_FINISH)["enabled"]:
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
        except wine.BenchError:
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


class UserPrefix(wine.Prefix):
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
        shutil.copy2(wine.DRIVER_EXE, self.programs)
        chown_tree(self.root, user)

    def remove(self):
        if not wine.KEEP_RUNS:
            shutil.rmtree(self.root, ignore_errors=True)

    def kill_server(self):
        for arg in ("-k", "-w"):
            subprocess.run(as_user(self.user) + wine.WINESERVER + [arg], env=self.env(), stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL, timeout=60)

    def reset(self):
        super().reset()  # restores files as root
        chown_tree(self.drive_c, self.user)


class UserDriver(ui.Driver):
    def __init__(self, prefix, display, log_path):
        wine.require_artifacts(wine.DRIVER_EXE)
        self._log = open(log_path, "ab")
        driver = prefix.programs / wine.DRIVER_EXE.name
        self.proc = subprocess.Popen(as_user(prefix.user) + wine.WINE + [str(driver)], env=prefix.env(display),
                                     stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=self._log)
        self._buf = b""
        self.call("hello", timeout=120)


class UserBench(scenario.Bench):
    def __init__(self, kind, label, user):
        started = time.monotonic()
        self.display_server = wine.Display()
        self.display = self.display_server.name
        self.prefix = UserPrefix(kind, label, user)
        self.driver = UserDriver(self.prefix, self.display, self.prefix.root / "wine.log")
        self.processes = []
        self.info = self.driver.call("sysinfo")
        wine.log(f"user bench {label} on {kind} ready in {time.monotonic() - started:.1f} s as {user.pw_name}")

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
