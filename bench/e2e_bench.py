#!/usr/bin/env python3
"""End-to-end benchmark of the setup under Wine, each figure beside a baseline measured in the same run.

    python3 bench/e2e_bench.py [--runs N] [--prefix KIND] [--skip-large] [--skip-files]

Needs the cross build (the setup and the UI driver), the package tool of the native build and the
native CRC tool of the benchmark build (build/bench, configured without sanitizers; the script
builds it when it is missing). `./build.sh bench` does all of it.

What is timed, for each package, is the install page: from the moment the driver sees the wizard on
the install page to the moment it sees Finish enabled (checks, extraction, shortcuts). Meanwhile the
driver sends WM_NULL to the sheet every 50 ms (SendMessageTimeout) and records how long each answer
takes. Afterwards the progress bar is asked how often it painted (the registered message
"QUENTARO.PaintCount", answered by the bar itself).

Figures:
- 256 MiB: the install against the I/O floor, `cp` of the package plus one `cat` of it, both
  on the host, on the same warm files; beside it the older baseline, `cp` plus one native CRC pass
  (bench/crc_tool.cpp over core/crc16);
- per-file cost: install time / number of files for 10,000 small files (goal 1 ms), and against
  100 files (goal 1.2);
- progress bar paints during the 256 MiB install against the bar's width in pixels plus two;
- the slowest WM_NULL answer against 100 ms;
- the check value's register in the 32-bit program under Wine (quentaro-crc.exe of the cross build
  over 256 MiB in memory) against 2 GB/s.
"""

import argparse
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time
from pathlib import Path

REPO = Path(__file__).resolve().parents[1]
sys.path.insert(0, str(REPO / "tests" / "e2e"))

# The Wine test bench.
import packages  # noqa: E402
import scenario  # noqa: E402
import ui  # noqa: E402
import wine  # noqa: E402

BENCH_BUILD = REPO / "build" / "bench"
CRC_TOOL = BENCH_BUILD / "bench" / "quentaro-crc"
PACKAGE = "QUENTARO.cab"
INSTALL_PAGE = 4
IDC_FOLDER, IDC_PROGRESS = 1011, 1015
PAINT_COUNT_MESSAGE = "QUENTARO.PaintCount"
PROBE_PERIOD = 0.050
PROBE_LIMIT_MS = 100
MIB = 1024 * 1024
STAMP = "20080401120000"


def log(text):
    print(text, file=sys.stderr, flush=True)


def ensure_crc_tool():
    if CRC_TOOL.is_file():
        return
    log("building the native CRC tool in build/bench (Release, no sanitizers)")
    subprocess.run(["cmake", "-S", str(REPO), "-B", str(BENCH_BUILD), "-DCMAKE_BUILD_TYPE=Release",
                    "-DQUENTARO_SANITIZE=OFF"], check=True, stdout=subprocess.DEVNULL)
    subprocess.run(["cmake", "--build", str(BENCH_BUILD), "--target", "quentaro-crc", "-j", str(os.cpu_count())],
                   check=True, stdout=subprocess.DEVNULL)


# ---------------------------------------------------------------------------------------------
# Packages


def build_package(path, entries):
    """entries: (name, source path) pairs, all for every platform (target 0)."""
    return packages.make_package(path, [{"name": name, "time": STAMP, "target": 0, "source": src}
                                        for name, src in entries])


