#!/usr/bin/env bash
# Installs what is missing, builds, and scans PATH (default: the generated sample data).
set -euo pipefail
cd "$(dirname "$0")"
./scripts/install-deps.sh >&2
./scripts/build.sh >&2
BUILD_DIR=${BUILD_DIR:-build}
if [ $# -eq 0 ]; then
  set -- "$BUILD_DIR/sample-data"
fi
exec "$BUILD_DIR/dravelin-dicom" scan "$@"
