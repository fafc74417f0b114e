#!/usr/bin/env bash
# DICOM IO benchmark: a 500-slice 512x512 CT series (uncompressed, JPEG 2000 lossless, JPEG-LS
# lossless), every tool measured in the same run. The commands run in turn (A B C ... A B C ...)
# for ROUNDS rounds after one warm-up round, warm cache; each row gives the median wall and CPU
# (user + system) seconds and the peak memory, each ratio the median of the per-round ratios.
# The 1-minute load average before each round is printed.
#  1. `dravelin-dicom load` against dcm2niix (-z n, output on tmpfs) for the uncompressed and
#     the JPEG 2000 series, and against pydicom + numpy for the uncompressed and the JPEG-LS
#     series (Debian's dcm2niix has no JPEG-LS); wall time ratios;
#  2. `dravelin-dicom convert` of the uncompressed series to explicit little endian and to
#     JPEG-LS: peak memory against the bytes of the series' voxels;
#  3. with WRITERS=1, writing JPEG-LS and JPEG 2000 lossless against DCMTK's dcmcjpls and GDCM's
#     gdcmconv --j2k run on the same files (one process per file, as many at a time as cores).
#
# Usage: bench/io/run.sh [ROUNDS]     (default 5)
#   R=DIR      data root outside the repository (default $HOME/bench-data)
#   BUILD=DIR  build folder holding dravelin-dicom and dravelin-gen-data (default <repo>/build)
#   A=BINARY   the dravelin-dicom to measure (default $BUILD/dravelin-dicom)
#   B=BINARY   a second dravelin-dicom (e.g. a build of main) run in turn with A; adds "before" rows
#   WRITERS=1  adds the writer comparisons (slow: several minutes a round on 2 cores)
set -euo pipefail
HERE=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=bench/rounds.sh
. "$HERE/../rounds.sh"
WRITERS=${WRITERS:-0}
PY=/usr/bin/python3
CPUS=$(nproc)
SRC=$R/io-ct500
J2K=$R/io-ct500-j2k
JLS=$R/io-ct500-jpegls

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
# compress DIR COMMAND: DIR gets every file of the series through COMMAND IN OUT, once.
compress() {
    [ -f "$1/.complete" ] && return
    rm -rf "$1" && mkdir -p "$1"
    echo "making $1 ..." >&2
    ls "$SRC"/*.dcm | xargs -P "$CPUS" -I{} sh -c "$2"' "$1" "$2/$(basename "$1")"' _ {} "$1"
    touch "$1/.complete"
}
compress "$JLS" dcmcjpls
compress "$J2K" "gdcmconv --j2k"
NSLICES=$(ls "$SRC"/*.dcm | wc -l)
VOXEL_BYTES=$((NSLICES * 512 * 512 * 2))

T=$(mktemp -d /dev/shm/io-bench.XXXXXX)
trap 'rm -rf "$T"' EXIT
mkdir -p "$T/nii" "$T/conv" "$T/w"
# The writers run one process per file: a script each, as `measure` takes a plain command.
cat >"$T/dcmcjpls.sh" <<EOF
#!/bin/sh
ls $SRC/*.dcm | xargs -P $CPUS -I{} sh -c 'dcmcjpls "\$1" $T/w/\$(basename "\$1")' _ {}
EOF
cat >"$T/gdcmconv.sh" <<EOF
#!/bin/sh
ls $SRC/*.dcm | xargs -P $CPUS -I{} sh -c 'gdcmconv --j2k "\$1" $T/w/\$(basename "\$1")' _ {}
EOF
chmod +x "$T"/*.sh

KEYS=("load" "dcm2niix" "load j2k" "dcm2niix j2k" "pydicom" "load jpeg-ls" "pydicom jpeg-ls"
    "convert explicit" "convert jpeg-ls")
CMDS=("$A load $SRC" "dcm2niix -z n -w 1 -o $T/nii $SRC" "$A load $J2K" "dcm2niix -z n -w 1 -o $T/nii $J2K"
    "$PY $HERE/pydicom_load.py $SRC" "$A load $JLS" "$PY $HERE/pydicom_load.py $JLS"
    "$A convert $SRC $T/conv --compression explicit" "$A convert $SRC $T/conv --compression jpeg-ls")
if [ "$WRITERS" = 1 ]; then
    KEYS+=("convert j2k" "dcmcjpls x$CPUS" "gdcmconv --j2k x$CPUS")
    CMDS+=("$A convert $SRC $T/conv --compression j2k-lossless" "$T/dcmcjpls.sh" "$T/gdcmconv.sh")
fi
if [ -n "$B" ]; then
    KEYS+=("before: load" "before: load j2k" "before: convert explicit")
    CMDS+=("$B load $SRC" "$B load $J2K" "$B convert $SRC $T/conv --compression explicit")
fi

run_rounds

echo "series: $NSLICES slices of 512x512 int16 ($((VOXEL_BYTES / 1048576)) MiB of voxels); $CPUS cores, warm cache"
echo "$ROUNDS rounds in turn after one warm-up; 1-minute load average before each round: ${LOADS[*]}"
for i in "${!KEYS[@]}"; do
    printf "  %-24s wall %7.3f s  cpu %7.3f s  peak %7.1f MiB\n" "${KEYS[$i]}" "$(col "$i" 1)" "$(col "$i" 2)" \
        "$(awk -v k="$(col "$i" 3)" 'BEGIN { print k / 1024 }')"
done
# peak KEY: median over rounds of the peak memory against the voxel bytes
peak() { awk -v v="$VOXEL_BYTES" '{ print $3 * 1024 / v }' "$T/$(index "$1")" | median; }
echo "ratios (median of per-round ratios):"
printf "  %-40s wall %5.2f   (goal >= 1.0)\n" "dcm2niix / load" "$(ratio "dcm2niix" "load" 1)"
printf "  %-40s wall %5.2f   (goal >= 1.5)\n" "dcm2niix / load, JPEG 2000" "$(ratio "dcm2niix j2k" "load j2k" 1)"
printf "  %-40s wall %5.2f   (goal >= 5)\n" "pydicom / load" "$(ratio "pydicom" "load" 1)"
printf "  %-40s wall %5.2f   (goal >= 5)\n" "pydicom / load, JPEG-LS" "$(ratio "pydicom jpeg-ls" "load jpeg-ls" 1)"
printf "  %-40s peak %5.2f   (goal <= 1.2)\n" "convert explicit / voxel bytes" "$(peak "convert explicit")"
printf "  %-40s peak %5.2f   (goal <= 1.2)\n" "convert jpeg-ls / voxel bytes" "$(peak "convert jpeg-ls")"
printf "  %-40s peak %5.2f\n" "load / voxel bytes" "$(peak "load")"
if [ "$WRITERS" = 1 ]; then
    printf "  %-40s wall %5.2f   (goal >= 1.0)\n" "dcmcjpls x$CPUS / convert jpeg-ls" \
        "$(ratio "dcmcjpls x$CPUS" "convert jpeg-ls" 1)"
    printf "  %-40s wall %5.2f   (goal >= 1.0)\n" "gdcmconv --j2k x$CPUS / convert j2k" \
        "$(ratio "gdcmconv --j2k x$CPUS" "convert j2k" 1)"
fi
if [ -n "$B" ]; then
    printf "  %-40s wall %5.2f   cpu %5.2f\n" "before / after, load j2k" "$(ratio "before: load j2k" "load j2k" 1)" \
        "$(ratio "before: load j2k" "load j2k" 2)"
    printf "  %-40s wall %5.2f   cpu %5.2f\n" "before / after, load" "$(ratio "before: load" "load" 1)" \
        "$(ratio "before: load" "load" 2)"
    printf "  %-40s peak %5.2f\n" "before: convert explicit / voxel bytes" "$(peak "before: convert explicit")"
fi
