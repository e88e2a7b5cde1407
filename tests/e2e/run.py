"""Runs one scenario file as one CTest test and records what ran where.

    python3 run.py test_startup

Exit codes: 0 when every test that ran passed, 1 when one failed (or when the file ran no test
at all), 77 when every test of the file was skipped (CTest reports the file as skipped, with the
reasons on one line). A record of the run (which build, which classes of Windows, what was
skipped and why) goes to QUENTARO_E2E_RECORDS (default build/native/e2e-records) for the
summary that ./build.sh test prints at its end (summary.py).
"""

import importlib
import json
import os
import sys
import unittest
from pathlib import Path

SKIPPED_WHOLE = 77


def _test_name(test):
    """The test's id, with a subtest's parameters; for a class skipped in setUpClass, the class."""
    description = getattr(test, "description", None)  # unittest's holder for setUpClass errors
    if description:
        return description.replace("setUpClass (", "").rstrip(")")
    return test.id()


def main(argv):
    if len(argv) != 2:
        print(__doc__, file=sys.stderr)
        return 2
    name = argv[1]
    sys.path.insert(0, str(Path(__file__).resolve().parent))
    import wine

    module = importlib.import_module(name)
    suite = unittest.defaultTestLoader.loadTestsFromModule(module)
    result = unittest.TextTestRunner(verbosity=2, stream=sys.stderr).run(suite)

    skipped = [(_test_name(test), reason) for test, reason in result.skipped]
    # Tests that ran to their end without being skipped as a whole (a test some of whose subtests
    # were skipped did run). Class-level skips are not counted in testsRun.
    whole_skips = sum(1 for test, _ in result.skipped if isinstance(test, unittest.TestCase)
                      and not isinstance(test, unittest.case._SubTest))
    ran = result.testsRun - whole_skips
    record = {
        "file": f"e2e.{name}",
        "bits": wine.PLAN.bits,
        "build": wine.PLAN.describe(),
        "setup": str(wine.SETUP_EXE) if wine.PLAN.bits else None,
        "prefixes": sorted(wine.USED_KINDS),
        "ran": ran,
        "failed": len(result.failures) + len(result.errors) + len(result.unexpectedSuccesses),
        "skipped": skipped,
    }
    records = wine.RECORD_DIR
    records.mkdir(parents=True, exist_ok=True)
    tmp = records / f".{name}.{os.getpid()}"
    tmp.write_text(json.dumps(record, ensure_ascii=False, indent=1), encoding="utf-8")
    os.replace(tmp, records / f"{name}.json")

    if not result.wasSuccessful():
        return 1
    if ran == 0 and skipped:
        reasons = sorted({reason for _, reason in skipped})
        print(f"e2e.{name} skipped: " + "; ".join(reasons))
        return SKIPPED_WHOLE
    if ran == 0:
        print(f"e2e.{name} ran no test", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
