#!/usr/bin/env bash
# PACS load benchmark: `dravelin-dicom load pacs://...` of one 500-image 512x512 series
# against `getscu -od` of the same series, from a throw-away Orthanc on 127.0.0.1, run in
# turn (A B A B ...) for ROUNDS rounds after one warm-up round, so that load on the machine
# hits both alike. Each row gives the median wall and CPU (user + system) seconds and the
# peak memory; each ratio is the median of the per-round ratios. The 1-minute load average
# before each round is printed too, and the number of associations one load opens.
#
# Usage: bench/pacs/run.sh [ROUNDS]        (default 5)
#   R=DIR      data root outside the repository (default $HOME/bench-data)
#   BUILD=DIR  build folder holding dravelin-dicom and dravelin-gen-data (default <repo>/build)
#   A=BINARY   the dravelin-dicom to measure (default $BUILD/dravelin-dicom)
#   B=BINARY   a second dravelin-dicom (e.g. a build of main) run in turn with A; adds "before" rows
#   PORT=N     Orthanc's DICOM port (default 4391; N+1 is its HTTP port)
set -euo pipefail
HERE=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=bench/rounds.sh
. "$HERE/../rounds.sh"
D=$R/pacs500
IMAGES=500
SIZE=512
PORT=${PORT:-4391}
T=$(mktemp -d /tmp/bench-pacs.XXXXXX)
SERVER=$T/server
DEMO=/work/shared/notes/orthanc-demo.sh
export TCP_NODELAY=1

if [ ! -f "$D/.complete" ]; then
    rm -rf "$D"
    echo "generating $D ..." >&2
    "$BUILD/dravelin-gen-data" folder "$D" --patients 1 --studies 1 --series 1 --images $IMAGES --size $SIZE >&2
    touch "$D/.complete"
fi

cleanup() { "$DEMO" --stop "$SERVER" >/dev/null 2>&1 || true; rm -rf "$T"; }
trap cleanup EXIT
"$DEMO" "$SERVER" "$PORT" $((PORT + 1)) >/dev/null
storescu -aet CLIENTSCU -aec ORTHANC +sd +r +sp '*.dcm' 127.0.0.1 "$PORT" "$D" >/dev/null 2>&1
FIRST=$(find "$D" -name '*.dcm' -print -quit)
STUDY=$(dcmdump -q +P 0020,000d "$FIRST" | sed 's/.*\[\(.*\)\].*/\1/')
SERIES=$(dcmdump -q +P 0020,000e "$FIRST" | sed 's/.*\[\(.*\)\].*/\1/')
URL="pacs://127.0.0.1:$PORT/ORTHANC?callingAet=CLIENTSCU&callingPort=11113&get=1&study=$STUDY&series=$SERIES"
PIXEL_KIB=$((IMAGES * SIZE * SIZE * 2 / 1024))

KEYS=("load" "getscu -od")
CMDS=("$A load $URL"
    "$HERE/getscu-od.sh $T/out -S -aet CLIENTSCU -aec ORTHANC -k QueryRetrieveLevel=SERIES -k StudyInstanceUID=$STUDY -k SeriesInstanceUID=$SERIES 127.0.0.1 $PORT")
if [ -n "$B" ]; then
    KEYS+=("before: load")
    CMDS+=("$B load $URL")
fi
run_rounds
[ "$(find "$T/out" -type f | wc -l)" = $IMAGES ] || { echo "getscu -od did not receive $IMAGES files" >&2; exit 1; }
"$A" load "$URL" | grep -q "$IMAGES slices" || { echo "our load did not give $IMAGES slices" >&2; exit 1; }
# Connections one load opens to the server (the goal is one association per series).
ASSOCIATIONS=$(strace -f -e trace=connect "$A" load "$URL" 2>&1 >/dev/null | grep -c "htons($PORT)" || true)

echo "C-GET of a $IMAGES-image ${SIZE}x$SIZE series ($((PIXEL_KIB / 1024)) MiB of pixels) from Orthanc on 127.0.0.1, $(nproc) cores"
echo "$ROUNDS rounds in turn after one warm-up; 1-minute load average before each round: ${LOADS[*]}"
for i in "${!KEYS[@]}"; do
    printf "  %-14s wall %7.3f s  cpu %7.3f s  peak %6.1f MiB\n" "${KEYS[$i]}" "$(col "$i" 1)" "$(col "$i" 2)" \
        "$(awk -v k="$(col "$i" 3)" 'BEGIN { print k / 1024 }')"
done
# peak KEY: median over rounds of its peak memory over the pixel bytes
peak() { cut -d' ' -f3 "$T/$(index "$1")" | awk -v p=$PIXEL_KIB '{ print $1 / p }' | median; }
echo "ratios (median of per-round ratios):"
printf "  %-30s %5.2f   (goal <= 1.2)\n" "load / getscu -od, wall" "$(ratio load "getscu -od" 1)"
printf "  %-30s %5.2f\n" "load / getscu -od, cpu" "$(ratio load "getscu -od" 2)"
printf "  %-30s %5.2f   (goal <= 1.2)\n" "load peak memory / pixel bytes" "$(peak load)"
if [ -n "$B" ]; then
    printf "  %-30s %5.2f\n" "before / after, wall" "$(ratio "before: load" load 1)"
    printf "  %-30s %5.2f\n" "before / after, cpu" "$(ratio "before: load" load 2)"
    printf "  %-30s %5.2f\n" "before: peak / pixel bytes" "$(peak "before: load")"
fi
echo "  connections one load opens to the server: $ASSOCIATIONS (goal 1)"
