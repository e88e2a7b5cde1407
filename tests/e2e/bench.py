"""The Wine test bench: prefixes, display, UI driver and scenario helpers.

Python 3 standard library only. See README.md in this folder for the layout, the driver protocol
and how to write a scenario.
"""

import contextlib
import errno
import fcntl
import json
import os
import select
import shutil
import signal
import stat
import struct
import subprocess
import sys
import tempfile
import time
import unittest
from pathlib import Path

import machine

REPO = Path(__file__).resolve().parents[2]


def _path_from_env(name, default):
    value = os.environ.get(name)
    return Path(value) if value else Path(default)


NATIVE_DIR = _path_from_env("QUENTARO_NATIVE_DIR", REPO / "build" / "native")
WINE_DIR = _path_from_env("QUENTARO_WINE_DIR", NATIVE_DIR / "wine")
PACK_TOOL = _path_from_env("QUENTARO_PACK", NATIVE_DIR / "tools" / "quentaro-pack")
SCREENSHOT_DIR = _path_from_env("QUENTARO_SCREENSHOT_DIR", NATIVE_DIR / "screenshots")
RECORD_DIR = _path_from_env("QUENTARO_E2E_RECORDS", NATIVE_DIR / "e2e-records")

# The product's cross build, and the 64-bit test build of the same sources (never shipped).
WIN32_DIR = _path_from_env("QUENTARO_WIN32_DIR", REPO / "build" / "win32")
WIN64_DIR = _path_from_env("QUENTARO_WIN64_DIR", REPO / "build" / "win64-test")
PRODUCT_EXE = WIN32_DIR / "app" / "QUENTARO Setup.EXE"
TEST_BUILD_EXE = WIN64_DIR / "app" / "QUENTARO-Setup-x64-TESTBUILD.exe"
# The name under which the scenarios run the setup, whichever build it comes from.
SETUP_NAME = "QUENTARO Setup.EXE"

# What this machine runs (found out once, see machine.py): the scenarios run against the product
# where 32-bit code runs, else against the 64-bit test build.
PLAN = machine.plan(WINE_DIR)
WIN_DIR = WIN64_DIR if PLAN.bits == 64 else WIN32_DIR
SETUP_EXE = TEST_BUILD_EXE if PLAN.bits == 64 else PRODUCT_EXE
DRIVER_EXE = WIN_DIR / "tests" / "driver" / "quentaro-driver.exe"
HELPERS_DIR = WIN_DIR / "tests" / "e2e"
# Wine's programs: the wrappers where the 32-bit loader runs (they pick the loader a program
# needs), the 64-bit loader and server themselves on the 64-bit path (the wrappers would try the
# 32-bit ones first).
WINE = [machine.WINE64_LOADER] if PLAN.bits == 64 else ["wine"]
WINESERVER = [machine.WINESERVER64] if PLAN.bits == 64 else ["wineserver"]
# Classes of Windows whose prefixes this process used (for the run's summary).
USED_KINDS = set()
KEEP_RUNS = os.environ.get("QUENTARO_BENCH_KEEP") == "1"

# Bump when the way a prefix is prepared changes: cached prefixes of another recipe are rebuilt.
PREFIX_RECIPE = 4

# Classes of Windows, one cached prefix each. "version" is the HKCU\Software\Wine Version value;
# None deletes it, which gives Windows 7 SP1 as a workstation (set with reg add, "win7" reports
# a server).
PREFIX_KINDS = {
    "win64": {"arch": "win64", "version": None},
    "win2k": {"arch": "win32", "version": "win2k"},
    "winxp": {"arch": "win32", "version": "winxp"},
    "vista": {"arch": "win32", "version": "vista"},
    "win7": {"arch": "win32", "version": None},
}
# On the 64-bit path every prefix is a 64-bit one with the class's reported version; the 64-bit
# setup is no WOW64 process, so "win64" there is Windows 7 again (platform kind 5, not 4).
PREFIX_KINDS_64 = {kind: dict(recipe, arch="win64") for kind, recipe in PREFIX_KINDS.items() if kind != "win64"}


