"""The demo: a package made with the package tool, and the wizard on it under Wine.

With a DISPLAY, the wizard opens in a Wine virtual desktop on that display for a person to use.
Without one, it runs on a private Xvfb, the driver walks the pages (Next on each, the default
destination folder), and a screenshot of every page reached is saved.

`python3 tests/e2e/demo.py --docs` (after ./build.sh build) walks the pages on Xvfb whatever the
DISPLAY and also saves the README's pictures in docs/wizard/, each cropped to the wizard.

Where this machine cannot run 32-bit code, the demo says so and shows the 64-bit test build of the
same sources instead, on Windows XP (a 64-bit process is never the WOW64 case of the product, and
on 32-bit Windows 7 the package would need the driver installer). Every expected failure (no
Wine, no Xvfb, a program not built) ends with one line, not a traceback.
"""

import os
import shutil
import subprocess
import sys
import time

import packages
import scenario
import ui
import wine

SHOTS = wine.REPO / "build" / "demo-screenshots"
# `--docs`: the pictures of the README, each cropped to the wizard (and its message box).
DOCS_SHOTS = wine.REPO / "docs" / "wizard"
DOCS_NAMES = {"page0": "1-welcome", "page1": "2-licence", "page2": "3-copyright", "page3": "4-destination",
              "install-done": "5-installed", "completed": "6-completed"}
DEMO_ROOT = wine.WINE_DIR / "demo"
HEADING_ID = 1018
INSTALL_PAGE = 4

DEMO_FILES = [
    # name, target, content
    ("QUENTARO.exe", 0, b"MZ" + b"QUENTARO demo placeholder, not a program".ljust(4094, b"\0")),
    ("はじめにお読みください.txt", 0, "QUENTARO デモ パッケージです。\r\n".encode("cp932")),
    ("辞書データ.dat", 0, bytes((i * 7) % 251 for i in range(300_000))),
]


def build_package(folder):
    entries = [{"name": n, "target": t, "data": d, "time": "20080401120000"} for n, t, d in DEMO_FILES]
    return packages.make_package(folder / "QUENTARO.cab", entries)


# The class of Windows the demo runs on: 64-bit Windows 7 for the product; XP for the test build.
DEMO_PREFIX = "winxp" if wine.PLAN.bits == 64 else "win64"


def run_visible():
    wine.require_artifacts(wine.SETUP_EXE)
    prefix = wine.Prefix(DEMO_PREFIX, "demo", root=DEMO_ROOT)
    folder = prefix.drive_c / "QUENTARO Demo"
    folder.mkdir(parents=True)
    build_package(folder)
    exe = folder / wine.SETUP_NAME
    shutil.copy2(wine.SETUP_EXE, exe)
    print(f"Starting the wizard on display {os.environ['DISPLAY']} (prefix {prefix.dir})")
    r = subprocess.run(wine.WINE + [str(exe)], cwd=folder, env=prefix.env(os.environ["DISPLAY"]))
    subprocess.run(wine.WINESERVER + ["-w"], env=prefix.env())
    print(f"The setup ended with exit code {r.returncode}.")
    for found in sorted(prefix.drive_c.glob("Program Files*/QUENTARO/**/*")):
        print(f"  installed: {found}")
    return 0


def crop(source, target, rects):
    """Saves the part of a screenshot that holds the given screen rectangles."""
    left, top = min(r["left"] for r in rects), min(r["top"] for r in rects)
    right, bottom = max(r["right"] for r in rects), max(r["bottom"] for r in rects)
    target.parent.mkdir(parents=True, exist_ok=True)
    subprocess.run(["convert", str(source), "-crop", f"{right - left}x{bottom - top}+{left}+{top}", "+repage",
                    "-strip", str(target)], check=True)


def run_headless(docs=False):
    wine.require_artifacts()
    if SHOTS.exists():
        shutil.rmtree(SHOTS)
    b = scenario.Bench(DEMO_PREFIX, label="demo", root=DEMO_ROOT)
    shots = []
    windows = []  # the windows the next shot shows: the sheet, and a message box when one is up

    def shot(name):
        time.sleep(0.3)  # let the page finish painting
        shots.append(b.screenshot(name, SHOTS))
        if docs and name in DOCS_NAMES:
            crop(shots[-1], DOCS_SHOTS / f"{DOCS_NAMES[name]}.png", [w.refresh()["rect"] for w in windows])

    try:
        folder = b.prefix.drive_c / "QUENTARO Demo"
        folder.mkdir(parents=True)
        build_package(folder)
        p = b.start(b.copy_setup(folder), folder)
        sheet = p.wait_sheet()
        windows.append(sheet)
        index = sheet.page_index()
        shot(f"page{index}")
        while index < INSTALL_PAGE:
            box = p.try_wait_window("msgbox", 0.2)
            if box:
                shot(f"page{index}-message")
                print(f"A message stopped the walk on page {index}: {box.caption()}: {box.message()}")
                return 1
            if not sheet.control(ui.ID_NEXT)["enabled"]:
                print(f"Next is disabled on page {index}")
                return 1
            sheet.click(ui.ID_NEXT)
            sheet.wait_page(index + 1, timeout=20)
            index += 1
            shot(f"page{index}")
        # The install page: wait for the end of the installation (Finish enabled) or a message.
        result = 1
        deadline = time.monotonic() + 30
        while time.monotonic() < deadline:
            box = p.try_wait_window("msgbox", 0.5)
            if box:
                shot("install-message")
                print(f"Message on the install page: {box.caption()}: {box.message()}")
                break
            finish = sheet.control(ui.ID_FINISH)
            if finish["visible"] and finish["enabled"]:
                shot("install-done")
                sheet.click(ui.ID_FINISH)
                box = p.try_wait_window("msgbox", 20)
                if box:
                    windows[:] = [box]  # the wizard has ended: the box alone
                    shot("completed")
                    print(f"Completion message: {box.message()}")
                    box.click(ui.IDOK)
                code = p.wait_exit()
                print(f"The setup ended with exit code {code}.")
                result = 0 if code == 0 else 1
                for found in sorted(b.prefix.drive_c.glob("Program Files*/QUENTARO/**/*")):
                    print(f"  installed: {found}")
                for link in sorted(b.prefix.drive_c.rglob("*.LNK")):
                    print(f"  shortcut:  {link}")
                break
        else:
            shot("install-page-timeout")
            print("The installation did not end within 30 s.")
        print("Screenshots:")
        for s in shots:
            print(f"  {s}")
        return result
    finally:
        b.close()


def main():
    plan = wine.PLAN
    if plan.bits is None:
        print(f"demo: the wizard cannot be shown on this machine: {plan.why_none}")
        return 1
    if plan.bits == 64:
        why = ("the 64-bit path is forced" if plan.forced else "This machine cannot run 32-bit programs")
        print(f"{why}: the demo shows the 64-bit test build of the same sources ({wine.SETUP_EXE.name}, "
              "never shipped), not the 32-bit product.")
    try:
        if "--docs" in sys.argv[1:]:
            return run_headless(docs=True)
        if os.environ.get("DISPLAY"):
            return run_visible()
        return run_headless()
    except (wine.BenchError, OSError, subprocess.SubprocessError) as e:
        print(f"demo: {e}")
        return 1


if __name__ == "__main__":
    sys.exit(main())
