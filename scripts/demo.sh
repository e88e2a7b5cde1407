#!/usr/bin/env bash
# The demo: builds a package with the package tool and runs the wizard on it under Wine, in the
# bench's 64-bit prefix (a copy kept in build/native/wine/demo). With a DISPLAY the wizard opens
# there for you to click through; without one it runs on Xvfb, the driver walks the pages and a
# screenshot of each page goes to build/demo-screenshots/. Run ./build.sh demo (it builds first).
set -euo pipefail
cd "$(dirname "$0")/.."
exec /usr/bin/python3 tests/e2e/demo.py "$@"