def prefix_recipe(kind):
    """(name of the cached prefix, its recipe) for a class of Windows on this machine's path."""
    if PLAN.bits == 64:
        base = "win7" if kind == "win64" else kind
        if base not in PREFIX_KINDS_64:
            raise BenchError(f"unknown prefix kind {kind}")
        return f"{base}-x64", PREFIX_KINDS_64[base]
    if kind not in PREFIX_KINDS:
        raise BenchError(f"unknown prefix kind {kind}")
    return kind, PREFIX_KINDS[kind]


def require_wine(needs_wow64=False):
    """Skips the calling test (or class) where the scenarios cannot run: no Wine runs here, or the
    scenario needs the 32-bit setup on 64-bit Windows (platform kind 4) and this machine runs the
    64-bit test build."""
    if PLAN.bits is None:
        raise unittest.SkipTest(PLAN.why_none)
    if needs_wow64 and PLAN.bits == 64:
        raise unittest.SkipTest(PLAN.kind4_skip_reason)


def needs_wow64(test):
    """A test that only the 32-bit setup on 64-bit Windows (platform kind 4) can run."""
    return unittest.skipIf(PLAN.bits == 64, PLAN.kind4_skip_reason)(test)

DESKTOP_SIZE = (1024, 768)
TIME_ZONE = "Asia/Tokyo"

# Japanese faces that the program and its templates name, mapped to the installed IPA fonts.
FONT_REPLACEMENTS = {
    "ＭＳ Ｐゴシック": "IPAPGothic",
    "ＭＳ ゴシック": "IPAGothic",
    "MS PGothic": "IPAPGothic",
    "MS Gothic": "IPAGothic",
    "MS UI Gothic": "IPAPGothic",
    "ＭＳ Ｐ明朝": "IPAPGothic",
    "ＭＳ 明朝": "IPAGothic",
}

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


class BenchError(AssertionError):
    """A bench operation failed; an AssertionError so that unittest reports a failure."""


def log(msg):
    print(f"[bench {time.strftime('%H:%M:%S')}] {msg}", file=sys.stderr, flush=True)


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
    if PLAN.bits == 64:
        return struct.pack("<QQI4xIQqii", hwnd_from, id_from, code, msg, wparam, lparam, cp_min, cp_max)
    return struct.pack("<IIIIIiii", hwnd_from, id_from, code, msg, wparam, lparam, cp_min, cp_max)


# ---------------------------------------------------------------------------------------------
# Artifacts


def require_artifacts(*paths):
    """Fails (does not skip) when a program that the scenarios need has not been built."""
    missing = [str(p) for p in (paths or (SETUP_EXE, DRIVER_EXE)) if not Path(p).is_file()]
    if missing:
        raise BenchError("missing build artifacts (build the cross build first): " + ", ".join(missing))


def helper_exe(name):
    path = HELPERS_DIR / name
    require_artifacts(path)
    return path


# ---------------------------------------------------------------------------------------------
# Locks, locale, environment


@contextlib.contextmanager
def file_lock(path, shared=False):
    path.parent.mkdir(parents=True, exist_ok=True)
    with open(path, "a") as f:
        fcntl.flock(f, fcntl.LOCK_SH if shared else fcntl.LOCK_EX)
        try:
            yield
        finally:
            fcntl.flock(f, fcntl.LOCK_UN)


