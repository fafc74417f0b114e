#!/usr/bin/env bash
# RT structure set to label map: `dravelin-dicom rt-labelmap` against Plastimatch's
# `plastimatch convert --input RTSTRUCT --referenced-ct CT --output-ss-img OUT`, on the
# generator's phantom (40 slices, 3 structures) and on a 200-slice, 50-structure set. Both tools
# run as whole processes (loading the CT and the structure set included), in interleaved rounds;
# then the label map of every structure is compared with Plastimatch's mask (Dice).
# Expected difference: Plastimatch fills the hole of ROI 2 (a contour inside another), which we
# leave empty by the even-odd rule, so that structure's Dice stays near 0.88 by design.
#
# Usage: bench/rt/run.sh [ROUNDS]     (default 5; the median of the rounds is reported)
#   R=DIR      data root outside the repository (default $HOME/bench-data)
#   BUILD=DIR  build folder holding dravelin-dicom and dravelin-gen-data (default <repo>/build)
set -euo pipefail
ROUNDS=${1:-5}
HERE=$(cd "$(dirname "$0")" && pwd)
REPO=$(cd "$HERE/../.." && pwd)
BUILD=${BUILD:-$REPO/build}
R=${R:-$HOME/bench-data}
TMP=$(mktemp -d /dev/shm/rt-bench.XXXXXX)
trap 'rm -rf "$TMP"' EXIT
command -v plastimatch >/dev/null || { echo "missing plastimatch (package plastimatch)" >&2; exit 2; }
/usr/bin/python3 -c 'import numpy' 2>/dev/null || { echo "missing python3-numpy" >&2; exit 2; }

SETS=("phantom:40:3" "large:200:50")
for entry in "${SETS[@]}"; do
    IFS=: read -r name slices structures <<<"$entry"
    dir=$R/rt-$name
    if [ ! -f "$dir/.complete" ]; then
        rm -rf "$dir"
        "$BUILD/dravelin-gen-data" rtstruct "$dir" --slices "$slices" --structures "$structures" >&2
        touch "$dir/.complete"
    fi
done

median() { tr ' ' '\n' | grep . | sort -g | awk '{ v[NR] = $1 } END { print (NR ? v[int((NR + 1) / 2)] : 0) }'; }
seconds() {  # seconds CMD...: wall time of one run
    local start end
    start=$(date +%s.%N)
    "$@" >/dev/null 2>"$TMP/err" || { echo "failed: $* ($(tail -1 "$TMP/err"))" >&2; echo 0; return; }
    end=$(date +%s.%N)
    awk -v a="$start" -v b="$end" 'BEGIN { printf "%.3f", b - a }'
}

echo "$(nproc) cores, $ROUNDS interleaved rounds (median)"
for entry in "${SETS[@]}"; do
    IFS=: read -r name slices structures <<<"$entry"
    dir=$R/rt-$name
    ours=(); theirs=()
    "$BUILD/dravelin-dicom" rt-labelmap "$dir/rtstruct.dcm" "$dir/ct" "$TMP/ours.nrrd" >/dev/null  # warm-up
    plastimatch convert --input "$dir/rtstruct.dcm" --referenced-ct "$dir/ct" --output-ss-img "$TMP/theirs.nrrd" >/dev/null 2>&1
    for _ in $(seq "$ROUNDS"); do
        ours+=("$(seconds "$BUILD/dravelin-dicom" rt-labelmap "$dir/rtstruct.dcm" "$dir/ct" "$TMP/ours.nrrd")")
        theirs+=("$(seconds plastimatch convert --input "$dir/rtstruct.dcm" --referenced-ct "$dir/ct" \
            --output-ss-img "$TMP/theirs.nrrd")")
    done
    a=$(median <<<"${ours[*]}"); b=$(median <<<"${theirs[*]}")
    echo
    echo "$name: $slices slices of 128x128, $structures structures"
    printf "  dravelin-dicom rt-labelmap %6.3f s\n  plastimatch convert        %6.3f s\n" "$a" "$b"
    echo "  speed-up (Plastimatch / ours; goal >= 1): $(awk -v a="$a" -v b="$b" 'BEGIN { printf "%.2f", (a > 0 ? b / a : 0) }')"

    # Dice per structure: one label map per ROI (overlaps would otherwise hide voxels).
    rm -rf "$TMP/ours" "$TMP/theirs" && mkdir -p "$TMP/ours"
    plastimatch convert --input "$dir/rtstruct.dcm" --referenced-ct "$dir/ct" --output-prefix "$TMP/theirs" \
        --prefix-format nrrd >/dev/null 2>&1
    "$BUILD/dravelin-dicom" load "$dir/rtstruct.dcm" --json 2>/dev/null |
        /usr/bin/python3 -c 'import json, sys
for s in json.load(sys.stdin)["structureSets"]:
    for r in s["regions"]:
        print(r["number"], r["name"], sep="\t")' >"$TMP/rois"
    while IFS=$'\t' read -r number _; do
        "$BUILD/dravelin-dicom" rt-labelmap "$dir/rtstruct.dcm" "$dir/ct" "$TMP/ours/$number.nrrd" --roi "$number"
    done <"$TMP/rois"
    /usr/bin/python3 "$HERE/dice.py" "$TMP/ours" "$TMP/theirs" "$TMP/rois"
done
