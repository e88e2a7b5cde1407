"""The end of ./build.sh test: what the end-to-end scenarios ran against on this machine, on which
classes of Windows, and what was skipped and why (from the records that run.py writes).

    python3 summary.py [RECORD_DIR]
"""

import json
import sys
from pathlib import Path

import machine

REPO = Path(__file__).resolve().parents[2]


def main(argv):
    records_dir = Path(argv[1]) if len(argv) > 1 else REPO / "build" / "native" / "e2e-records"
    records = []
    for path in sorted(records_dir.glob("test_*.json")):
        try:
            records.append(json.loads(path.read_text(encoding="utf-8")))
        except (OSError, ValueError):
            print(f"  unreadable record {path}")
    print("End-to-end summary")
    if not records:
        print("  no scenario file recorded a run")
        return 0
    builds = sorted({r["build"] for r in records})
    print("  ran against: " + " | ".join(builds))
    setups = sorted({r["setup"] for r in records if r["setup"]})
    for setup in setups:
        print(f"  program: {setup}")
    prefixes = sorted({p for r in records for p in r["prefixes"]})
    print("  classes of Windows (prefixes): " + (", ".join(prefixes) if prefixes else "none"))
    whole = [r["file"] for r in records if r["ran"] == 0 and r["skipped"]]
    partial = [r for r in records if r["ran"] > 0]
    failed = [r["file"] for r in records if r["failed"]]
    print(f"  scenario files: {len(partial)} ran, {len(whole)} skipped whole, {len(failed)} with failures")
    if whole:
        print("  skipped whole: " + ", ".join(whole))
    if failed:
        print("  with failures: " + ", ".join(failed))
    by_reason = {}
    for r in records:
        for test, reason in r["skipped"]:
            by_reason.setdefault(reason, []).append(test)
    if not by_reason:
        print("  skipped: nothing")
    for reason, tests in sorted(by_reason.items()):
        print(f"  skipped ({len(tests)}): {reason}")
        for test in sorted(tests):
            print(f"    {test}")
    if any(r["bits"] == 64 for r in records):
        print(f"  note: the product itself (32-bit) was not run here; {machine.FORCE_64_ENV}=1 "
              "forces this path, the product runs where 32-bit code runs")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