def ensure_locale():
    """Builds the private ja_JP.UTF-8 locale once (glibc has none installed here)."""
    root = WINE_DIR / "locale"
    target = root / "ja_JP.UTF-8"
    if (target / "LC_CTYPE").is_file():
        return root
    with file_lock(WINE_DIR / "locks" / "locale.lock"):
        if not (target / "LC_CTYPE").is_file():
            tmp = Path(tempfile.mkdtemp(prefix="locale.", dir=WINE_DIR))
            r = subprocess.run(["localedef", "-i", "ja_JP", "-f", "UTF-8", str(tmp / "ja_JP.UTF-8")],
                               capture_output=True, text=True)
            if not (tmp / "ja_JP.UTF-8" / "LC_CTYPE").is_file():
                raise BenchError(f"localedef failed ({r.returncode}): {r.stderr}")
            root.mkdir(parents=True, exist_ok=True)
            os.replace(tmp / "ja_JP.UTF-8", target)
            shutil.rmtree(tmp, ignore_errors=True)
    return root


def wine_env(prefix_dir, home_dir, display=None, arch=None):
    """The environment of every Wine process of the bench."""
    env = {k: v for k, v in os.environ.items()
           if not (k.startswith("LC_") or k.startswith("WINE") or k in ("LANG", "LANGUAGE", "DISPLAY"))}
    env.update({
        "WINEPREFIX": str(prefix_dir),
        "WINEDEBUG": "-all",
        # No Mono or Gecko prompts, and no winemenubuilder (it would turn every shortcut the
        # setup creates into host menu entries). By default Wine replaces an "RICHED20.dll" found
        # in a program's folder by its builtin one; "n,b" makes it load the file it finds, as
        # Windows does, so that a planted DLL would really be loaded (the system folder's file is
        # still Wine's builtin). Wine reads this variable from the Unix environment only.
        "WINEDLLOVERRIDES": "mscoree,mshtml=;winemenubuilder.exe=d;riched20=n,b",
        "HOME": str(home_dir),
        "LOCPATH": str(ensure_locale()),
        "LANG": "ja_JP.UTF-8",
        "TZ": TIME_ZONE,
    })
    if PLAN.bits == 64:
        env["WINELOADER"] = machine.WINE64_LOADER
        env["WINESERVER"] = machine.WINESERVER64
    if arch:
        env["WINEARCH"] = arch
    if display:
        env["DISPLAY"] = display
    return env


def win_path_of(host_path):
    """The Windows path under which Wine sees a host path outside any prefix (drive Z:)."""
    return "Z:" + str(Path(host_path).resolve()).replace("/", "\\")


# ---------------------------------------------------------------------------------------------
# Prefixes


def _reg_file(recipe):
    lines = ["Windows Registry Editor Version 5.00", ""]
    version = recipe["version"]
    lines += ["[HKEY_CURRENT_USER\\Software\\Wine]",
              f'"Version"="{version}"' if version else '"Version"=-', ""]
    lines += ["[HKEY_CURRENT_USER\\Software\\Wine\\Explorer]", '"Desktop"="Default"', ""]
    lines += ["[HKEY_CURRENT_USER\\Software\\Wine\\Explorer\\Desktops]",
              f'"Default"="{DESKTOP_SIZE[0]}x{DESKTOP_SIZE[1]}"', ""]
    lines += ["[HKEY_CURRENT_USER\\Software\\Wine\\WineDbg]", '"ShowCrashDialog"=dword:00000000', ""]
    lines += ["[HKEY_CURRENT_USER\\Software\\Wine\\Fonts\\Replacements]"]
    lines += [f'"{face}"="{repl}"' for face, repl in FONT_REPLACEMENTS.items()]
    return "\r\n".join(lines) + "\r\n"


def _run_checked(args, env, timeout, what):
    r = subprocess.run(args, env=env, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                       timeout=timeout, text=True, errors="replace")
    if r.returncode != 0:
        raise BenchError(f"{what} failed ({r.returncode}): {r.stdout[-2000:]}")
    return r


def _make_user_folders_real(prefix_dir):
    """Per-user folders (Desktop, Documents, Templates...) are links to $HOME: make them real
    folders inside the prefix, so that nothing a program writes there leaves the prefix."""
    for dirpath, dirnames, _ in os.walk(prefix_dir / "drive_c" / "users"):
        for name in dirnames:
            entry = Path(dirpath) / name
            if entry.is_symlink():
                entry.unlink()
                entry.mkdir()


