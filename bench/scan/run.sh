#!/usr/bin/env bash
# Folder-scan benchmark: our `scan` against the header-read floor, gdcmscanner and dcmdump,
# run in turn (A B C ... A B C ...) for ROUNDS rounds after one warm-up round, so that the
# load of this shared machine hits every tool alike. Each row gives the median wall and CPU
# (user + system) seconds and the peak memory; each ratio is the median of the per-round
# ratios, for wall and for CPU. The 1-minute load average before each round is printed too.
#
# Usage: bench/scan/run.sh [ROUNDS]      (from anywhere; default ROUNDS=5)
#   R=DIR      data root outside the repository (default $HOME/bench-data)
#   BUILD=DIR  build folder holding dravelin-dicom and dravelin-gen-data (default <repo>/build)
#   A=BINARY   the dravelin-dicom to measure (default $BUILD/dravelin-dicom)
#   B=BINARY   a second dravelin-dicom (e.g. a build of main) run in turn with A; adds "before" rows
#   BIG=1      also scan 100,000 files once each for the memory per image (generated once, 3.3 GiB)
#   DEEP=1     also scan the same images spread over a tree of about 62,000 folders (3 levels; hard
#              links, made once), against headread and gdcmscanner, in turn for ROUNDS rounds
# The data set (20,000 images of 128x128 plus 20 junk and 20 truncated files) is generated once.
set -euo pipefail
HERE=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=bench/rounds.sh
. "$HERE/../rounds.sh"
D=$R/scan20k
ONE=$R/scan-one

if [ ! -f "$D/.complete" ]; then
    rm -rf "$D"
    echo "generating $D ..." >&2
    "$BUILD/dravelin-gen-data" folder "$D" --patients 10 --studies 2 --series 10 --images 100 --size 128 \
        --junk 20 --truncated 20 >&2
    touch "$D/.complete"
fi
if [ ! -d "$ONE" ]; then
    mkdir -p "$ONE"
    cp "$(find "$D" -name 'img1.dcm' -print -quit)" "$ONE/"
fi
if ! command -v gdcmscanner >/dev/null; then
    sudo -n apt-get install -y -qq libgdcm-tools >&2 || apt-get install -y -qq libgdcm-tools >&2
fi
[ "$BIN/headread" -nt "$HERE/headread.c" ] || gcc -O2 -fopenmp -o "$BIN/headread" "$HERE/headread.c"

# gdcmscanner aborts on some cut files: it reads a hard-link copy of the readable images.
CLEAN=$R/scan20k-clean
if [ ! -d "$CLEAN" ]; then
    "$A" scan "$D" --json 2>/dev/null | /usr/bin/python3 -c '
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

