#!/usr/bin/env bash
# Installs what is missing, builds, and opens the application on PATH (default: the generated
# sample data). Without a display it says so and prints the command-line scan of PATH instead.
set -euo pipefail
cd "$(dirname "$0")"
./scripts/install-deps.sh >&2
# Only what the application and the tool need; the tests and benchmarks are test.sh's business.
TARGETS="dravelin dravelin-dicom sample-data" ./scripts/build.sh >&2
BUILD_DIR=${BUILD_DIR:-build}
if [ $# -eq 0 ]; then
  set -- "$BUILD_DIR/sample-data"
fi
if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
  exec "$BUILD_DIR/dravelin" "$@"
fi
echo "run.sh: no display (DISPLAY and WAYLAND_DISPLAY are unset); printing the scan of $* instead of opening the application" >&2
exec "$BUILD_DIR/dravelin-dicom" scan "$@"
