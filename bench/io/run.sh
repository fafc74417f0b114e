#!/usr/bin/env bash
# DICOM IO benchmark, every tool measured in the same run, in interleaved rounds, warm cache:
#  1. loading a 500-slice 512x512 CT series (uncompressed, then JPEG-LS) into memory:
#     `dravelin-dicom load` against dcm2niix (-z n, output on tmpfs) and pydicom + numpy;
#     peak memory against the size of the voxel data;
#  2. writing the same series as JPEG-LS lossless and JPEG 2000 lossless: `dravelin-dicom
#     convert` against DCMTK's dcmcjpls and GDCM's gdcmconv --j2k run on the same files (one
#     process per file, as many at a time as there are cores).
#
# Usage: bench/io/run.sh [ROUNDS]     (default 3; the median of the rounds is reported)
#   R=DIR      data root outside the repository (default $HOME/bench-data)
#   BUILD=DIR  build folder holding dravelin-dicom and dravelin-gen-data (default <repo>/build)
set -euo pipefail
ROUNDS=${1:-3}
HERE=$(cd "$(dirname "$0")" && pwd)
REPO=$(cd "$HERE/../.." && pwd)
BUILD=${BUILD:-$REPO/build}
R=${R:-$HOME/bench-data}
PY=/usr/bin/python3
CPUS=$(nproc)
SRC=$R/io-ct500
JLS=$R/io-ct500-jpegls
TMP=$(mktemp -d /dev/shm/io-bench.XXXXXX)
trap 'rm -rf "$TMP"' EXIT

for tool in dcm2niix dcmcjpls gdcmconv; do
    command -v $tool >/dev/null || { echo "missing $tool (packages dcm2niix, dcmtk, libgdcm-tools)" >&2; exit 2; }
done
$PY -c 'import numpy, pydicom' 2>/dev/null || { echo "missing python3-numpy / python3-pydicom" >&2; exit 2; }

if [ ! -f "$SRC/.complete" ]; then
    rm -rf "$SRC" "$SRC.gen"
    echo "generating $SRC ..." >&2
    "$BUILD/dravelin-gen-data" folder "$SRC.gen" --patients 1 --studies 1 --series 1 --images 500 --size 512 >&2
    mv "$(dirname "$(find "$SRC.gen" -name '*.dcm' -print -quit)")" "$SRC"
    rm -rf "$SRC.gen"
    touch "$SRC/.complete"
fi
if [ ! -f "$JLS/.complete" ]; then
    rm -rf "$JLS"
    mkdir -p "$JLS"
    ls "$SRC"/*.dcm | xargs -P "$CPUS" -I{} sh -c 'dcmcjpls "$1" "$2/$(basename "$1")"' _ {} "$JLS"
    touch "$JLS/.complete"
fi
NSLICES=$(ls "$SRC"/*.dcm | wc -l)
VOXEL_MB=$(awk -v n="$NSLICES" 'BEGIN { printf "%.1f", n * 512 * 512 * 2 / 1048576 }')

declare -A TIMES MEMS
# run KEY CMD: one timed run; appends wall seconds and peak RSS (KiB) to the key's lists.
run() {
    local key=$1 cmd=$2 out
    rm -rf "$TMP/out" && mkdir -p "$TMP/out"
    if ! /usr/bin/time -f "%e %M" -o "$TMP/time" sh -c "$cmd" >/dev/null 2>"$TMP/err"; then
        echo "$key failed: $(tail -2 "$TMP/err")" >&2
        return
    fi
    out=$(tail -1 "$TMP/time")
    TIMES[$key]+="${out%% *} "
    MEMS[$key]+="${out##* } "
}
median() { tr ' ' '\n' | grep . | sort -g | awk '{ v[NR] = $1 } END { print (NR ? v[int((NR + 1) / 2)] : 0) }'; }

# Debian's dcm2niix is built without JPEG-LS: the compressed series is compared with pydicom
# (its GDCM handler decodes JPEG-LS).
LOAD_KEYS=("dravelin load" "dcm2niix -z n" "pydicom+numpy" "dravelin load jpeg-ls" "pydicom+numpy jpeg-ls")
WRITE_KEYS=("dravelin convert jpeg-ls" "dcmcjpls x$CPUS" "dravelin convert j2k" "gdcmconv --j2k x$CPUS")
declare -A CMD=(
    ["dravelin load"]="$BUILD/dravelin-dicom load $SRC"
    ["dcm2niix -z n"]="dcm2niix -z n -o $TMP/out $SRC"
    ["pydicom+numpy"]="$PY $HERE/pydicom_load.py $SRC"
    ["dravelin load jpeg-ls"]="$BUILD/dravelin-dicom load $JLS"
    ["pydicom+numpy jpeg-ls"]="$PY $HERE/pydicom_load.py $JLS"
    ["dravelin convert jpeg-ls"]="$BUILD/dravelin-dicom convert $SRC $TMP/out --compression jpeg-ls"
    ["dcmcjpls x$CPUS"]="ls $SRC/*.dcm | xargs -P $CPUS -I{} sh -c 'dcmcjpls \"\$1\" $TMP/out/\$(basename \"\$1\")' _ {}"
    ["dravelin convert j2k"]="$BUILD/dravelin-dicom convert $SRC $TMP/out --compression j2k-lossless"
    ["gdcmconv --j2k x$CPUS"]="ls $SRC/*.dcm | xargs -P $CPUS -I{} sh -c 'gdcmconv --j2k \"\$1\" $TMP/out/\$(basename \"\$1\")' _ {}"
)

echo "series: $NSLICES slices of 512x512 int16 ($VOXEL_MB MiB of voxels), $CPUS cores, $ROUNDS interleaved rounds (median)"
for key in "${LOAD_KEYS[@]}" "${WRITE_KEYS[@]}"; do sh -c "${CMD[$key]}" >/dev/null 2>&1 || true; done  # warm-up
for _ in $(seq "$ROUNDS"); do
    for key in "${LOAD_KEYS[@]}" "${WRITE_KEYS[@]}"; do run "$key" "${CMD[$key]}"; done
done

declare -A MED
for key in "${LOAD_KEYS[@]}" "${WRITE_KEYS[@]}"; do
    MED[$key]=$(median <<<"${TIMES[$key]:-}")
    mem=$(median <<<"${MEMS[$key]:-}")
    printf "%-26s %7.2f s   peak %7.1f MiB (%.2fx the voxel data)\n" "$key" "${MED[$key]}" \
        "$(awk -v m="$mem" 'BEGIN { print m / 1024 }')" "$(awk -v m="$mem" -v v="$VOXEL_MB" 'BEGIN { print m / 1024 / v }')"
done
ratio() { awk -v a="${MED[$1]}" -v b="${MED[$2]}" 'BEGIN { printf "%.2f", (a > 0 ? b / a : 0) }'; }
echo
echo "speed-ups (baseline time / our time; goal: >= 1 against dcm2niix and the writers, >= 5 against pydicom):"
echo "  load uncompressed vs dcm2niix:      $(ratio "dravelin load" "dcm2niix -z n")"
echo "  load uncompressed vs pydicom+numpy: $(ratio "dravelin load" "pydicom+numpy")"
echo "  load JPEG-LS vs pydicom+numpy:      $(ratio "dravelin load jpeg-ls" "pydicom+numpy jpeg-ls")"
echo "  write JPEG-LS vs dcmcjpls:          $(ratio "dravelin convert jpeg-ls" "dcmcjpls x$CPUS")"
echo "  write JPEG 2000 vs gdcmconv --j2k:  $(ratio "dravelin convert j2k" "gdcmconv --j2k x$CPUS")"
