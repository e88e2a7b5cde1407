"""Hostile and broken packages through the real setup, on 64-bit Windows (platform kind 4).

Every case starts from one package built by the package tool (an application, a data file and a
file for the system folder), patches its bytes and, where the case needs a right check value,
seals it again. The wizard is walked to the install page with a destination folder; the case's
message and exit code are checked, and drive C: is listed before and after: a rejected package
writes nothing at all (the destination folder that the destination page creates stays empty), an
accepted one writes exactly its files into the destination and system folders and the two
shortcuts, and nothing else changes anywhere.
"""

import unittest

import install_wizard as iw
import packages
import reliability as rel
from install_wizard import pattern
from packages import entry

DESTINATION = "C:\\QUENTARO reliability"
STAMP = "20240102030405"

EXE, DATA, DLL = 0, 1, 2  # entries of the base package


def base_entries():
    return [entry("QUENTARO.exe", 0, pattern(2000, 1), STAMP), entry("data.dat", 0, pattern(5000, 2), STAMP),
            entry("64%4wow64only.dll", 4, pattern(300, 3), STAMP)]


def cut_inside(region):
    """Offsets inside each region of the base package."""
    return {"header": 20, "table": 32 + 64 + 20, "data": 32 + 3 * 64 + 2000 + 1000}[region]


def names_case(name):
    return lambda p: p.patch(DATA, name=name).sealed()


def time_case(stamp, index=DATA):
    return lambda p: p.patch(index, time=stamp).sealed()


def residue_broken(data):
    assert not packages.is_sealed(data), "the case needs a package whose check value is wrong"
    return data