NFILES=$(find "$D" -type f ! -name .complete | wc -l)
TAGS="-t 0010,0020 -t 0020,000d -t 0020,000e -t 0008,0018 -t 0020,0013 -t 0020,0032 -t 0020,0037 -t 0028,0030 -t 0028,0010 -t 0028,0011"
ONEFILE=$(ls "$ONE"/*.dcm)
KEYS=("headread t1" "headread t2" "scan t1" "scan t2" "gdcmscanner" "scan one file" "dcmdump one file")
CMDS=("$BIN/headread -t 1 -b 8192 $D"
    "$BIN/headread -t 2 -b 8192 $D"
    "$A scan $D --json --threads 1"
    "$A scan $D --json --threads 2"
    "gdcmscanner -d $CLEAN -r $TAGS"
    "$A scan $ONE --json"
    "dcmdump -q $ONEFILE")
if [ -n "$B" ]; then
    KEYS+=("before: scan t1" "before: scan t2" "before: scan one file")
    CMDS+=("$B scan $D --json --threads 1" "$B scan $D --json --threads 2" "$B scan $ONE --json")
fi
T=$(mktemp -d)
trap 'rm -rf "$T"' EXIT

run_rounds

echo "folder $D: $NFILES files ($(find "$CLEAN" -type f | wc -l) for gdcmscanner), $(nproc) cores, warm cache"
print_rows() {
    echo "$ROUNDS rounds in turn after one warm-up; 1-minute load average before each round: ${LOADS[*]}"
    for i in "${!KEYS[@]}"; do
        printf "  %-22s wall %7.3f s  cpu %7.3f s  peak %6.1f MiB\n" "${KEYS[$i]}" "$(col "$i" 1)" "$(col "$i" 2)" \
            "$(awk -v k="$(col "$i" 3)" 'BEGIN { print k / 1024 }')"
    done
}
print_rows
show() { printf "  %-34s wall %5.2f  cpu %5.2f   %s\n" "$1" "$(ratio "$2" "$3" 1)" "$(ratio "$2" "$3" 2)" "$4"; }
echo "ratios (median of per-round ratios):"
show "scan t1 / headread t1" "scan t1" "headread t1" "(goal cpu <= 1.7)"
show "scan t2 / headread t2" "scan t2" "headread t2" ""
show "gdcmscanner / scan t1" "gdcmscanner" "scan t1" "(goal >= 2)"
show "scan t1 / scan t2" "scan t1" "scan t2" "(goal wall >= 1.6 on an idle machine)"
show "scan one file / dcmdump" "scan one file" "dcmdump one file" "(goal wall <= 1.5)"
if [ -n "$B" ]; then
    show "before / after, scan t1" "before: scan t1" "scan t1" ""
    show "before / after, scan t2" "before: scan t2" "scan t2" ""
    show "before / after, one file" "before: scan one file" "scan one file" ""
fi
awk -v k="$(col "$(index "scan t2")" 3)" -v n="$NFILES" \
    'BEGIN { printf "  peak memory of scan t2: %.1f MiB, %.2f KiB per file\n", k / 1024, k / n }'

if [ "${DEEP:-0}" = 1 ]; then
    DEEPD=$R/scan-deep
    if [ ! -f "$DEEPD/.complete" ]; then
        rm -rf "$DEEPD"
        echo "generating $DEEPD ..." >&2
        /usr/bin/python3 - "$CLEAN" "$DEEPD" <<'PY'
import os, sys
src, dst = sys.argv[1], sys.argv[2]
files = sorted(os.path.join(d, f) for d, _, fs in os.walk(src) for f in fs)
leaves = [os.path.join(dst, "a%d" % a, "b%d" % b, "c%d" % c) for a in range(40) for b in range(40) for c in range(38)]
for leaf in leaves:
    os.makedirs(leaf)
step = len(leaves) / len(files)
for i, f in enumerate(files):
    os.link(f, os.path.join(leaves[int(i * step)], "img%d.dcm" % i))
PY
        touch "$DEEPD/.complete"
    fi
    KEYS=("deep headread t1" "deep scan t1" "deep scan t2" "deep gdcmscanner")
    CMDS=("$BIN/headread -t 1 -b 8192 $DEEPD" "$A scan $DEEPD --json --threads 1" "$A scan $DEEPD --json --threads 2"
        "gdcmscanner -d $DEEPD -r $TAGS")
    if [ -n "$B" ]; then
        KEYS+=("deep before: scan t1")
        CMDS+=("$B scan $DEEPD --json --threads 1")
    fi
    rm -f "$T"/[0-9]*
    run_rounds
    echo
    echo "deep tree $DEEPD: $(find "$DEEPD" -type d | wc -l) folders, $(find "$DEEPD" -type f ! -name .complete | wc -l) files"
    print_rows
    echo "ratios (median of per-round ratios):"
    show "deep: scan t1 / headread t1" "deep scan t1" "deep headread t1" "(goal cpu <= 3)"
    show "deep: gdcmscanner / scan t1" "deep gdcmscanner" "deep scan t1" "(goal >= 2)"
    show "deep: gdcmscanner / scan t2" "deep gdcmscanner" "deep scan t2" ""
    [ -n "$B" ] && show "deep: before / after, scan t1" "deep before: scan t1" "deep scan t1" ""
fi

if [ "${BIG:-0}" = 1 ]; then
    BIGD=$R/scan100k
    if [ ! -f "$BIGD/.complete" ]; then
        rm -rf "$BIGD"
        "$BUILD/dravelin-gen-data" folder "$BIGD" --patients 50 --studies 2 --series 10 --images 100 --size 128 >&2
        touch "$BIGD/.complete"
    fi
    for bin in "$A" ${B:+"$B"}; do
        /usr/bin/time -f "%e %U %S %M" -o "$T/big" "$bin" scan "$BIGD" --json --threads 2 >/dev/null 2>&1 || true
        read -r wall user sys kib <"$T/big"
        awk -v k="$kib" -v w="$wall" -v b="$bin" 'BEGIN {
            printf "  100,000 files (%s): peak %.1f MiB (goal < 100), %.2f KiB per image (goal <= 1), wall %.1f s\n",
                   b, k / 1024, k / 100000, w }'
    done
fi

if [ -x "$BUILD/bench/bench_scan_cancel" ]; then
    echo
    "$BUILD/bench/bench_scan_cancel" "$D" || true
fi
