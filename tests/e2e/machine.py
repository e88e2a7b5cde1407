"""What this machine can run of Wine, and so which Windows build the scenarios run against.

The setup is a 32-bit program. Some x86-64 machines cannot run 32-bit x86 code at all (their
kernel refuses i386 programs); no Wine changes that. There the scenarios run against the 64-bit
test build of the same sources under Wine's 64-bit loader, on 64-bit prefixes whose reported
Windows version is set per class. A 64-bit process is not a WOW64 process, so that path gives the
platform kinds of 32-bit Windows 2000, XP, Vista and 7 (1, 2, 3, 5) but never kind 4; scenarios
that need kind 4 are skipped there, with the reason.

Whether 32-bit code runs is found out by a real try (Wine's 32-bit loader is run), once per boot
of the machine: the answer is cached in the bench's Wine folder, keyed by the boot and the
loaders. QUENTARO_E2E_FORCE_64=1 forces the 64-bit path on a machine that runs 32-bit code.

Python 3 standard library only; imports nothing of the bench.
"""

import json
import os
import shutil
import subprocess
from pathlib import Path

FORCE_64_ENV = "QUENTARO_E2E_FORCE_64"

WINE32_LOADER = "/usr/lib/wine/wine"
WINE64_LOADER = "/usr/lib/wine/wine64"
WINESERVER64 = "/usr/lib/wine/wineserver64"

# Bump when the way the answer is found changes: cached answers of another recipe are found anew.
CHECK_RECIPE = 1


def _boot_id():
    try:
        return Path("/proc/sys/kernel/random/boot_id").read_text().strip()
    except OSError:
        return "unknown"


def _stat_key(path):
    try:
        st = os.stat(path)
    except OSError:
        return None
    return [st.st_size, st.st_mtime_ns]


def _run_loader(loader):
    """(ok, detail): whether `loader --version` runs and names a Wine version."""
    if not os.path.exists(loader):
        return False, f"{loader} is not installed"
    try:
        r = subprocess.run([loader, "--version"], stdin=subprocess.DEVNULL, capture_output=True, text=True,
                           errors="replace", timeout=60)
    except OSError as e:  # ENOEXEC: the kernel refuses the program's architecture
        return False, f"{loader}: {e.strerror}"
    except subprocess.TimeoutExpired:
        return False, f"{loader} --version did not answer within 60 s"
    out = (r.stdout + r.stderr).strip()
    if r.returncode == 0 and out.startswith("wine-"):
        return True, out.splitlines()[0]
    last = out.splitlines()[-1] if out else "no output"
    return False, f"{loader} --version failed ({r.returncode}): {last}"


def find_capability():
    """The real try, uncached: {"wine32": bool, "wine32_detail", "wine64": bool, "wine64_detail"}."""
    ok32, detail32 = _run_loader(WINE32_LOADER)
    ok64, detail64 = _run_loader(WINE64_LOADER)
    return {"wine32": ok32, "wine32_detail": detail32, "wine64": ok64, "wine64_detail": detail64}


def capability(cache_dir):
    """find_capability(), cached in cache_dir for this boot of the machine and these loaders."""
    key = {"recipe": CHECK_RECIPE, "boot": _boot_id(),
           "loaders": [_stat_key(p) for p in (WINE32_LOADER, WINE64_LOADER)]}
    cache = Path(cache_dir) / "capability.json"
    try:
        stored = json.loads(cache.read_text())
        if stored.get("key") == key:
            return stored["answer"]
    except (OSError, ValueError, KeyError):
        pass
    answer = find_capability()
    try:
        cache.parent.mkdir(parents=True, exist_ok=True)
        tmp = cache.with_name(f"capability.{os.getpid()}.tmp")
        tmp.write_text(json.dumps({"key": key, "answer": answer}))
        os.replace(tmp, cache)
    except OSError:
        pass  # an unwritable cache only costs the next run another try
    return answer


class Plan:
    """Which build the scenarios run against: bits 32 (the product), 64 (the test build) or None
    (no Wine runs here), and why."""

    def __init__(self, cap, forced, have_xvfb):
        self.capability = cap
        self.forced = forced
        self.bits = None
        self.why_not_32 = None  # why the product itself does not run here (None when it does)
        self.why_none = None  # why no scenario can run here
        if cap["wine32"] and not forced:
            self.bits = 32
        elif cap["wine64"]:
            self.bits = 64
            self.why_not_32 = (f"the 64-bit path is forced ({FORCE_64_ENV}=1)" if forced else
                               f"this machine cannot run it ({cap['wine32_detail']})")
        else:
            self.why_not_32 = f"this machine cannot run it ({cap['wine32_detail']})"
            self.why_none = f"needs Wine: this machine runs neither of its loaders ({cap['wine64_detail']})"
        if self.bits and not have_xvfb:
            self.bits = None
            self.why_none = "needs Xvfb: it is not installed (scripts/install-deps.sh installs it)"

    @property
    def kind4_skip_reason(self):
        """Why a scenario that needs platform kind 4 (the 32-bit setup on 64-bit Windows) is skipped."""
        return f"needs 32-bit code (platform kind 4, WOW64): {self.why_not_32}"

    def describe(self):
        if self.bits == 32:
            return "the product (32-bit) under Wine's 32-bit loader"
        if self.bits == 64:
            return "the 64-bit test build of the same sources under wine64 (not the product)"
        return "nothing: " + self.why_none


def plan(cache_dir):
    forced = os.environ.get(FORCE_64_ENV) == "1"
    return Plan(capability(cache_dir), forced, shutil.which("Xvfb") is not None)


if __name__ == "__main__":
    print(json.dumps(find_capability(), indent=2))