# name, what was tried, the package (a function of the base Package giving bytes, or a function of
# (scenario, path) that writes the file itself), and the expected outcome: a message (the package is
# rejected before anything is written) or None (installed, files as the package describes them).
CASES = [
    ("cut in the header", "the package cut to 20 bytes (inside the header)",
     lambda p: residue_broken(p.cut(20, False)), iw.MSG_DAMAGED),
    ("cut in the header, sealed", "cut inside the header, a right check value added (28 bytes in all)",
     lambda p: p.cut(26, True), iw.MSG_DAMAGED),
    ("cut in the entry table", "cut inside the second entry record",
     lambda p: residue_broken(p.cut(cut_inside("table"), False)), iw.MSG_DAMAGED),
    ("cut in the entry table, sealed", "cut inside the second entry record, a right check value added",
     lambda p: p.cut(cut_inside("table"), True), iw.MSG_DAMAGED),
    ("cut in a file's data", "cut in the middle of data.dat's data",
     lambda p: residue_broken(p.cut(cut_inside("data"), False)), iw.MSG_DAMAGED),
    ("cut in a file's data, sealed", "cut in the middle of data.dat's data, a right check value added: the "
     "data of data.dat and of the DLL run past the end", lambda p: p.cut(cut_inside("data"), True), iw.MSG_DAMAGED),
    ("cut in the check value", "the last byte removed (one byte of the check value left)",
     lambda p: residue_broken(p.cut(len(p.data) - 1, False)), iw.MSG_DAMAGED),
    ("zero-byte package", "QUENTARO.cab of 0 bytes", lambda p: b"", iw.MSG_DAMAGED),
    ("EntryCount far beyond the table", "EntryCount 0x10000000 (sealed)",
     lambda p: setattr(p, "entry_count", 0x10000000) or p.sealed(), iw.MSG_DAMAGED),
    ("EntryCount 0xFFFFFFFF", "EntryCount 0xFFFFFFFF: 64 × EntryCount overflows 32 bits (sealed)",
     lambda p: setattr(p, "entry_count", 0xFFFFFFFF) or p.sealed(), iw.MSG_DAMAGED),
    ("DataSize past the end", "data.dat's DataSize 1,000,000 (sealed)",
     lambda p: p.patch(DATA, size=1_000_000).sealed(), iw.MSG_DAMAGED),
    ("DataOffset + DataSize wraps 32 bits", "data.dat at 0xFFFFFFF0 with 0x20 bytes: the 32-bit sum is 0x10",
     lambda p: p.patch(DATA, offset=0xFFFFFFF0, size=0x20).sealed(), iw.MSG_DAMAGED),
    ("data into the check value", "the DLL's data one byte longer, into the check value (sealed)",
     lambda p: p.patch(DLL, size=301).sealed(), iw.MSG_DAMAGED),
    ("overlapping data areas", "data.dat starts 1000 bytes into QUENTARO.exe's data",
     lambda p: p.patch(DATA, offset=p.entry(EXE)["offset"] + 1000).sealed(), None),
    ("shared data area", "data.dat has exactly QUENTARO.exe's data area",
     lambda p: p.patch(DATA, offset=p.entry(EXE)["offset"], size=2000).sealed(), None),
    ("name ..\\", 'data.dat named "..\\evil.txt"', names_case("..\\evil.txt"), iw.MSG_DAMAGED),
    ("name with \\", 'data.dat named "\\evil.txt"', names_case("\\evil.txt"), iw.MSG_DAMAGED),
    ("name with /", 'data.dat named "sub/evil.txt"', names_case("sub/evil.txt"), iw.MSG_DAMAGED),
    ("name with :", 'data.dat named "evil.txt:stream"', names_case("evil.txt:stream"), iw.MSG_DAMAGED),
    ("name with a drive letter", 'data.dat named "C:evil.txt"', names_case("C:evil.txt"), iw.MSG_DAMAGED),
    ("name with a full path", 'data.dat named "C:\\evil.txt"', names_case("C:\\evil.txt"), iw.MSG_DAMAGED),
    ("name .", 'data.dat named "."', names_case("."), iw.MSG_DAMAGED),
    ("name ..", 'data.dat named ".."', names_case(".."), iw.MSG_DAMAGED),
    ("empty name", "data.dat's name all zero bytes", names_case(b""), iw.MSG_DAMAGED),
    ("32-byte name", "data.dat named with 32 letters and digits, no terminator",
     names_case("ABCDEFGHIJKLMNOPQRSTUVWXYZ012345"), None),
    ("% at the end, system folder", 'the DLL named "64%4": nothing after the prefix',
     lambda p: p.patch(DLL, name="64%4").sealed(), iw.MSG_DAMAGED),
    ("% last, system folder", 'the DLL named "64%"', lambda p: p.patch(DLL, name="64%").sealed(), iw.MSG_DAMAGED),
    ("% with one character left", 'the DLL named "64%4w": the system folder gets "w"',
     lambda p: p.patch(DLL, name="64%4w").sealed(), None),
    ("% at the end, destination folder", 'data.dat named "data%": the destination uses the whole name',
     names_case("data%"), None),
    ("30 February", "data.dat's time stamp 20240230120000", time_case("20240230120000"), iw.MSG_DAMAGED),
    ("month 13", "data.dat's time stamp 20241301000000", time_case("20241301000000"), iw.MSG_DAMAGED),
    ("hour 25", "data.dat's time stamp 20240102250000", time_case("20240102250000"), iw.MSG_DAMAGED),
    ("letters for a time", "data.dat's time stamp ABCDEFGHIJKLMN", time_case("ABCDEFGHIJKLMN"), iw.MSG_DAMAGED),
    ("before 1970 UTC", "19700101085959 (Tokyo): 1969-12-31 23:59:59 UTC", time_case("19700101085959"),
     iw.MSG_DAMAGED),
    ("after 2038-01-19 03:14:07 UTC", "20380119121408 (Tokyo): one second past the range",
     time_case("20380119121408"), iw.MSG_DAMAGED),
    ("first second of the range", "19700101090000 (Tokyo): 1970-01-01 00:00:00 UTC", time_case("19700101090000"),
     None),
    ("last second of the range", "20380119121407 (Tokyo): 2038-01-19 03:14:07 UTC", time_case("20380119121407"),
     None),
    ("bad time on an entry not written", "the DLL for platform 2 (not written here) with time 20241301000000",
     lambda p: p.patch(DLL, target=2, time="20241301000000").sealed(), None),
    ("zero-length file", "data.dat with DataSize 0", lambda p: p.patch(DATA, size=0).sealed(), None),
]


def big_package(length):
    """A sparse package of `length` bytes: QUENTARO.exe (written) and big.dat for platform 2 (not
    written on this Windows), whose data runs from the end of the head up to the check value."""
    exe = pattern(2000, 1)
    head_size = 32 + 2 * 64 + len(exe)
    entries = [("QUENTARO.exe", STAMP, 32 + 2 * 64, len(exe), 0),
               ("big.dat", STAMP, head_size, length - 2 - head_size, 2)]
    return packages.package_body(entries, exe)


