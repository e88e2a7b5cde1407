"""This machine's Wine and the programs the scenarios run: which build (see machine.py), where its
programs are, the cached Wine prefixes per class of Windows and their private copies, and the
private X display. The base of the bench: the UI driver's client (ui.py), the packages
(packages.py) and the scenario helpers (scenario.py) build on it.

Python 3 standard library only. See README.md in this folder.
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


class BenchError(AssertionError):
    """A bench operation failed; an AssertionError so that unittest reports a failure."""


def log(msg):
    print(f"[bench {time.strftime('%H:%M:%S')}] {msg}", file=sys.stderr, flush=True)


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
