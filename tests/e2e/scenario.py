"""Scenario helpers: a bench (one display, one prefix copy and one UI driver) for a scenario file,
the base class of the scenario files, and folder listings for before/after comparisons.

Importing it makes SIGTERM (CTest's timeout) end the process through its cleanups.
"""

import os
import shutil
import signal
import stat
import sys
import time
import unittest
from pathlib import Path

import wine
from ui import Driver, Pixels, Process
from wine import Display, Prefix

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
        wine.log(f"bench {label} on {kind} ready in {time.monotonic() - started:.1f} s "
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
            except wine.BenchError:
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
                wine.require_artifacts(wine.SETUP_EXE)
                snapshot_dir = self.prefix.root / "program"
                snapshot_dir.mkdir(exist_ok=True)
                self._setup_snapshot = snapshot_dir / wine.SETUP_NAME
                shutil.copy2(wine.SETUP_EXE, self._setup_snapshot)
            exe = self._setup_snapshot
        src = Path(exe)
        wine.require_artifacts(src)
        # The setup always runs under the product's name (the 64-bit test build too).
        dst = Path(folder) / (wine.SETUP_NAME if src.name == wine.SETUP_EXE.name else src.name)
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
        return wine.screenshot(self.display, Path(folder or wine.SCREENSHOT_DIR) / f"{name}.png")

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
    REQUIRES = (wine.SETUP_EXE, wine.DRIVER_EXE)
    bench = None

    @classmethod
    def setUpClass(cls):
        wine.require_wine(cls.NEEDS_WOW64)
        wine.require_artifacts(*cls.REQUIRES)
        cls.bench = Bench(cls.PREFIX, label=f"{cls.__module__}.{cls.__name__}")
        cls._class_started = time.monotonic()

    @classmethod
    def tearDownClass(cls):
        if cls.bench:
            seconds = time.monotonic() - cls._class_started
            wine.log(f"{cls.__module__}.{cls.__name__}: {seconds:.1f} s of scenarios")
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
        wine.log(f"{self.id()}: {time.monotonic() - self._started:.1f} s")

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