def ensure_prefix(kind):
    """Returns the cached pristine prefix of a class of Windows, creating it once.

    Safe when several test processes ask at once: creation happens under an exclusive file lock
    in a temporary folder that is renamed into place when complete.
    """
    name, recipe = prefix_recipe(kind)
    if PLAN.bits is None:
        raise BenchError(f"no prefix can be made here: {PLAN.why_none}")
    root = WINE_DIR / "pristine" / name
    stamp = root / "stamp.json"

    def current():
        try:
            return json.loads(stamp.read_text()).get("recipe") == PREFIX_RECIPE
        except (OSError, ValueError):
            return False

    if current():
        return root
    with file_lock(WINE_DIR / "locks" / f"{name}.lock"):
        if current():
            return root
        started = time.monotonic()
        log(f"creating Wine prefix {name} in {root}")
        (WINE_DIR / "pristine").mkdir(parents=True, exist_ok=True)
        tmp = Path(tempfile.mkdtemp(prefix=f"{name}.tmp.", dir=WINE_DIR / "pristine"))
        try:
            prefix, home = tmp / "prefix", tmp / "home"
            home.mkdir()
            env = wine_env(prefix, home, arch=recipe["arch"])
            _run_checked(WINE + ["wineboot", "-i"], env, 600, "wineboot")
            _run_checked(WINESERVER + ["-w"], env, 120, "wineserver -w")
            reg = tmp / "bench.reg"
            reg.write_bytes(b"\xff\xfe" + _reg_file(recipe).encode("utf-16-le"))
            _run_checked(WINE + ["regedit", "/S", win_path_of(reg)], env, 120, "regedit")
            _run_checked(WINESERVER + ["-w"], env, 120, "wineserver -w")
            _make_user_folders_real(prefix)
            seconds = round(time.monotonic() - started, 1)
            (tmp / "stamp.json").write_text(json.dumps({"recipe": PREFIX_RECIPE, "kind": name,
                                                        "seconds": seconds}))
            if root.exists():
                shutil.rmtree(root)
            os.replace(tmp, root)
            log(f"prefix {name} created in {seconds} s")
        finally:
            if tmp.exists():
                shutil.rmtree(tmp, ignore_errors=True)
    return root


def _snapshot(top):
    """(kind, size, mtime, ctime, mode) of every entry below a folder, symlinks not followed."""
    result = {}
    for dirpath, dirnames, filenames in os.walk(top):
        for name in dirnames + filenames:
            p = os.path.join(dirpath, name)
            st = os.lstat(p)
            result[os.path.relpath(p, top)] = (stat.S_IFMT(st.st_mode), st.st_size, st.st_mtime_ns,
                                               st.st_ctime_ns, st.st_mode)
    return result


def _pid_alive(pid):
    try:
        os.kill(pid, 0)
    except OSError as e:
        return e.errno == errno.EPERM
    return True


