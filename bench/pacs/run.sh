#!/usr/bin/env bash
# PACS load benchmark: `dravelin-dicom load pacs://...` of one 500-image 512x512 series
# against `getscu -od` of the same series, from a throw-away Orthanc on 127.0.0.1, run in
# turn (A B A B ...) so that load on the machine hits both alike. Prints CPU and wall
# seconds (median) and the median of the per-round ratios, plus page faults and the
# number of associations our load opened.
#
# Usage: bench/pacs/run.sh [ROUNDS]        (default 5)
#   R=DIR      data root outside the repository (default $HOME/bench-data)
#   BUILD=DIR  build folder holding dravelin-dicom and dravelin-gen-data (default <repo>/build)
#   A=BINARY   the dravelin-dicom to measure (default $BUILD/dravelin-dicom)
#   PORT=N     Orthanc's DICOM port (default 4391; N+1 is its HTTP port)
set -euo pipefail
ROUNDS=${1:-5}
HERE=$(cd "$(dirname "$0")" && pwd)
REPO=$(cd "$HERE/../.." && pwd)
BUILD=${BUILD:-$REPO/build}
A=${A:-$BUILD/dravelin-dicom}
R=${R:-$HOME/bench-data}
D=$R/pacs500
PORT=${PORT:-4391}
SERVER=$(mktemp -d /tmp/bench-pacs.XXXXXX)
OUT=$SERVER/out
DEMO=/work/shared/notes/orthanc-demo.sh
export TCP_NODELAY=1

if [ ! -f "$D/.complete" ]; then
    rm -rf "$D"
    echo "generating $D ..." >&2
    "$BUILD/dravelin-gen-data" folder "$D" --patients 1 --studies 1 --series 1 --images 500 --size 512 >&2
    touch "$D/.complete"
fi

cleanup() { "$DEMO" --stop "$SERVER" >/dev/null 2>&1 || true; rm -rf "$SERVER"; }
trap cleanup EXIT
"$DEMO" "$SERVER" "$PORT" $((PORT + 1)) >/dev/null
storescu -aet CLIENTSCU -aec ORTHANC +sd +r +sp '*.dcm' 127.0.0.1 "$PORT" "$D" >/dev/null 2>&1
FIRST=$(find "$D" -name '*.dcm' -print -quit)
STUDY=$(dcmdump -q +P 0020,000d "$FIRST" | sed 's/.*\[\(.*\)\].*/\1/')
SERIES=$(dcmdump -q +P 0020,000e "$FIRST" | sed 's/.*\[\(.*\)\].*/\1/')
URL="pacs://127.0.0.1:$PORT/ORTHANC?callingAet=CLIENTSCU&callingPort=11113&get=1&study=$STUDY&series=$SERIES"
mkdir -p "$OUT"

# run KEY CMD: appends "wall cpu faults" of one run to $SERVER/KEY
run() {
    local key=$1
    shift
    /usr/bin/time -f "%e %U %S %R" -o "$SERVER/t" "$@" >/dev/null 2>"$SERVER/err" || {
        echo "$key failed: $(tail -1 "$SERVER/err")" >&2
        exit 1
    }
    awk '{ printf "%s %.3f %s\n", $1, $2 + $3, $4 }' "$SERVER/t" >>"$SERVER/$key"
}
getscu_od() {
    rm -rf "$OUT" && mkdir -p "$OUT"
    run getscu getscu -S -aet CLIENTSCU -aec ORTHANC -k QueryRetrieveLevel=SERIES -k "StudyInstanceUID=$STUDY" \
        -k "SeriesInstanceUID=$SERIES" -od "$OUT" 127.0.0.1 "$PORT"
}

# Warm-up of both (Orthanc's own cache, the page cache), then the rounds in turn.
run ours "$A" load "$URL" && getscu_od
: >"$SERVER/ours" && : >"$SERVER/getscu"
LOADS=()
for _ in $(seq "$ROUNDS"); do
    LOADS+=("$(cut -d" " -f1 /proc/loadavg)")
    run ours "$A" load "$URL"
    getscu_od
done
# Connections one load opens to the server (the goal is one association per series).
ASSOCIATIONS=$(strace -f -e trace=connect "$A" load "$URL" 2>&1 >/dev/null | grep -c "htons($PORT)" || true)

median() { sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
col() { cut -d' ' -f"$2" "$SERVER/$1" | median; }
echo "C-GET of a 500-image 512x512 series, $ROUNDS rounds in turn (load averages: ${LOADS[*]})"
for key in ours getscu; do
    printf "  %-8s wall %6.3f s  cpu %6.3f s  page faults %s\n" "$key" "$(col $key 1)" "$(col $key 2)" "$(col $key 3)"
done
ratios() {
    paste -d' ' "$SERVER/ours" "$SERVER/getscu" | awk -v c="$1" -v n=4 '{ print $(c) / $(c + 3) }' | median
}
printf "  ratio ours / getscu -od: wall %.2f (goal <= 1.2), cpu %.2f   (median of per-round ratios)\n" \
    "$(ratios 1)" "$(ratios 2)"
echo "  connections one load opens to the server: $ASSOCIATIONS (goal 1)"
