"""Load: two setups started at once (ten times in a row), a second installation over a finished
one, a package of 10,000 entries and one with an entry of 1 GiB, through the real setup on 64-bit
Windows (platform kind 4).
"""

import hashlib
import os
import time
import unittest

import install_wizard as iw
import packages
import reliability as rel
import ui
from install_wizard import pattern
from packages import entry

STAMP = "20240102030405"
DESTINATION = "C:\\QUENTARO load"
EXIT_ALREADY_RUNNING = 3  # another copy was running


def sha256(path):
    h = hashlib.sha256()
    with open(path, "rb") as f:
        while True:
            block = f.read(1 << 22)
            if not block:
                return h.hexdigest()
            h.update(block)


class Load(rel.ReliabilityCase):
    PREFIX = "win64"
    NEEDS_WOW64 = True
    RECORD = ("load", "Load (64-bit Windows 7, platform kind 4)", 3)

    def record(self, name, tried, did, disk, check):
        passed = False
        try:
            check()
            passed = True
        finally:
            self.recorder.add(name, tried, did, disk, passed)

    def test_two_setups_started_at_once(self):
        self.write_package([entry("QUENTARO.exe", 0, pattern(2000, 1), STAMP)])
        exe = self.bench.copy_setup(self.source)
        rounds = []
        for _ in range(10):
            first, second = self.bench.start(exe, self.source), self.bench.start(exe, self.source)
            # The one that ends at once is watched from its start: every top-level window it has
            # meanwhile is reported.
            loser, winner, watched = None, None, None
            # Mostly the second to start finds the first's mutex; either may, and the one that does
            # ends within a second or so.
            for candidate, other in ((second, first), (first, second)):
                r = self.bench.driver.call("watch-exit", candidate.pid, 3000, timeout=30, check=False)
                if r.get("ok"):
                    loser, winner, watched = candidate, other, r
                    break
            sheet = winner.wait_sheet() if winner else None
            running = [p for p in (first, second) if p.exit_code() is None]
            rounds.append({"loser_code": watched and watched["code"], "loser_windows": watched and watched["windows"],
                           "running": len(running), "sheet": sheet is not None, "first_ran": winner is first})
            if sheet:
                sheet.click(ui.ID_CANCEL)
                box = winner.wait_msgbox()
                box.click(ui.IDYES)
                rounds[-1]["winner_code"] = winner.wait_exit()
            self.bench.end_processes()

        def check():
            for i, r in enumerate(rounds):
                self.assertEqual(r["loser_code"], EXIT_ALREADY_RUNNING, f"round {i}: {r}")
                self.assertEqual(r["loser_windows"], [], f"round {i}: the second copy showed a window")
                self.assertEqual((r["running"], r["sheet"], r.get("winner_code")), (1, True, iw.EXIT_CANCELLED),
                                 f"round {i}")
        codes = sorted({r["loser_code"] for r in rounds if r["loser_code"] is not None})
        first_ran = sum(1 for r in rounds if r["first_ran"])
        self.record("two setups at once", "two copies of the setup started together (the second within a few "
                    "milliseconds), ten times in a row", f"each time one copy ran the wizard (cancelled, exit 2) and "
                    f"the other ended with exit {codes} and no window (the first started ran {first_ran} times of "
                    f"{len(rounds)})", "nothing written", check)

    def snapshot(self):
        """The installed files and links: {area/name: (bytes hash, size, mtime)}, and the links read back."""
        dest = self.bench.prefix.host_path(DESTINATION)
        out = {}
        for area, folder in (("destination", dest), ("system", self.system_folder)):
            for path in sorted(folder.iterdir()) if area == "destination" else [self.system_folder / "wow64only.dll"]:
                st = path.stat()
                out[f"{area}/{path.name}"] = (hashlib.sha256(path.read_bytes()).hexdigest(), st.st_size, st.st_mtime_ns)
        links = {}
        for folder in self.link_folders():
            for link in sorted(folder.glob("NRQ*")):
                read = self.read_link(link)
                links[str(link.relative_to(self.bench.prefix.drive_c))] = (read["target"], read["folder"],
                                                                           read["description"])
        return out, links

    def test_second_install_over_a_finished_one(self):
        self.write_package([entry("QUENTARO.exe", 0, pattern(2000, 1), STAMP),
                            entry("data.dat", 0, pattern(5000, 2), "20200101000000"),
                            entry("64%4wow64only.dll", 4, pattern(300, 3), STAMP)])
        first = self.run_install(DESTINATION)
        files_first, links_first = self.snapshot()
        second = self.run_install(DESTINATION)
        files_second, links_second = self.snapshot()

        def check():
            self.assertEqual((first["code"], second["code"]), (iw.EXIT_FINISHED, iw.EXIT_FINISHED))
            self.assertEqual(files_second, files_first)
            self.assertEqual(links_second, links_first)
            self.assertEqual(len(links_first), 2)
            self.assertLinks(DESTINATION)
        self.record("second install over a finished one", "the same package installed twice into the same folder",
                    "both finished (exit 0); the second wrote the same files with the same times and rewrote the two "
                    "links in place", f"{len(files_first)} files and {len(links_first)} links, the same after both "
                    "runs: " + ", ".join(sorted(links_first)), check)

    def test_ten_thousand_entries(self):
        count = 10_000
        entries = [entry(f"f{i:05d}.dat", 0, pattern(16 + i % 97, i), STAMP) for i in range(count)]
        entries[0] = entry("QUENTARO.exe", 0, pattern(2000, 1), STAMP)
        self.write_package(entries)
        started = time.monotonic()
        result = self.run_install(DESTINATION, timeout=900)
        seconds = time.monotonic() - started
        dest = self.bench.prefix.host_path(DESTINATION)

        def check():
            self.assertEqual((result["message"], result["code"]), (None, iw.EXIT_FINISHED))
            self.assertEqual(len(result["log"]), 1 + count + 2)
            self.assertEqual(result["log"][-1], iw.LOG_DONE)
            self.assertEqual(sorted(os.listdir(dest)), sorted(e["name"] for e in entries))
            for e in entries:
                self.assertEqual((dest / e["name"]).read_bytes(), e["data"], e["name"])
            self.assertLinks(DESTINATION)
        total = sum(len(e["data"]) for e in entries)
        self.record("10,000 entries", f"a package of {count:,} entries ({total:,} bytes of data)",
                    f"installed in {seconds:.0f} s including the walk; Finish, exit {result['code']}",
                    f"destination: {count:,} files, each with its bytes; the two links", check)

    def test_one_gibibyte_entry(self):
        size = rel.GIB
        source_file = self.source / "big.source"
        # A sparse source with distinct marks every 64 MiB and at its end: misplaced or lost blocks
        # change the hash.
        with open(source_file, "wb") as f:
            f.truncate(size)
            for mark in range(0, size, 64 << 20):
                f.seek(mark)
                f.write(pattern(4096, mark >> 20))
            f.seek(size - 4096)
            f.write(pattern(4096, 255))
        expected = sha256(source_file)
        self.write_package([entry("QUENTARO.exe", 0, pattern(2000, 1), STAMP),
                            {"name": "big.dat", "target": 0, "time": STAMP, "source": str(source_file)}])
        source_file.unlink()
        started = time.monotonic()
        result = self.run_install(DESTINATION, timeout=900)
        seconds = time.monotonic() - started
        big = self.bench.prefix.host_path(DESTINATION) / "big.dat"
        size_seen = big.stat().st_size if big.exists() else None
        digest = sha256(big) if big.exists() else None

        def check():
            self.assertEqual((result["message"], result["code"]), (None, iw.EXIT_FINISHED))
            self.assertEqual(size_seen, size)
            self.assertEqual(digest, expected)
            self.assertEqual(os.stat(big).st_mtime, packages.stamp_seconds(STAMP))
            self.assertLinks(DESTINATION)
        self.record("1 GiB entry", "a package whose big.dat has 1,073,741,824 bytes (marks every 64 MiB)",
                    f"installed in {seconds:.0f} s including the walk; Finish, exit {result['code']}",
                    f"destination: big.dat of {size_seen:,} B, SHA-256 equal to the source's; QUENTARO.exe; the two "
                    "links", check)


if __name__ == "__main__":
    unittest.main()