class Prefix:
    """A private copy of a pristine prefix for one scenario file, with its own wineserver."""

    def __init__(self, kind, label, root=None):
        """A copy in WINE_DIR/runs (removed by a later run once this process is gone), or in
        `root` when given (kept)."""
        self.kind = kind
        self.name = prefix_recipe(kind)[0]
        pristine = ensure_prefix(kind)
        USED_KINDS.add(self.name)
        self.pristine = pristine / "prefix"
        runs = WINE_DIR / "runs"
        runs.mkdir(parents=True, exist_ok=True)
        self._remove_stale_runs(runs)
        self.keep = root is not None
        self.root = Path(root) if root else runs / f"{label}.{kind}.{os.getpid()}"
        if self.root.exists():
            if (self.root / "prefix").is_dir():  # an earlier run's wineserver may still be there
                subprocess.run(WINESERVER + ["-k"], env=wine_env(self.root / "prefix", self.root / "home"),
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=60)
            shutil.rmtree(self.root)
        self.root.mkdir()
        started = time.monotonic()
        with file_lock(WINE_DIR / "locks" / f"{kind}.lock", shared=True):
            subprocess.run(["cp", "-a", str(self.pristine), str(self.root / "prefix")], check=True)
        self.copy_seconds = time.monotonic() - started
        self.dir = self.root / "prefix"
        self.home = self.root / "home"
        self.home.mkdir()
        self.drive_c = self.dir / "drive_c"
        self._baseline = _snapshot(self.drive_c)

    @staticmethod
    def _remove_stale_runs(runs):
        for entry in runs.iterdir():
            try:
                pid = int(entry.name.rsplit(".", 1)[1])
            except (IndexError, ValueError):
                continue
            if not _pid_alive(pid):
                shutil.rmtree(entry, ignore_errors=True)

    def env(self, display=None):
        return wine_env(self.dir, self.home, display)

    def host_path(self, win_path):
        """Host path of a Windows path (drive letters C: and Z:)."""
        p = win_path.replace("/", "\\")
        drive, rest = p[:2].upper(), p[2:].lstrip("\\")
        parts = [x for x in rest.split("\\") if x]
        if drive == "C:":
            return self.drive_c.joinpath(*parts)
        if drive == "Z:":
            return Path("/").joinpath(*parts)
        raise BenchError(f"no host path for {win_path}")

    def win_path(self, host_path):
        """Windows path of a host path (inside the prefix's drive C:, else Z:)."""
        host = Path(host_path).absolute()
        try:
            rel = host.relative_to(self.drive_c)
        except ValueError:
            return win_path_of(host)
        return "C:\\" + "\\".join(rel.parts)

    def reset(self):
        """Brings drive C: back to the state of the fresh copy: removes what was added, restores
        what was changed or removed (from the pristine prefix)."""
        now = _snapshot(self.drive_c)
        base = self._baseline
        for rel in sorted(set(now) - set(base), key=lambda r: -r.count(os.sep)):
            p = self.drive_c / rel
            if stat.S_ISDIR(now[rel][0]) and not os.path.islink(p):
                shutil.rmtree(p, ignore_errors=True)
            elif os.path.lexists(p):
                p.unlink()
        for rel in sorted(base, key=lambda r: r.count(os.sep)):
            p, src = self.drive_c / rel, self.pristine / "drive_c" / rel
            cur = now.get(rel)
            if cur == base[rel]:
                continue
            kind = base[rel][0]
            if stat.S_ISDIR(kind):
                p.mkdir(exist_ok=True)
                shutil.copystat(src, p, follow_symlinks=False)
            elif stat.S_ISLNK(kind):
                if os.path.lexists(p):
                    p.unlink()
                os.symlink(os.readlink(src), p)
            else:
                if os.path.lexists(p) and (os.path.isdir(p) and not os.path.islink(p)):
                    shutil.rmtree(p)
                elif os.path.lexists(p):
                    p.chmod(0o644)
                    p.unlink()
                shutil.copy2(src, p, follow_symlinks=False)
        self._baseline = _snapshot(self.drive_c)

    def kill_server(self):
        subprocess.run(WINESERVER + ["-k"], env=self.env(), stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=60)
        subprocess.run(WINESERVER + ["-w"], env=self.env(), stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=60)

    def remove(self):
        if not (KEEP_RUNS or self.keep):
            shutil.rmtree(self.root, ignore_errors=True)


# ---------------------------------------------------------------------------------------------
# Display


def _end_with_parent():
    """In a child process: ask the kernel to end it when the bench process dies (for instance
    when CTest kills a test at its timeout), so that no Xvfb outlives its test."""
    try:
        import ctypes
        PR_SET_PDEATHSIG = 1
        ctypes.CDLL(None, use_errno=True).prctl(PR_SET_PDEATHSIG, signal.SIGTERM)
    except (OSError, AttributeError):
        pass