def large_package(work, size):
    data = work / "large.dat"
    with open(data, "wb") as f:
        for _ in range(size // MIB):
            f.write(os.urandom(MIB))
    app = work / "QUENTARO.exe"
    app.write_bytes(b"MZ" + bytes(1022))
    path = build_package(work / f"large{size // MIB}.cab", [("QUENTARO.dat", data), ("QUENTARO.exe", app)])
    data.unlink()
    return path


def files_package(work, count, size=100):
    """`count` files of `size` bytes, and the application the shortcuts point to."""
    src = work / f"files{count}"
    src.mkdir()
    entries = []
    for i in range(count):
        f = src / f"{i:05d}"
        f.write_bytes(bytes((i * 7 + j) & 0xFF for j in range(size)))
        entries.append((f"file{i:05d}.txt", f))
    app = work / "QUENTARO.exe"
    app.write_bytes(b"MZ" + bytes(1022))
    entries.append(("QUENTARO.exe", app))
    path = build_package(work / f"files{count}.cab", entries)
    shutil.rmtree(src)
    return path


# ---------------------------------------------------------------------------------------------
# Baseline


def timed(args):
    started = time.monotonic()
    r = subprocess.run(args, check=True, stdout=subprocess.PIPE, text=True)
    return time.monotonic() - started, r.stdout


def baseline(package, scratch):
    """(cp seconds, cat seconds, crc seconds) over the package's bytes, on the host. The I/O floor
    of an installation is one copy of the package to the destination drive plus one more read of
    it (cp + cat); the older baseline put the native CRC pass in place of the read."""
    target = scratch / "copy.bin"
    cp_seconds, _ = timed(["cp", str(package), str(target)])
    started = time.monotonic()
    with open(os.devnull, "wb") as null:
        subprocess.run(["cat", str(package)], check=True, stdout=null)
    cat_seconds = time.monotonic() - started
    crc_seconds, out = timed([str(CRC_TOOL), str(package)])
    target.unlink()
    if not out.startswith("f0b8 "):
        raise wine.BenchError(f"the package does not pass the native CRC pass: {out}")
    return cp_seconds, cat_seconds, crc_seconds


# ---------------------------------------------------------------------------------------------
# One installation under Wine


class Install:
    def __init__(self):
        self.seconds = None
        self.probes = []  # milliseconds of every answered WM_NULL; None when unanswered
        self.slow = []  # (seconds after the start, ms) of the probes over the limit
        self.paints = None
        self.bar_width = None


def wait_page(sheet, index, timeout=30):
    deadline = time.monotonic() + timeout
    while True:
        r = sheet.driver.call("page", sheet.hwnd, check=False)
        if r.get("ok") and r["index"] == index:
            return
        if time.monotonic() > deadline:
            raise wine.BenchError(f"the wizard did not reach page {index}: {r}")
        time.sleep(0.005)


def run_install(b, package, timeout, paint_message):
    """Installs `package` (a host file) with the setup in a fresh state of the prefix."""
    b.reset()
    folder = b.work_folder("source")
    os.link(package, folder / PACKAGE)
    exe = b.copy_setup(folder)
    p = b.start(exe, folder)
    sheet = p.wait_sheet()
    result = Install()
    driver = b.driver
    for index in range(INSTALL_PAGE):
        wait_page(sheet, index)
        sheet.click(ui.ID_NEXT)
    wait_page(sheet, INSTALL_PAGE)
    started = time.monotonic()
    next_probe = started
    next_box_check = started + 0.5
    while True:
        now = time.monotonic()
        if now >= next_probe:
            r = driver.call("probe", sheet.hwnd, 2000, timeout=15)
            result.probes.append(r["ms"] if r["responsive"] else None)
            if not r["responsive"] or r["ms"] > PROBE_LIMIT_MS:
                result.slow.append((round(now - started, 3), r["ms"] if r["responsive"] else None))
            next_probe += PROBE_PERIOD
        if driver.call("is-enabled", sheet.hwnd, ui.ID_FINISH)["enabled"]:
            result.seconds = time.monotonic() - started
            break
        if now >= next_box_check:
            box = p.try_wait_window("msgbox", 0)
            if box is not None:
                raise wine.BenchError(f"the setup showed a message: {box.message()!r}")
            next_box_check = now + 0.5
        if now - started > timeout:
            raise wine.BenchError(f"the installation did not end within {timeout} s")
        time.sleep(0.002)
    bar = sheet.control(IDC_PROGRESS)
    result.bar_width = bar["rect"]["right"] - bar["rect"]["left"] - 2  # less the border
    if paint_message is not None:
        result.paints = driver.call("send", sheet.hwnd, IDC_PROGRESS, paint_message, 0, 0)["result"]
    sheet.click(ui.ID_FINISH)
    p.wait_msgbox().click(ui.IDOK)
    code = p.wait_exit()
    if code != 0:
        raise wine.BenchError(f"the setup ended with code {code}")
    return result


def installed_files(b):
    root = b.prefix.drive_c / "Program Files" / "QUENTARO"
    return [f for f in root.rglob("*") if f.is_file()]


# ---------------------------------------------------------------------------------------------
# Report


def crc_speed_line(b, mib=256, runs=5):
    """The check value's register in the 32-bit program under Wine: quentaro-crc.exe of the cross
    build (core/crc16, the code the setup runs) over `mib` MiB in memory, the median of `runs`."""
    exe = wine.WIN_DIR / "bench" / "quentaro-crc.exe"
    wine.require_artifacts(exe)
    r = subprocess.run(wine.WINE + [str(exe), "--speed", str(mib), str(runs)], cwd=str(b.prefix.drive_c),
                       env=b.prefix.env(b.display), capture_output=True, text=True, timeout=300)
    last = r.stdout.strip().splitlines()[-1] if r.stdout.strip() else ""
    if r.returncode != 0 or "median" not in last:
        raise wine.BenchError(f"quentaro-crc.exe --speed: {r.returncode} {r.stdout} {r.stderr}")
    log("  check value under Wine: " + " ".join(x.split(": ")[1] for x in r.stdout.splitlines() if x.startswith("run")))
    rate = float(last.split("median ")[1].split()[0])
    return (f"check value, 32-bit program under Wine, {mib} MiB in memory, median of {runs}: {rate:.2f} GB/s "
            f"(goal >= 2 GB/s: {'met' if rate >= 2 else 'missed'})")


def ratio_line(name, value, base, goal, unit="s"):
    ratio = value / base if base else float("inf")
    verdict = "met" if ratio <= goal else f"missed by {ratio / goal:.2f}x"
    return f"{name:<44} {value:9.3f} {unit}  vs {base:9.3f} {unit}  ratio {ratio:6.2f}  (goal <= {goal}: {verdict})"


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--runs", type=int, default=3, help="installations per package (the median counts)")
    ap.add_argument("--prefix", default="win64", choices=sorted(wine.PREFIX_KINDS))
    ap.add_argument("--large-mib", type=int, default=256)
    ap.add_argument("--many", type=int, default=10000)
    ap.add_argument("--few", type=int, default=100)
    ap.add_argument("--skip-large", action="store_true")
    ap.add_argument("--skip-files", action="store_true")
    ap.add_argument("--timeout", type=float, default=600)
    args = ap.parse_args()

    # Only the product's own timings mean anything: the 64-bit test build is not measured.
    if wine.PLAN.bits != 32:
        why = wine.PLAN.why_none or f"the 32-bit product cannot run: {wine.PLAN.why_not_32}"
        print(f"end-to-end benchmark not measured: {why}")
        return
    wine.require_artifacts(wine.SETUP_EXE, wine.DRIVER_EXE, wine.PACK_TOOL)
    ensure_crc_tool()
    work = Path(tempfile.mkdtemp(prefix="e2e_bench.", dir=REPO / "build"))
    b = None
    try:
        log("building packages")
        large = None if args.skip_large else large_package(work, args.large_mib * MIB)
        few = None if args.skip_files else files_package(work, args.few)
        many = None if args.skip_files else files_package(work, args.many)
        b = scenario.Bench(args.prefix, "e2e_bench")
        paint_message = b.driver.call("register-message", PAINT_COUNT_MESSAGE)["msg"]
        # The packages and the baseline copy live in the prefix's drive C:, on the file system the
        # setup writes to.
        store = b.prefix.root / "packages"
        store.mkdir()
        for pkg in (large, few, many):
            if pkg is not None:
                shutil.move(str(pkg), str(store / pkg.name))
        large, few, many = (store / p.name if p else None for p in (large, few, many))

        lines = []
        all_probes = []
        lines.append(crc_speed_line(b))
        if large is not None:
            installs, copies, cats, crcs = [], [], [], []
            for run in range(args.runs):
                cp_s, cat_s, crc_s = baseline(large, store)
                copies.append(cp_s)
                cats.append(cat_s)
                crcs.append(crc_s)
                r = run_install(b, large, args.timeout, paint_message)
                size = sum(f.stat().st_size for f in installed_files(b))
                if size != large.stat().st_size - 32 - 2 * 64 - 2:
                    raise wine.BenchError(f"installed {size} bytes")
                installs.append(r)
                all_probes += r.probes
                log(f"  {args.large_mib} MiB run {run + 1}: install {r.seconds:.3f} s, cp {cp_s:.3f} s, "
                    f"cat {cat_s:.3f} s, crc {crc_s:.3f} s, paints {r.paints}, bar {r.bar_width} px, "
                    f"slowest probe {max((x for x in r.probes if x is not None), default=0)} ms, "
                    f"probes over {PROBE_LIMIT_MS} ms (s after the start, ms): {r.slow}")
            install_s = statistics.median(r.seconds for r in installs)
            floor_s = statistics.median(c + k for c, k in zip(copies, cats))
            base_s = statistics.median(c + k for c, k in zip(copies, crcs))
            lines.append(f"{args.large_mib} MiB package, median of {args.runs}: cp {statistics.median(copies):.3f} s, "
                         f"cat {statistics.median(cats):.3f} s, CRC {statistics.median(crcs):.3f} s; "
                         f"install {install_s:.3f} s = {args.large_mib * MIB / install_s / 1e6:.0f} MB/s")
            lines.append(ratio_line("install vs I/O floor (cp + cat)", install_s, floor_s, 1.5))
            lines.append(ratio_line("install vs cp + CRC (older baseline)", install_s, base_s, 1.5))
            paints = max(r.paints for r in installs) if installs[0].paints is not None else None
            width = installs[0].bar_width
            if paints is None:
                lines.append("progress bar paints: not counted (the bar does not answer the query)")
            else:
                lines.append(ratio_line("progress bar paints (most of the runs)", paints, width + 2, 1.0,
                                        unit="  "))
        if few is not None:
            per_file = {}
            for pkg, count in ((few, args.few), (many, args.many)):
                times = []
                for run in range(args.runs):
                    r = run_install(b, pkg, args.timeout, paint_message)
                    n = len(installed_files(b))
                    if n != count + 1:
                        raise wine.BenchError(f"installed {n} files of {count + 1}")
                    times.append(r.seconds)
                    all_probes += r.probes
                    log(f"  {count} files run {run + 1}: install {r.seconds:.3f} s, "
                        f"slowest probe {max((x for x in r.probes if x is not None), default=0)} ms, "
                        f"probes over {PROBE_LIMIT_MS} ms (s after the start, ms): {r.slow}")
                per_file[count] = statistics.median(times) / (count + 1)
                lines.append(f"{count} files, median of {args.runs}: {statistics.median(times):.3f} s, "
                             f"{per_file[count] * 1e3:.3f} ms per file")
            many_ms = per_file[args.many] * 1e3
            lines.append(f"per file, {args.many} files: {many_ms:.3f} ms "
                         f"(goal <= 1.0 ms: {'met' if many_ms <= 1.0 else 'missed'})")
            lines.append(ratio_line(f"per file, {args.many} vs {args.few} files", many_ms,
                                    per_file[args.few] * 1e3, 1.2, unit="ms"))
        answered = [x for x in all_probes if x is not None]
        unanswered = len(all_probes) - len(answered)
        if all_probes:
            worst = max(answered) if answered else float("inf")
            verdict = "met" if unanswered == 0 and worst <= PROBE_LIMIT_MS else "missed"
            lines.append(f"responsiveness: {len(all_probes)} WM_NULL probes, {unanswered} unanswered, "
                         f"median {statistics.median(answered) if answered else 0} ms, slowest {worst} ms "
                         f"(goal <= {PROBE_LIMIT_MS} ms: {verdict})")
        cpu = next((ln.split(":", 1)[1].strip() for ln in open("/proc/cpuinfo") if ln.startswith("model name")),
                   "unknown")
        print(f"machine: {os.cpu_count()} CPUs, {cpu}; Wine prefix {args.prefix}")
        for line in lines:
            print(line)
    finally:
        if b is not None:
            b.close()
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