BIG_CASES = [
    ("2 GiB exactly", "a sparse package of 2,147,483,648 bytes with a right check value, its header describing "
     "data up to the check value", 2 * rel.GIB, iw.MSG_DAMAGED),
    ("one byte under 2 GiB", "the same package one byte shorter (2,147,483,647 bytes), the largest that is "
     "allowed: the check value is read over all of it", 2 * rel.GIB - 1, None),
]


class HostilePackages(rel.ReliabilityCase):
    PREFIX = "win64"
    NEEDS_WOW64 = True
    RECORD = ("packages", "Hostile and broken packages (64-bit Windows 7, platform kind 4)", 1)

    def expected_files(self, package):
        """What an accepted package writes: {name: (bytes, stamp)} for the destination and for the
        system folder, as its entry table describes it."""
        dest, system = {}, {}
        for i in range(package.entry_count):
            e = package.entry(i)
            name = e["name"].decode("cp932")
            stamp = e["time"][:14].decode("ascii")
            if e["target"] == 0:
                dest[name] = (package.entry_data(i), stamp)
            elif e["target"] == 4:
                system[name[name.rindex("%") + 2:] if "%" in name else name] = (package.entry_data(i), stamp)
        return dest, system

    def run_case(self, name, tried, write, message, expected=None):
        """Runs one case and records it; `expected` is (dest files, system files) when accepted."""
        self.fresh()
        write(self.source / iw.PACKAGE)
        self.bench.copy_setup(self.source)
        drive_c = self.bench.prefix.drive_c
        before = rel.listing(drive_c)
        result = self.run_install(DESTINATION)
        changes = rel.classify(rel.disk_changes(before, rel.listing(drive_c)), self.areas(DESTINATION))
        disk = rel.describe(changes)
        did = rel.outcome_text(result["message"], result["code"])
        passed = False
        try:
            self.assertEqual(changes["elsewhere"], [], "nothing written outside the setup's folders")
            self.assertEqual(changes["source"], [])
            if message is not None:
                self.assertEqual((result["message"], result["code"]), (message, iw.EXIT_FAILED))
                self.assertEqual(result["log"], [iw.LOG_FIRST])
                # Nothing at all: the destination folder made by the destination page stays empty.
                self.assertEqual([x for x in changes["destination"] if x[0] != "."], [])
                for area in ("system folder", "desktop", "programs"):
                    self.assertEqual(changes[area], [], area)
                disk = "nothing written (the destination folder, made by the destination page, is empty)"
            else:
                dest_files, system_files = expected
                self.assertEqual((result["message"], result["code"]), (None, iw.EXIT_FINISHED))
                self.assertEqual(sorted(rel for rel, _, _ in changes["destination"] if rel != "."),
                                 sorted(dest_files))
                self.assertEqual(sorted(rel for rel, _, _ in changes["system folder"]), sorted(system_files))
                dest = self.bench.prefix.host_path(DESTINATION)
                for file_name, (data, stamp) in dest_files.items():
                    self.assertFileWritten(dest / file_name, data, stamp)
                for file_name, (data, stamp) in system_files.items():
                    self.assertFileWritten(self.system_folder / file_name, data, stamp)
                self.assertLinks(DESTINATION)
                did = f"installed; Finish gave 「{iw.COMPLETED}」, exit {result['code']}"
            passed = True
        finally:
            self.recorder.add(name, tried, did, disk, passed)

    def test_hostile_and_broken_packages(self):
        base = packages.Package.build(self.source, base_entries())
        for name, tried, make, message in CASES:
            with self.subTest(case=name):
                package = packages.Package(base.data)
                data = make(package)
                expected = self.expected_files(packages.Package(data)) if message is None else None
                self.run_case(name, tried, lambda path: path.write_bytes(data), message, expected)

    def test_packages_at_the_size_limit(self):
        for name, tried, length, message in BIG_CASES:
            with self.subTest(case=name):
                head = big_package(length)
                expected = ({"QUENTARO.exe": (pattern(2000, 1), STAMP)}, {}) if message is None else None
                self.run_case(name, tried, lambda path: packages.write_sparse_package(path, head, length), message,
                              expected)


if __name__ == "__main__":
    unittest.main()