class Display:
    """A private Xvfb server (a free display number chosen by the server itself)."""

    def __init__(self):
        r, w = os.pipe()
        self.proc = subprocess.Popen(
            ["Xvfb", "-displayfd", str(w), "-screen", "0", f"{DESKTOP_SIZE[0]}x{DESKTOP_SIZE[1]}x24",
             "-nolisten", "tcp", "-noreset"],
            pass_fds=(w,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, preexec_fn=_end_with_parent)
        os.close(w)
        number = b""
        deadline = time.monotonic() + 30
        while not number.endswith(b"\n"):
            ready, _, _ = select.select([r], [], [], max(0.0, deadline - time.monotonic()))
            if not ready:
                self.proc.kill()
                raise BenchError("Xvfb did not start")
            chunk = os.read(r, 64)
            if not chunk:
                raise BenchError("Xvfb exited at start")
            number += chunk
        os.close(r)
        self.name = ":" + number.decode().strip()

    def close(self):
        if self.proc.poll() is None:
            self.proc.terminate()
            try:
                self.proc.wait(10)
            except subprocess.TimeoutExpired:
                self.proc.kill()


def screenshot(display, path):
    """Saves the whole screen (the Wine virtual desktop) as PNG."""
    path = Path(path)
    path.parent.mkdir(parents=True, exist_ok=True)
    env = dict(os.environ, DISPLAY=display)
    subprocess.run(["import", "-window", "root", str(path)], env=env, check=True, timeout=60,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return path


# ---------------------------------------------------------------------------------------------
# UI driver


def _escape_field(value):
    s = str(value)
    return s.replace("\\", "\\\\").replace("\t", "\\t").replace("\n", "\\n").replace("\r", "\\r")


class DriverError(BenchError):
    pass


class Driver:
    """The long-lived UI driver inside the prefix; one command per line, one JSON reply per line."""

    def __init__(self, prefix, display, log_path):
        require_artifacts(DRIVER_EXE)
        self._log = open(log_path, "ab")
        self.proc = subprocess.Popen(WINE + [str(DRIVER_EXE)], env=prefix.env(display),
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


# ---------------------------------------------------------------------------------------------
# Bench: one display, one prefix copy and one driver, for one scenario file


class Bench:
    def __init__(self, kind="win64", label="bench", display=None, root=None):
        started = time.monotonic()
        self.display_server = None
        if display is None:
            self.display_server = Display()
            display = self.display_server.name
        self.display = display
        self.prefix = Prefix(kind, label, root)
        self.driver = Driver(self.prefix, display, self.prefix.root / "wine.log")
        self.processes = []
        self.info = self.driver.call("sysinfo")
        log(f"bench {label} on {kind} ready in {time.monotonic() - started:.1f} s "
            f"(prefix copy {self.prefix.copy_seconds:.1f} s, display {display})")

    def close(self):
        try:
            self.end_processes()
            self.driver.close()
            self.prefix.kill_server()
        finally:
            if self.display_server:
                self.display_server.close()
            self.prefix.remove()

    def end_processes(self):
        """Kills whatever the last scenario left running."""
        for p in self.processes:
            try:
                if p.exit_code() is None:
                    p.kill()
            except BenchError:
                pass
        self.processes = []

    def reset(self):
        self.end_processes()
        self.prefix.reset()

    def start(self, exe, cwd, args="", env=None):
        """Starts a program (host paths) with the given current folder and extra environment
        variables; returns its Process."""
        assignments = "\n".join(f"{k}={v}" for k, v in (env or {}).items())
        r = self.driver.call("start", self.prefix.win_path(exe), self.prefix.win_path(cwd), args, assignments)
        p = Process(self.driver, r["pid"])
        self.processes.append(p)
        return p

    def work_folder(self, name):
        """A fresh folder inside the prefix's drive C: (removed again by the next reset)."""
        folder = self.prefix.drive_c / "bench" / name
        if folder.exists():
            shutil.rmtree(folder)
        folder.mkdir(parents=True)
        return folder

    def copy_setup(self, folder, exe=None):
        """Puts the setup program into a folder, under its own name; returns the copy's path.
        The build's program is taken once per bench, so that a rebuild during a run cannot hand
        different (or half-written) programs to the tests of one file."""
        if exe is None:
            if getattr(self, "_setup_snapshot", None) is None:
                require_artifacts(SETUP_EXE)
                snapshot_dir = self.prefix.root / "program"
                snapshot_dir.mkdir(exist_ok=True)
                self._setup_snapshot = snapshot_dir / SETUP_NAME
                shutil.copy2(SETUP_EXE, self._setup_snapshot)
            exe = self._setup_snapshot
        src = Path(exe)
        require_artifacts(src)
        # The setup always runs under the product's name (the 64-bit test build too).
        dst = Path(folder) / (SETUP_NAME if src.name == SETUP_EXE.name else src.name)
        shutil.copy2(src, dst)
        return dst

    def title_bar_shows_icon(self, window, exe, icon_id):
        """Whether the window's title bar shows the icon resource `icon_id` of a program: its
        small image, or its large image drawn small, found pixel for pixel (opaque pixels only)
        near the left end of the title bar, read from the screen."""
        r = window.refresh()["rect"]
        strip = self.driver.call("screen-pixels", r["left"], r["top"], min(r["left"] + 64, r["right"]),
                                 min(r["top"] + 40, r["bottom"]))
        screen = Pixels(strip["width"], strip["height"], strip["rgb"])
        for load, size in ((16, 16), (32, 16)):
            icon = self.driver.call("icon-resource", self.prefix.win_path(exe), icon_id, load, size)["icon"]
            black, white = Pixels(size, size, icon["on_black"]), Pixels(size, size, icon["on_white"])
            opaque = [(x, y, black.at(x, y)) for y in range(size) for x in range(size)
                      if black.at(x, y) == white.at(x, y)]
            if len(opaque) < size * size // 4:
                continue
            for oy in range(screen.height - size + 1):
                for ox in range(screen.width - size + 1):
                    if all(screen.at(ox + x, oy + y) == c for x, y, c in opaque):
                        return True
        return False

    def registry(self, keys=(("HKCU", "Software"), ("HKLM", "Software"))):
        """Every key and value below the given registry keys, as a set of strings (see the
        driver's reg-dump), leaving out Wine's own volatile keys under HKCU\Software\Wine."""
        entries = set()
        for root, key in keys:
            entries |= {e for e in self.driver.call("reg-dump", root, key, timeout=120)["entries"]
                        if not e.startswith("HKCU\\Software\\Wine\\")}
        return entries

    def screenshot(self, name, folder=None):
        return screenshot(self.display, Path(folder or SCREENSHOT_DIR) / f"{name}.png")

    def lock(self, host_path):
        self.driver.call("lock", self.prefix.win_path(host_path))

    def unlock(self, host_path):
        self.driver.call("unlock", self.prefix.win_path(host_path))


class BenchCase(unittest.TestCase):
    """Base class of a scenario file: one bench for the class, drive C: reset before each test."""

    PREFIX = "win64"
    # True for a scenario that only the 32-bit setup on 64-bit Windows can run (platform kind 4:
    # WOW64, the redirected system folder); skipped on the 64-bit path.
    NEEDS_WOW64 = False
    REQUIRES = (SETUP_EXE, DRIVER_EXE)
    bench = None

    @classmethod
    def setUpClass(cls):
        require_wine(cls.NEEDS_WOW64)
        require_artifacts(*cls.REQUIRES)
        cls.bench = Bench(cls.PREFIX, label=f"{cls.__module__}.{cls.__name__}")
        cls._class_started = time.monotonic()

    @classmethod
    def tearDownClass(cls):
        if cls.bench:
            log(f"{cls.__module__}.{cls.__name__}: {time.monotonic() - cls._class_started:.1f} s of scenarios")
            cls.bench.close()
            cls.bench = None

    def setUp(self):
        self._started = time.monotonic()
        self.bench.reset()
        self.addCleanup(self._report_time)
        self.addCleanup(self.bench.end_processes)
        self.prepare()

    def prepare(self):
        """What a test needs on the freshly reset drive C: (work folders); nothing by default."""

    def fresh(self):
        """A clean state for the next case of a table: no setup running, drive C: reset."""
        self.bench.reset()
        self.prepare()

    def _report_time(self):
        log(f"{self.id()}: {time.monotonic() - self._started:.1f} s")

    def shot(self, suffix):
        """Screenshot named after the running test."""
        return self.bench.screenshot(f"{self.id()}.{suffix}")

    # Common checks

    def assertNeverVisibleExcept(self, process, allowed_hwnds, listing=None):
        """No window of the process is visible except the given top-level ones and their children
        (in `listing`, a `windows(deep=True)` answer, or a new one)."""
        for top in listing if listing is not None else process.windows(deep=True):
            if top["hwnd"] in allowed_hwnds:
                continue
            self.assertFalse(top["visible"], f"top-level window visible: {top}")
            for child in top.get("descendants", []):
                self.assertFalse(child["visible"], f"child window visible: {child} of {top['hwnd']}")


# ---------------------------------------------------------------------------------------------
# Packages


def make_package(path, entries, codepage=932, tool=None):
    """Builds a package with the package tool.

    entries: dicts with "name" (text), "time" (14 digits), "target" (0-5) and either "data"
    (bytes) or "source" (a host path).
    """
    tool = Path(tool or PACK_TOOL)
    require_artifacts(tool)
    path = Path(path)
    work = Path(tempfile.mkdtemp(prefix="pack.", dir=path.parent))
    try:
        lines = []
        for i, e in enumerate(entries):
            src = e.get("source")
            if src is None:
                src = work / f"data{i}"
                Path(src).write_bytes(e.get("data", b""))
            lines.append((e["name"], e.get("time", "20240102030405"), e.get("target", 0), str(src)))
        manifest = work / "manifest.txt"
        manifest.write_text(format_manifest(lines), encoding="utf-8")
        r = subprocess.run([str(tool), "build", "--codepage", str(codepage), "--manifest", str(manifest),
                            "--output", str(path)], capture_output=True, text=True)
        if r.returncode != 0:
            raise BenchError(f"package tool failed ({r.returncode}): {r.stderr}")
    finally:
        shutil.rmtree(work, ignore_errors=True)
    return path


def format_manifest(lines):
    """Manifest text for the package tool (tools/README.md): one entry per line, TAB-separated
    key=value fields."""
    return "".join(f"name={name}\ttime={stamp}\ttarget={target}\tsource={src}\n"
                   for name, stamp, target, src in lines)


def crc16_x25(data, crc=0xFFFF):
    for b in data:
        crc ^= b
        for _ in range(8):
            crc = (crc >> 1) ^ 0x8408 if crc & 1 else crc >> 1
    return crc


# ---------------------------------------------------------------------------------------------
# Folder listings


def tree(top):
    """{relative path: (size or None for a folder, mtime in ns)} of everything below a folder,
    for before/after comparisons."""
    top = Path(top)
    out = {}
    if not top.exists():
        return out
    for dirpath, dirnames, filenames in os.walk(top):
        for name in dirnames + filenames:
            p = Path(dirpath) / name
            st = p.lstat()
            rel = str(p.relative_to(top))
            out[rel] = (None if stat.S_ISDIR(st.st_mode) else st.st_size, st.st_mtime_ns)
    return out


def tree_diff(before, after):
    """(added, removed, changed) relative paths between two listings."""
    added = sorted(set(after) - set(before))
    removed = sorted(set(before) - set(after))
    changed = sorted(k for k in set(before) & set(after) if before[k] != after[k])
    return added, removed, changed


signal.signal(signal.SIGTERM, lambda *_: sys.exit(143))  # run cleanups when CTest times out
