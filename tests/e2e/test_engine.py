"""The installation engine through its real Windows ports: package checks, extraction, time stamps,
the driver installer, shell links, platform classification, local time, folders and free space.

The engine runs in engine_probe.exe, a console program of the cross build that links the engine's
Windows ports with the portable core and a recording install page; it prints one JSON object per
line. QuentaroDriver32setup.exe is a stand-in for the driver installer that records its parameters
and current folder next to itself.
"""

import json
import os
import struct
import subprocess
import tempfile
import unittest
from pathlib import Path

import wine
from packages import entry, make_package, stamp_seconds
from scenario import BenchCase

PROBE_EXE = wine.WIN_DIR / "tests" / "engine_probe" / "engine_probe.exe"
STANDIN_EXE = wine.WIN_DIR / "tests" / "engine_probe" / "QuentaroDriver32setup.exe"
RECORD_NAME = "QuentaroDriver32setup.record"

MSG_NOT_FOUND = "ﾃﾞｰﾀﾌｧｲﾙが見つかりません。ｾｯﾄｱｯﾌﾟを終了します。"
MSG_DISK_FULL = "ﾃﾞｨｽｸの空き容量が不足しています。ｾｯﾄｱｯﾌﾟを終了します。"
LINK_NAME = "NRQ QUENTARO.LNK"
LINK_DESCRIPTION = "QUENTARO for LW-R7100/R710R"
CSIDL_COMMON_DESKTOPDIRECTORY, CSIDL_COMMON_PROGRAMS = 25, 23
MSG_DRIVER_INSTALLER = "ﾄﾞﾗｲﾊﾞｰのｲﾝｽﾄｰﾙﾌﾟﾛｸﾞﾗﾑを起動出来ません。ｾｯﾄｱｯﾌﾟを終了します。"
ENGINE_STEPS = ["CheckSignature", "CheckVersion", "CheckCrc", "ExtractFiles", "CreateShortcuts"]


def pattern(size, seed):
    return bytes((seed + i * 7) & 0xFF for i in range(size))


def link_show_command(path):
    """The show command as the .lnk file stores it: the DWORD at offset 0x3C of the header."""
    data = Path(path).read_bytes()
    return struct.unpack_from("<I", data, 0x3C)[0]


class ProbeRun:
    """What one engine_probe run printed, and its exit status."""

    def __init__(self, code, lines):
        self.code = code
        self.lines = lines

    def events(self, kind):
        return [line for line in self.lines if line.get("event") == kind]

    def results(self):
        return [(r["step"], r["value"]) for r in self.events("result")]

    def errors(self):
        return [e["text"] for e in self.events("error")]

    def log(self):
        return "".join(e["text"] for e in self.events("log"))

    def progress(self):
        return [e["value"] for e in self.events("progress")]


