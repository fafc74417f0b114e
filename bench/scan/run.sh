#!/usr/bin/env bash
# Folder-scan benchmark: our `scan` against the header-read floor, gdcmscanner and pydicom,
# measured in one run on one folder with the page cache warm.
#
# Usage: bench/scan/run.sh [RUNS]      (from anywhere; default RUNS=3)
#   R=DIR      data root outside the repository (default $HOME/bench-data)
#   BUILD=DIR  build folder holding dravelin-dicom and dravelin-gen-data (default <repo>/build)
# The data set (20,000 images of 128x128 plus 20 junk and 20 truncated files) is generated once.
set -euo pipefail
RUNS=${1:-3}
HERE=$(cd "$(dirname "$0")" && pwd)
REPO=$(cd "$HERE/../.." && pwd)
BUILD=${BUILD:-$REPO/build}
R=${R:-$HOME/bench-data}
D=$R/scan20k
BIN=$R/bin
PY=/usr/bin/python3
mkdir -p "$BIN"

if [ ! -f "$D/.complete" ]; then
    rm -rf "$D"
    echo "generating $D ..." >&2
    "$BUILD/dravelin-gen-data" folder "$D" --patients 10 --studies 2 --series 10 --images 100 --size 128 \
        --junk 20 --truncated 20 >&2
    touch "$D/.complete"
fi
if ! command -v gdcmscanner >/dev/null; then
    sudo -n apt-get install -y -qq libgdcm-tools >&2 || apt-get install -y -qq libgdcm-tools >&2
fi
if ! $PY -c 'import pydicom' 2>/dev/null; then
    sudo -n apt-get install -y -qq python3-pydicom >&2 || apt-get install -y -qq python3-pydicom >&2
fi
[ "$BIN/headread" -nt "$HERE/headread.c" ] || gcc -O2 -fopenmp -o "$BIN/headread" "$HERE/headread.c"

NFILES=$(find "$D" -type f ! -name .complete | wc -l)
TAGS="-t 0010,0020 -t 0020,000d -t 0020,000e -t 0008,0018 -t 0020,0013 -t 0020,0032 -t 0020,0037 -t 0028,0030 -t 0028,0010 -t 0028,0011"

declare -A RATE PEAK
# measure KEY FILES CMD: one warm-up run, then RUNS runs; median wall time and median peak RSS.
measure() {
    local key=$1 files=$2 cmd=$3 tf status=0
    tf=$(mktemp)
    sh -c "$cmd" >/dev/null 2>&1 || status=$?
    if [ $status -ne 0 ]; then
        printf "%-28s FAILED (exit %d)\n" "$key" $status
        rm -f "$tf"
        return 1
    fi
    for _ in $(seq "$RUNS"); do
        /usr/bin/time -f "%e %M" -a -o "$tf" sh -c "exec $cmd" >/dev/null 2>&1 || true
    done
    med=$(cut -d' ' -f1 "$tf" | sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }')
    mem=$(cut -d' ' -f2 "$tf" | sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }')
    RATE[$key]=$(awk -v n="$files" -v t="$med" 'BEGIN { printf "%.0f", (t > 0 ? n / t : 0) }')
    PEAK[$key]=$(awk -v m="$mem" 'BEGIN { printf "%.1f", m / 1024 }')
    printf "%-28s %6.3f s  %8s files/s  peak %7s MiB  (%d files)\n" "$key" "$med" "${RATE[$key]}" "${PEAK[$key]}" "$files"
    rm -f "$tf"
}

echo "folder $D: $NFILES files, $(nproc) cores, $RUNS runs each (median), warm cache"
M=${OMP_NUM_THREADS:-$(nproc)}
DEFAULT_THREADS=$(( 3 * M >= 8 ? 3 * M / 4 : 1 ))
measure "headread 8KiB t1" "$NFILES" "$BIN/headread -t 1 -b 8192 $D"
measure "headread 8KiB t2" "$NFILES" "$BIN/headread -t 2 -b 8192 $D"
measure "dravelin scan (default t$DEFAULT_THREADS)" "$NFILES" "$BUILD/dravelin-dicom scan $D --json"
measure "dravelin scan t1" "$NFILES" "$BUILD/dravelin-dicom scan $D --json --threads 1"
measure "dravelin scan t2" "$NFILES" "$BUILD/dravelin-dicom scan $D --json --threads 2"
GDCM_KEY="gdcmscanner 10 tags"
if ! measure "$GDCM_KEY" "$NFILES" "gdcmscanner -d $D -r $TAGS"; then
    # gdcmscanner aborts on some cut files: time it on a hard-link copy of the readable images.
    CLEAN=$R/scan20k-clean
    if [ ! -d "$CLEAN" ]; then
        "$BUILD/dravelin-dicom" scan "$D" --json 2>/dev/null | $PY -c '
import json, os, sys
src, dst = sys.argv[1], sys.argv[2]
for p in json.load(sys.stdin)["patients"]:
    for st in p["studies"]:
        for se in st["series"]:
            for im in se["images"]:
                path = im["location"].replace("file://", "")
                out = os.path.join(dst, os.path.relpath(path, src))
                os.makedirs(os.path.dirname(out), exist_ok=True)
                os.link(path, out)' "$D" "$CLEAN"
    fi
    GDCM_KEY="gdcmscanner (images only)"
    measure "$GDCM_KEY" "$(find "$CLEAN" -type f | wc -l)" "gdcmscanner -d $CLEAN -r $TAGS"
fi
measure "pydicom 1 proc" "$NFILES" "$PY $HERE/pydicom_scan.py $D"

ratio() { awk -v a="${RATE[$1]:-0}" -v b="${RATE[$2]:-0}" 'BEGIN { printf (b > 0 ? "%.2f" : "n/a"), (b > 0 ? a / b : 0) }'; }
echo
echo "ratios (files/s):"
for t in 1 2; do
    echo "  scan t$t / gdcmscanner      = $(ratio "dravelin scan t$t" "$GDCM_KEY")   (goal >= 1.5)"
    echo "  scan t$t / pydicom          = $(ratio "dravelin scan t$t" "pydicom 1 proc")   (goal >= 10)"
    echo "  headread t$t / scan t$t      = $(ratio "headread 8KiB t$t" "dravelin scan t$t")   (goal <= 4)"
done
echo "  peak memory of scan t2      = ${PEAK["dravelin scan t2"]:-?} MiB   (goal < 300)"

if [ -x "$BUILD/bench/bench_scan_cancel" ]; then
    echo
    "$BUILD/bench/bench_scan_cancel" "$D" || true
fi
