#!/usr/bin/env bash
# Configures and builds into ./build (Ninja, RelWithDebInfo). Used by test.sh and run.sh.
# TARGETS (default: all) names what to build; DRAVELIN_SANITIZE=1 configures the sanitizer build.
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR=${BUILD_DIR:-build}
if [ ! -f "$BUILD_DIR/build.ninja" ]; then
  cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DDRAVELIN_SANITIZE="$([ "${DRAVELIN_SANITIZE:-0}" = 1 ] && echo ON || echo OFF)" >/dev/null
fi
# shellcheck disable=SC2086
cmake --build "$BUILD_DIR" -j"$(nproc)" ${TARGETS:+--target $TARGETS}