def run_probe(prefix, args, cwd, display=None, env=None, watch=None, timeout=180):
    """Runs engine_probe; `watch` sees each line as it arrives (the driver stand-in keeps the
    output pipe open until it ends, so only a line read at once tells what had happened then)."""
    proc = subprocess.Popen(wine.WINE + [str(PROBE_EXE)] + [str(a) for a in args], cwd=str(cwd),
                            env=env or prefix.env(display), stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    lines = []
    try:
        for raw in proc.stdout:
            text = raw.decode("ascii")
            if text.startswith("{"):
                lines.append(json.loads(text))
                if watch:
                    watch(lines[-1])
        code = proc.wait(timeout)
    finally:
        if proc.poll() is None:
            proc.kill()
            proc.wait()
        proc.stdout.close()
    return ProbeRun(code, lines)


class EngineCase(BenchCase):
    REQUIRES = (wine.DRIVER_EXE, PROBE_EXE, STANDIN_EXE, wine.PACK_TOOL)

    def probe(self, *args, cwd=None, env=None, watch=None):
        return run_probe(self.bench.prefix, args, cwd or self.bench.prefix.drive_c, self.bench.display, env, watch)

    def probe_one(self, *args, env=None):
        run = self.probe(*args, env=env)
        self.assertEqual(len(run.lines), 1, run.lines)
        return run.lines[0]

    def shell_folder(self, csidl):
        answer = self.probe_one("shellfolder", csidl)
        self.assertTrue(answer["ok"], answer)
        return self.bench.prefix.host_path(answer["path"])

    def setup_folders(self):
        """A package folder and a destination folder on drive C:."""
        source = self.bench.work_folder("source")
        dest = self.bench.work_folder("QUENTARO")
        return source, dest, self.bench.prefix.win_path(dest)

    def install(self, source, dest_win, kind="real", system="real", env=None, watch=None):
        return self.probe("install", "QUENTARO.cab", kind, dest_win, system, cwd=source, env=env, watch=watch)

    def read_link(self, host_path):
        answer = self.probe_one("readlink", self.bench.prefix.win_path(host_path))
        self.assertTrue(answer["ok"], answer)
        return answer

    def assertFileWritten(self, path, data, stamp):
        self.assertTrue(path.is_file(), path)
        self.assertEqual(path.read_bytes(), data, path)
        # Wine stores the last-write time; it cannot store a creation time of its own.
        self.assertEqual(os.stat(path).st_mtime, stamp_seconds(stamp), path)

    def assertCompleteRun(self, run):
        self.assertEqual(run.results(), [(step, 1) for step in ENGINE_STEPS], run.lines)
        self.assertEqual(run.errors(), [])
        self.assertEqual(run.code, 0)


class EngineOnWindows7(EngineCase):
    """PlatformKind 5 (32-bit Windows 7): Target 3 files go to the destination under their whole
    name, Target 5 files to the system folder without their prefix, and the driver installer runs."""

    PREFIX = "win7"

    def kind5_package(self, source):
        entries = [
            entry("QUENTARO.exe", 0, pattern(700, 1), "20240102030405"),
            entry("辞書データ.dat", 0, pattern(261, 2), "20231231235959"),
            entry("empty.txt", 0, b"", "20080401120000"),
            entry("Quentaro.inf", 0, b"[Version]\r\n", "20080401120000"),
            entry("QuentaroDriver32setup.exe", 0, STANDIN_EXE.read_bytes(), "20080401120000"),
            entry("QU%xquentaro.sys", 3, pattern(260, 3), "20100505050505"),
            entry("SY%5win7only.dll", 5, pattern(100, 4), "20110606060606"),
            entry("xponly.dll", 2, pattern(50, 5), "20120707070707"),
            entry("vistaonly.dll", 1, pattern(50, 6), "20120707070707"),
        ]
        make_package(source / "QUENTARO.cab", entries)
        return entries

    def test_complete_run_writes_files_times_driver_and_links(self):
        source, dest, dest_win = self.setup_folders()
        entries = self.kind5_package(source)
        system = self.bench.prefix.drive_c / "windows" / "system32"
        self.assertEqual(self.probe_one("platform")["kind"], 5)

        # The stand-in tries to open the package while it runs; it records the result.
        package_win = self.bench.prefix.win_path(source / "QUENTARO.cab")
        env = dict(self.bench.prefix.env(self.bench.display), QUENTARO_STANDIN_OPEN=package_win)
        seen = {}

        def watch(line):
            if line.get("step") == "ExtractFiles":
                seen["record"] = (dest / RECORD_NAME).exists()

        run = self.install(source, dest_win, env=env, watch=watch)
        self.assertCompleteRun(run)
        self.assertEqual(run.events("start")[0]["kind"], 5)

        written = {"QUENTARO.exe": dest, "辞書データ.dat": dest, "empty.txt": dest, "Quentaro.inf": dest,
                   "QuentaroDriver32setup.exe": dest, "QU%xquentaro.sys": dest, "win7only.dll": system}
        by_name = {e["name"]: e for e in entries}
        by_name["win7only.dll"] = by_name.pop("SY%5win7only.dll")
        for name, folder in written.items():
            self.assertFileWritten(folder / name, by_name[name]["data"], by_name[name]["time"])
        for name in ("xponly.dll", "vistaonly.dll", "SY%5win7only.dll", "quentaro.sys"):
            self.assertFalse((dest / name).exists(), name)
            self.assertFalse((system / name).exists(), name)
        self.assertEqual(run.log(), "".join(f'\nCreate "{name}"...' for name in written))

        # Verification 0..50, extraction 50..100; every change is reported once.
        progress = run.progress()
        self.assertEqual(progress, sorted(set(progress)))
        self.assertEqual((progress[0], progress[-1]), (0, 100))
        self.assertIn(50, progress)

        # The driver installer ran once, from the destination folder, with its parameter; the
        # extraction waited for it (it writes its record only after a delay) and held the package
        # open meanwhile, for readers only: another program may read it (0) but not write it (error
        # 32, ERROR_SHARING_VIOLATION).
        self.assertEqual(seen, {"record": True})
        record = (dest / RECORD_NAME).read_text(encoding="utf-8").splitlines()
        self.assertEqual(record, [f"Quentaro.inf\t{dest_win}\t0\t32"])

        for csidl in (CSIDL_COMMON_DESKTOPDIRECTORY, CSIDL_COMMON_PROGRAMS):
            folder = self.shell_folder(csidl)
            self.assertEqual(sorted(p.name for p in folder.glob("NRQ*")), [LINK_NAME], folder)
            link = self.read_link(folder / LINK_NAME)
            self.assertEqual((link["target"], link["folder"], link["description"]),
                             (dest_win + "\\QUENTARO.exe", dest_win, LINK_DESCRIPTION))
            self.assertEqual((link["arguments"], link["icon"], link["hotkey"]), ("", "", 0))
            self.assertEqual(link_show_command(folder / LINK_NAME), 5)

    def test_missing_driver_installer_ends_the_extraction_with_a_message(self):
        # The shell shows no box of its own; the extraction reports that the installer cannot be
        # started and fails, after the files are written. No link is made.
        source, dest, dest_win = self.setup_folders()
        make_package(source / "QUENTARO.cab", [entry("QUENTARO.exe", 0, b"MZ")])
        run = self.install(source, dest_win)
        self.assertEqual(run.results(), [(step, 1) for step in ENGINE_STEPS[:3]] + [("ExtractFiles", 0)])
        self.assertEqual(run.errors(), [MSG_DRIVER_INSTALLER])
        self.assertEqual(run.code, 1)
        self.assertEqual((dest / "QUENTARO.exe").read_bytes(), b"MZ")
        self.assertEqual(list(self.shell_folder(CSIDL_COMMON_DESKTOPDIRECTORY).glob("NRQ*")), [])

    def test_link_to_another_program_gives_numbered_link(self):
        source, dest, dest_win = self.setup_folders()
        self.kind5_package(source)
        desktop = self.shell_folder(CSIDL_COMMON_DESKTOPDIRECTORY)
        programs = self.shell_folder(CSIDL_COMMON_PROGRAMS)
        other = desktop / LINK_NAME
        made = self.probe_one("makelink", self.bench.prefix.win_path(other), "C:\\windows\\notepad.exe",
                              "/x", "C:\\windows\\notepad.exe", 0x0651)
        self.assertTrue(made["ok"])
        before = other.read_bytes()

        self.assertCompleteRun(self.install(source, dest_win))
        self.assertEqual(other.read_bytes(), before)
        self.assertEqual(sorted(p.name for p in desktop.glob("NRQ*")), sorted([LINK_NAME, "NRQ QUENTARO(2).LNK"]))
        numbered = self.read_link(desktop / "NRQ QUENTARO(2).LNK")
        self.assertEqual((numbered["target"], numbered["folder"]), (dest_win + "\\QUENTARO.exe", dest_win))
        # Loading the other link into the one link object leaves nothing of it in the new link.
        self.assertEqual((numbered["arguments"], numbered["icon"], numbered["hotkey"]), ("", "", 0))
        self.assertEqual(numbered["description"], LINK_DESCRIPTION)
        self.assertEqual(sorted(p.name for p in programs.glob("NRQ*")), [LINK_NAME])

    def test_link_to_the_same_program_is_rewritten_in_place(self):
        source, dest, dest_win = self.setup_folders()
        self.kind5_package(source)
        desktop = self.shell_folder(CSIDL_COMMON_DESKTOPDIRECTORY)
        # The same application path in other letter case, with properties of its own.
        made = self.probe_one("makelink", self.bench.prefix.win_path(desktop / LINK_NAME),
                              dest_win.lower() + "\\quentaro.exe", "/old", "C:\\windows\\notepad.exe", 0x0652)
        self.assertTrue(made["ok"])

        self.assertCompleteRun(self.install(source, dest_win))
        self.assertEqual(sorted(p.name for p in desktop.glob("NRQ*")), [LINK_NAME])
        link = self.read_link(desktop / LINK_NAME)
        self.assertEqual((link["target"], link["folder"], link["description"]),
                         (dest_win + "\\QUENTARO.exe", dest_win, LINK_DESCRIPTION))
        self.assertEqual((link["arguments"], link["icon"], link["hotkey"]), ("", "", 0))
        self.assertEqual(link_show_command(desktop / LINK_NAME), 5)

    def test_application_name_keeps_its_case_on_disk(self):
        source, dest, dest_win = self.setup_folders()
        make_package(source / "QUENTARO.cab", [entry("quentaro.EXE", 0, b"MZ")])
        self.assertCompleteRun(self.install(source, dest_win, kind=0))
        link = self.read_link(self.shell_folder(CSIDL_COMMON_PROGRAMS) / LINK_NAME)
        self.assertEqual(link["target"], dest_win + "\\quentaro.EXE")

    def test_missing_application_writes_no_link(self):
        source, dest, dest_win = self.setup_folders()
        make_package(source / "QUENTARO.cab", [entry("readme.txt", 0, b"text")])
        run = self.install(source, dest_win, kind=0)
        self.assertEqual(run.results(), [(step, 1) for step in ENGINE_STEPS[:-1]] + [("CreateShortcuts", 0)])
        self.assertEqual(run.code, 2)
        for csidl in (CSIDL_COMMON_DESKTOPDIRECTORY, CSIDL_COMMON_PROGRAMS):
            self.assertEqual(list(self.shell_folder(csidl).glob("NRQ*")), [])

    def test_package_locked_by_another_process_is_not_found(self):
        source, dest, dest_win = self.setup_folders()
        package = make_package(source / "QUENTARO.cab", [entry("QUENTARO.exe", 0, b"MZ")])
        self.bench.lock(package)
        try:
            run = self.install(source, dest_win)
        finally:
            self.bench.unlock(package)
        self.assertEqual(run.results(), [("CheckSignature", 0)])
        self.assertEqual(run.errors(), [MSG_NOT_FOUND])
        self.assertEqual(run.code, 1)
        self.assertEqual(list(dest.iterdir()), [])

    def test_local_time_follows_the_zone_rule_of_each_date(self):
        # The stamps are local times of the installing computer. A zone with daylight saving time:
        # winter and summer dates, the repeated hour (daylight reading) and the skipped hour
        # (read with the standard offset, which the earlier reading of the zone also gives).
        env = dict(self.bench.prefix.env(self.bench.display), TZ="Europe/Berlin")
        for stamp in ("20240102030405", "20240702030405", "20241027023000", "20240331023000",
                      "19700101010000", "20380119041407"):
            with self.subTest(stamp=stamp):
                fields = [stamp[0:4]] + [stamp[i:i + 2] for i in range(4, 14, 2)]
                answer = self.probe_one("clock", *fields, env=env)
                self.assertEqual(answer, {"ok": True, "utc": stamp_seconds(stamp, "Europe/Berlin")})
        answer = self.probe_one("clock", "2024", "1", "2", "3", "4", "5")
        self.assertEqual(answer["utc"], stamp_seconds("20240102030405"))
        self.assertEqual(self.probe_one("clock", "2023", "2", "29", "0", "0", "0")["ok"], False)

    def test_destination_folder_with_missing_parents(self):
        base = self.bench.work_folder("folders")
        (base / "plain-file").write_bytes(b"x")
        cases = [
            # path, accepted, folder that then exists
            (self.bench.prefix.win_path(base) + "\\一\\two\\three", True, base / "一" / "two" / "three"),
            (self.bench.prefix.win_path(base), True, base),
            (self.bench.prefix.win_path(base) + "\\plain-file\\sub", False, None),
            ("Q:\\nowhere\\folder", False, None),
        ]
        for path, accepted, made in cases:
            with self.subTest(path=path):
                answer = self.probe_one("folder", path)
                self.assertEqual(answer["ok"], accepted)
                if made:
                    self.assertTrue(made.is_dir())
        self.assertTrue((base / "plain-file").is_file())


class EngineOnSmallDrive(EngineCase):
    """A drive D: of 1 MiB: its free space as the destination page reads it, and a full disk."""

    PREFIX = "win7"

    def setUp(self):
        super().setUp()
        self.mount = Path(tempfile.mkdtemp(prefix="small-drive."))
        r = subprocess.run(["mount", "-t", "tmpfs", "-o", "size=1m", "tmpfs", str(self.mount)],
                           capture_output=True, text=True)
        if r.returncode != 0:
            self.mount.rmdir()
            self.skipTest(f"cannot mount a small drive here: {r.stderr.strip()}")
        self.link = self.bench.prefix.dir / "dosdevices" / "d:"
        self.link.symlink_to(self.mount)
        self.addCleanup(self.remove_drive)

    def remove_drive(self):
        self.link.unlink()
        subprocess.run(["umount", str(self.mount)], check=False)
        self.mount.rmdir()

    def test_free_space_and_full_disk(self):
        answer = self.probe_one("free", "D:\\")
        self.assertEqual(answer, {"ok": True, "bytes": os.statvfs(self.mount).f_bfree * os.statvfs(self.mount).f_frsize})
        self.assertEqual(self.probe_one("free", "Q:\\")["ok"], False)

        source = self.bench.work_folder("source")
        make_package(source / "QUENTARO.cab", [entry("QUENTARO.exe", 0, b"MZ"),
                                                entry("big.dat", 0, pattern(2 * 1024 * 1024, 9))])
        run = self.install(source, "D:\\", kind=2)
        self.assertEqual(run.results()[-1], ("ExtractFiles", 0))
        self.assertEqual(run.errors(), [MSG_DISK_FULL])
        self.assertEqual(run.code, 1)


class EngineOnVista(EngineCase):
    """PlatformKind 3 (32-bit Vista): Target 3 files go to the system folder without their prefix;
    the driver installer never runs."""

    PREFIX = "vista"

    def test_prefix_dropped_for_system_folder_and_no_driver(self):
        source, dest, dest_win = self.setup_folders()
        system = self.bench.prefix.drive_c / "windows" / "system32"
        entries = [
            entry("QUENTARO.exe", 0, pattern(300, 1), "20240102030405"),
            entry("Quentaro.inf", 0, b"[Version]\r\n", "20080401120000"),
            entry("QuentaroDriver32setup.exe", 0, STANDIN_EXE.read_bytes(), "20080401120000"),
            entry("QU%xquentaro.sys", 3, pattern(40000, 3), "20100505050505"),
            entry("plainvista.dll", 3, pattern(10, 4), "20100505050506"),
            entry("SY%5win7only.dll", 5, pattern(100, 5), "20110606060606"),
        ]
        make_package(source / "QUENTARO.cab", entries)
        self.assertEqual(self.probe_one("platform")["kind"], 3)

        run = self.install(source, dest_win)
        self.assertCompleteRun(run)
        self.assertFileWritten(system / "quentaro.sys", entries[3]["data"], entries[3]["time"])
        self.assertFileWritten(system / "plainvista.dll", entries[4]["data"], entries[4]["time"])
        self.assertFalse((dest / "QU%xquentaro.sys").exists())
        self.assertFalse((system / "QU%xquentaro.sys").exists())
        for folder in (dest, system):
            self.assertFalse((folder / "win7only.dll").exists())
            self.assertFalse((folder / "SY%5win7only.dll").exists())
        self.assertEqual(sorted(p.name for p in dest.iterdir()),
                         sorted(["QUENTARO.exe", "Quentaro.inf", "QuentaroDriver32setup.exe"]))
        self.assertEqual(run.log(), "".join(f'\nCreate "{n}"...' for n in (
            "QUENTARO.exe", "Quentaro.inf", "QuentaroDriver32setup.exe", "quentaro.sys", "plainvista.dll")))
        # System-folder bytes advance the progress too, past 100 by the formula for this package;
        # the bar is never given more than 100.
        total = sum(len(e["data"]) for e in entries if e["target"] == 0)
        system_bytes = sum(len(e["data"]) for e in entries if e["target"] == 3)
        self.assertGreater(100 + 50 * system_bytes // total, 100)
        self.assertEqual(max(run.progress()), 100)
        self.assertEqual(run.progress()[-1], 100)

    def test_driver_runs_only_on_kind_5(self):
        source, dest, dest_win = self.setup_folders()
        make_package(source / "QUENTARO.cab", [
            entry("QUENTARO.exe", 0, b"MZ"),
            entry("QuentaroDriver32setup.exe", 0, STANDIN_EXE.read_bytes()),
            entry("xponly.dll", 2, b"x"),
        ])
        for kind in (-1, 0, 1, 2, 3, 4):
            with self.subTest(kind=kind):
                run = self.install(source, dest_win, kind=kind)
                self.assertEqual(run.results()[:4], [(step, 1) for step in ENGINE_STEPS[:4]])
                self.assertFalse((dest / RECORD_NAME).exists())
        # Kind 5, given explicitly on this Vista: after the last entry, also when that entry is not
        # written.
        run = self.install(source, dest_win, kind=5)
        self.assertCompleteRun(run)
        self.assertEqual((dest / RECORD_NAME).read_text(encoding="utf-8").splitlines(),
                         [f"Quentaro.inf\t{dest_win}"])


class PlatformKindOfEachPrefix(unittest.TestCase):
    """GetVersionExW and IsWow64Process as each class of Windows reports them."""

    EXPECTED = {"win64": 4, "win2k": 1, "winxp": 2, "vista": 3, "win7": 5}

    def test_every_prefix(self):
        wine.require_wine()
        wine.require_artifacts(PROBE_EXE)
        for kind, platform_kind in self.EXPECTED.items():
            with self.subTest(kind=kind):
                if platform_kind == 4:
                    wine.require_wine(needs_wow64=True)
                prefix = wine.Prefix(kind, "engine-platform")
                try:
                    run = run_probe(prefix, ["platform"], prefix.drive_c)
                finally:
                    prefix.kill_server()
                    prefix.remove()
                self.assertEqual(run.code, 0)
                self.assertEqual(run.lines[0]["kind"], platform_kind, run.lines)
                self.assertEqual(run.lines[0]["wow64"], 1 if kind == "win64" else 0)


if __name__ == "__main__":
    unittest.main()
