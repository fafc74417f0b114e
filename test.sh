#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test, then each fuzz target for a few seconds.
set -euo pipefail
cd "$(dirname "$0")"
./scripts/install-deps.sh
./scripts/build.sh
BUILD_DIR=${BUILD_DIR:-build}
export QT_QPA_PLATFORM=offscreen
ctest --test-dir "$BUILD_DIR" -j"$(nproc)" --output-on-failure
# Six targets, six seconds each: enough to replay the seed corpus and catch regressions.
fuzz/run.sh 6
