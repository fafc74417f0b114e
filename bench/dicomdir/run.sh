#!/usr/bin/env bash
# DICOMDIR benchmark: `scan --dicomdir-only` of a DICOMDIR of 20,000 image records against
# `dcmdump` of the same DICOMDIR (CPU), and against our folder scan of the same files (peak
# memory). The commands run in turn (A B C ... A B C ...) for ROUNDS rounds after one warm-up
# round; each row gives the median wall and CPU (user + system) seconds and the peak memory,
# each ratio the median of the per-round ratios. The 1-minute load average before each round
# is printed.
#
# Usage: bench/dicomdir/run.sh [ROUNDS]   (default ROUNDS=5)
#   R=DIR      data root outside the repository (default $HOME/bench-data)
#   BUILD=DIR  build folder holding dravelin-dicom and dravelin-gen-data (default <repo>/build)
#   A=BINARY   the dravelin-dicom to measure (default $BUILD/dravelin-dicom)
#   B=BINARY   a second dravelin-dicom (e.g. a build of main) run in turn with A; adds "before" rows
# The files (10 patients x 2 studies x 10 series x 100 images of 32x32) and their DICOMDIR
# (made by dcmmkdir over hard links with DICOM file IDs) are made once.
set -euo pipefail
HERE=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=bench/rounds.sh
. "$HERE/../rounds.sh"
D=$R/dicomdir20k
DD=$R/dicomdir20k-ids

if [ ! -f "$DD/.complete" ]; then
    rm -rf "$D" "$DD"
    echo "generating $D and its DICOMDIR ..." >&2
    "$BUILD/dravelin-gen-data" folder "$D" --patients 10 --studies 2 --series 10 --images 100 --size 32 >&2
    # dcmmkdir takes file IDs of up to eight upper-case letters and digits per component.
    /usr/bin/python3 - "$D" "$DD" <<'PY'
import os, re, sys
src, dst = sys.argv[1], sys.argv[2]
for root, _, files in os.walk(src):
    for name in files:
        rel = os.path.relpath(os.path.join(root, name), src)
        m = re.fullmatch(r"p(\d+)/s(\d+)/r(\d+)/img(\d+)\.dcm", rel)
        if m:
            out = os.path.join(dst, "P%s/S%s/R%s/I%s" % m.groups())
            os.makedirs(os.path.dirname(out), exist_ok=True)
            os.link(os.path.join(root, name), out)
PY
    dcmmkdir -q +r -Pgp -nb +id "$DD" +D "$DD/DICOMDIR" >&2
    touch "$DD/.complete"
fi

RECORDS=$(find "$DD" -type f -path '*/I*' | wc -l)
KEYS=("scan DICOMDIR" "dcmdump DICOMDIR" "scan folder")
CMDS=("$A scan --dicomdir-only $DD/DICOMDIR --json" "dcmdump -q $DD/DICOMDIR" "$A scan $D --json")
if [ -n "$B" ]; then
    KEYS+=("before: scan DICOMDIR")
    CMDS+=("$B scan --dicomdir-only $DD/DICOMDIR --json")
fi
T=$(mktemp -d)
trap 'rm -rf "$T"' EXIT

run_rounds

echo "DICOMDIR $DD/DICOMDIR: $RECORDS image records, $(stat -c %s "$DD/DICOMDIR") bytes; $(nproc) cores, warm cache"
echo "$ROUNDS rounds in turn after one warm-up; 1-minute load average before each round: ${LOADS[*]}"
for i in "${!KEYS[@]}"; do
    printf "  %-22s wall %7.3f s  cpu %7.3f s  peak %6.1f MiB\n" "${KEYS[$i]}" "$(col "$i" 1)" "$(col "$i" 2)" \
        "$(awk -v k="$(col "$i" 3)" 'BEGIN { print k / 1024 }')"
done
echo "ratios (median of per-round ratios):"
printf "  %-34s cpu  %5.2f   (goal <= 1.0)\n" "scan DICOMDIR / dcmdump" "$(ratio "scan DICOMDIR" "dcmdump DICOMDIR" 2)"
printf "  %-34s peak %5.2f   (goal <= 1.0)\n" "scan DICOMDIR / scan folder" "$(ratio "scan DICOMDIR" "scan folder" 3)"
if [ -n "$B" ]; then
    printf "  %-34s cpu  %5.2f   peak %5.2f\n" "before / after, scan DICOMDIR" \
        "$(ratio "before: scan DICOMDIR" "scan DICOMDIR" 2)" "$(ratio "before: scan DICOMDIR" "scan DICOMDIR" 3)"
fi
