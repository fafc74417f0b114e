#!/usr/bin/env bash
# Builds the fuzz targets into build-fuzz (clang, ASan + UBSan) and runs each for SECONDS
# (default 6). Inputs that crash are kept in build-fuzz/artifacts; the run then fails.
# Usage: fuzz/run.sh [SECONDS] [TARGET...]   (targets: header_parser raw_header dataset_cache
# json_reader multipart dicomdir pixel_decoder volume_reader rt_structure; default all)
set -euo pipefail
cd "$(dirname "$0")/.."
SECONDS_PER_TARGET=${1:-6}
shift || true
TARGETS=("$@")
if [ ${#TARGETS[@]} -eq 0 ]; then
  TARGETS=(header_parser raw_header dataset_cache json_reader multipart dicomdir pixel_decoder volume_reader rt_structure)
fi
BUILD=${FUZZ_BUILD_DIR:-build-fuzz}
if [ ! -f "$BUILD/build.ninja" ]; then
  cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DDRAVELIN_FUZZ=ON \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ >/dev/null
fi
# Quiet unless it fails: then the compiler's messages (ninja prints them on stdout).
cmake --build "$BUILD" -j"$(nproc)" >"$BUILD/build.log" 2>&1 || { tail -n 40 "$BUILD/build.log" >&2; exit 1; }
python3 fuzz/make-seeds.py "$BUILD/seeds"
mkdir -p "$BUILD/artifacts"
# Qt and DCMTK leak a little on purpose (caches held until exit): leaks are not findings here.
export ASAN_OPTIONS=detect_leaks=0:allocator_may_return_null=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
declare -A SEEDS=([header_parser]=header [raw_header]=header [dataset_cache]=cache [json_reader]=json [multipart]=multipart
                  [dicomdir]=dicomdir [pixel_decoder]=pixels [volume_reader]=volume [rt_structure]=rtstruct)
for target in "${TARGETS[@]}"; do
  corpus="$BUILD/corpus/$target"
  mkdir -p "$corpus"
  echo "fuzz_$target: ${SECONDS_PER_TARGET}s" >&2
  "$BUILD/fuzz_$target" "$corpus" "$BUILD/seeds/${SEEDS[$target]}" -max_total_time="$SECONDS_PER_TARGET" \
    -timeout=20 -rss_limit_mb=4096 -max_len=262144 -print_final_stats=1 \
    -artifact_prefix="$BUILD/artifacts/$target-" 2>"$BUILD/$target.log" ||
    { tail -n 60 "$BUILD/$target.log" >&2; echo "fuzz_$target found a crash (see $BUILD/artifacts)" >&2; exit 1; }
  grep -E "stat::number_of_executed_units" "$BUILD/$target.log" >&2 || true
done
