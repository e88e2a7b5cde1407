"""Packages ("QUENTARO.cab") for the scenarios: built by the package tool from entries, or byte by
byte (for what the tool refuses to build, and multi-gigabyte sparse ones), read and patched in
place, sealed with their check value.

The one description here of the package's layout (core/package.h) and of its check value, the
CRC-16/X-25 of everything before the last two bytes, low byte first.
"""

import shutil
import struct
import subprocess
import tempfile
from datetime import datetime
from pathlib import Path
from zoneinfo import ZoneInfo

import wine

# ---------------------------------------------------------------------------------------------
# Layout

SIGNATURE, VERSION = b"KJ47", b"V1.0"
HEADER_SIZE, RECORD_SIZE, CHECK_VALUE_SIZE = 32, 64, 2
SIGNATURE_AT, VERSION_AT, ENTRY_COUNT_AT = 0, 16, 24
# Fields of an entry record, from its start.
NAME_AT, NAME_SIZE = 0, 32
TIME_AT, TIME_SIZE = 32, 16
DATA_OFFSET_AT, DATA_SIZE_AT, TARGET_AT = 48, 52, 56


def record_at(index):
    """Where entry record `index` starts."""
    return HEADER_SIZE + RECORD_SIZE * index


def fixed(value, size, encoding):
    """A text field: bytes as they are or text encoded, padded with zero bytes and cut to `size`."""
    raw = value if isinstance(value, bytes) else value.encode(encoding)
    return raw.ljust(size, b"\0")[:size]


def header(count, signature=SIGNATURE, version=VERSION):
    data = bytearray(HEADER_SIZE)
    data[SIGNATURE_AT:SIGNATURE_AT + 4] = fixed(signature, 4, "ascii")
    data[VERSION_AT:VERSION_AT + 4] = fixed(version, 4, "ascii")
    struct.pack_into("<I", data, ENTRY_COUNT_AT, count)
    return bytes(data)


def record(name, stamp, offset, size, target, codepage="cp932"):
    """One entry record: the name in the code page (or bytes), the 14-digit time stamp, where the
    data is, how long it is and for which platform (a 32-bit field; the setup reads its low byte)."""
    data = bytearray(RECORD_SIZE)
    data[NAME_AT:NAME_AT + NAME_SIZE] = fixed(name, NAME_SIZE, codepage)
    data[TIME_AT:TIME_AT + TIME_SIZE] = fixed(stamp, TIME_SIZE, "ascii")
    struct.pack_into("<III", data, DATA_OFFSET_AT, offset, size, target)
    return bytes(data)


def package_body(entries, data=b"", signature=SIGNATURE, version=VERSION, codepage="cp932"):
    """Header and entry table (entries: (name, time, offset, size, target)) followed by `data`:
    everything but the check value."""
    table = b"".join(record(name, stamp, offset, size, target, codepage)
                     for name, stamp, offset, size, target in entries)
    return header(len(entries), signature, version) + table + data


def entry(name, target=0, data=b"", time="20240102030405"):
    """An entry of a package to build: with make_package or raw_package."""
    return {"name": name, "target": target, "data": data, "time": time}


def raw_package(entries, signature=SIGNATURE, version=VERSION, codepage="cp932"):
    """A package byte by byte, for what the package tool refuses to build (hostile names, other
    signatures and versions). entries: dicts with "name" (text or bytes), "time", "target",
    "data", laid out one after the other after the table. The check value is right."""
    offset = HEADER_SIZE + RECORD_SIZE * len(entries)
    table, data = [], b""
    for e in entries:
        table.append((e["name"], e["time"], offset + len(data), len(e["data"]), e["target"]))
        data += e["data"]
    return seal(package_body(table, data, signature, version, codepage))


def stamp_seconds(stamp, zone=wine.TIME_ZONE):
    """UTC seconds of a 14-digit local time stamp of the installing computer (the earlier reading
    when the local time occurs twice)."""
    fields = [int(stamp[0:4])] + [int(stamp[i:i + 2]) for i in range(4, 14, 2)]
    return int(datetime(*fields, tzinfo=ZoneInfo(zone)).timestamp())


# ---------------------------------------------------------------------------------------------
# Check value: CRC-16/X-25, table-driven, and over long runs of zero bytes without reading them


def _table():
    table = []
    for i in range(256):
        r = i
        for _ in range(8):
            r = (r >> 1) ^ 0x8408 if r & 1 else r >> 1
        table.append(r)
    return table


CRC_TABLE = _table()
# The register after a package with a right check value: the residue of CRC-16/X-25.
RESIDUE = 0xF0B8


def crc_register(data, r=0xFFFF):
    """The CRC-16/X-25 register after `data` (no final complement)."""
    t = CRC_TABLE
    for b in data:
        r = t[(r ^ b) & 0xFF] ^ (r >> 8)
    return r


