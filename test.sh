#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test; then the parsing, decoding and writing
# suites again under AddressSanitizer and UndefinedBehaviorSanitizer (build-asan); then each fuzz
# target for a few seconds.
set -euo pipefail
cd "$(dirname "$0")"
./scripts/install-deps.sh
./scripts/build.sh
BUILD_DIR=${BUILD_DIR:-build}
export QT_QPA_PLATFORM=offscreen
ctest --test-dir "$BUILD_DIR" -j"$(nproc)" --output-on-failure
# Leaks are not failures here: Qt and DCMTK keep process-lifetime singletons.
export ASAN_OPTIONS=detect_leaks=0:abort_on_error=1:strict_string_checks=1
export UBSAN_OPTIONS=print_stacktrace=1
BUILD_DIR=build-asan DRAVELIN_SANITIZE=1 TARGETS=sanitized_tests ./scripts/build.sh
ctest --test-dir build-asan -j"$(nproc)" --output-on-failure
# Nine targets, six seconds each: enough to replay the seed corpus and catch regressions.
fuzz/run.sh 6