def _apply(matrix, r):
    out = 0
    bit = 0
    while r:
        if r & 1:
            out ^= matrix[bit]
        r >>= 1
        bit += 1
    return out


def crc_zeros(r, count):
    """The register after `count` zero bytes: one zero byte is a linear map of the register, so
    `count` of them are that map raised to `count`, by repeated squaring."""
    step = [crc_register(b"\0", 1 << i) for i in range(16)]
    while count:
        if count & 1:
            r = _apply(step, r)
        step = [_apply(step, column) for column in step]
        count >>= 1
    return r


def check_value(r):
    """The check value that ends a package whose bytes before it leave the register at `r`."""
    return struct.pack("<H", r ^ 0xFFFF)


def seal(body):
    """The bytes followed by their check value."""
    return bytes(body) + check_value(crc_register(body))


def is_sealed(package):
    return len(package) >= CHECK_VALUE_SIZE and crc_register(package) == RESIDUE


def damaged_at_end(package):
    """The package with its last byte changed: only the check value is wrong."""
    return package[:-1] + bytes([package[-1] ^ 0x5A])


def write_sparse_package(path, head, length):
    """A package of `length` bytes: `head`, zero bytes (a hole in the file, taking no disk space)
    and the check value over both, in the last two bytes."""
    r = crc_zeros(crc_register(head), length - CHECK_VALUE_SIZE - len(head))
    with open(path, "wb") as f:
        f.write(head)
        f.truncate(length - CHECK_VALUE_SIZE)
        f.seek(length - CHECK_VALUE_SIZE)
        f.write(check_value(r))
    return path


# ---------------------------------------------------------------------------------------------
# A package read and patched in place


class Package:
    """A package as bytes, with its entry records read and patched in place."""

    def __init__(self, data):
        self.data = bytearray(data)

    @classmethod
    def build(cls, folder, entries):
        """Built by the package tool from entry() dicts."""
        path = Path(folder) / "tool.cab"
        make_package(path, entries)
        data = path.read_bytes()
        path.unlink()
        return cls(data)

    @property
    def entry_count(self):
        return struct.unpack_from("<I", self.data, ENTRY_COUNT_AT)[0]

    @entry_count.setter
    def entry_count(self, value):
        struct.pack_into("<I", self.data, ENTRY_COUNT_AT, value)

    def entry(self, i):
        at = record_at(i)
        offset, size = struct.unpack_from("<II", self.data, at + DATA_OFFSET_AT)
        return {"name": bytes(self.data[at + NAME_AT:at + NAME_AT + NAME_SIZE]).split(b"\0", 1)[0],
                "time": bytes(self.data[at + TIME_AT:at + TIME_AT + TIME_SIZE]),
                "offset": offset, "size": size, "target": self.data[at + TARGET_AT]}

    def entry_data(self, i):
        e = self.entry(i)
        return bytes(self.data[e["offset"]:e["offset"] + e["size"]])

    def patch(self, i, name=None, time=None, offset=None, size=None, target=None):
        at = record_at(i)
        if name is not None:
            self.data[at + NAME_AT:at + NAME_AT + NAME_SIZE] = fixed(name, NAME_SIZE, "cp932")
        if time is not None:
            self.data[at + TIME_AT:at + TIME_AT + TIME_SIZE] = fixed(time, TIME_SIZE, "ascii")
        if offset is not None:
            struct.pack_into("<I", self.data, at + DATA_OFFSET_AT, offset)
        if size is not None:
            struct.pack_into("<I", self.data, at + DATA_SIZE_AT, size)
        if target is not None:
            self.data[at + TARGET_AT] = target
        return self

    def sealed(self):
        """The bytes with the check value computed again over everything before it."""
        return seal(self.data[:-CHECK_VALUE_SIZE])

    def cut(self, length, reseal):
        """The first `length` bytes; with `reseal`, followed by a check value that is right for them
        (a package cut short and sealed again passes the check value test)."""
        body = bytes(self.data[:length])
        return seal(body) if reseal else body


# ---------------------------------------------------------------------------------------------
# The package tool


def make_package(path, entries, codepage=932, tool=None):
    """Builds a package with the package tool.

    entries: dicts with "name" (text), "time" (14 digits), "target" (0-5) and either "data"
    (bytes) or "source" (a host path).
    """
    tool = Path(tool or wine.PACK_TOOL)
    wine.require_artifacts(tool)
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
            raise wine.BenchError(f"package tool failed ({r.returncode}): {r.stderr}")
    finally:
        shutil.rmtree(work, ignore_errors=True)
    return path


def format_manifest(lines):
    """Manifest text for the package tool (tools/README.md): one entry per line, TAB-separated
    key=value fields."""
    return "".join(f"name={name}\ttime={stamp}\ttarget={target}\tsource={src}\n"
                   for name, stamp, target, src in lines)
