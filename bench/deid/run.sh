#!/bin/sh
# Our `deidentify` against GDCM's gdcmanon on the same generated folder, in one run: ROUNDS
# interleaved rounds (ours, gdcmanon, ours, gdcmanon, ...) so that a changing load on the machine
# hits both alike; files/s of each per round, the median ratios of files/s and of wall time (ours
# with every file on disk before it is reported, gdcmanon with its files in the page cache), the
# CPU time of each, the machine's load; then the attributes each leaves with an identifying value
# in PHI-rich files (every attribute of the Basic table, private groups, nested sequences).
#
#   bench/deid/run.sh [BUILD_DIR] [PATIENTS STUDIES SERIES IMAGES]     (default: build 5 2 5 100)
#   ROUNDS=3 (default); OTHER=BUILD_DIR2 adds a second build of ours to each round (before/after);
#   the files go to TMPDIR (default /tmp), which must be a disk, not tmpfs, for the sync costs.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-$here/../../build}" && pwd)
patients=${2:-5} studies=${3:-2} series=${4:-5} images=${5:-100}
cli=$build/dravelin-dicom
gen=$build/dravelin-gen-data
table=$here/../../host/dicom/resources/deid-basic-profile.tsv
python=/usr/bin/python3   # Debian's, which has python3-pydicom

if ! command -v gdcmanon >/dev/null 2>&1; then
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq -o DPkg::Lock::Timeout=600 --no-install-recommends \
        libgdcm-tools >/dev/null
fi
if ! "$cli" --help 2>&1 | grep -q deidentify; then
    echo "$cli has no deidentify command (yet); build the CLI first" >&2
    exit 1
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/dravelin-deid-bench-XXXXXX")
trap 'rm -rf "$work"' EXIT
"$gen" folder "$work/in" --patients "$patients" --studies "$studies" --series "$series" --images "$images" >/dev/null
files=$(find "$work/in" -type f | wc -l)
# gdcmanon's basic profile encrypts the removed values for a certificate holder; a self-signed one does.
openssl req -x509 -newkey rsa:2048 -nodes -keyout "$work/key.pem" -out "$work/cert.pem" -subj /CN=bench -days 1 \
    >/dev/null 2>&1

now() { date +%s.%N; }
rate() { echo "$files / ($2 - $1)" | bc -l | xargs printf '%.0f'; }
median() { sort -g | awk '{v[NR]=$1} END {print (NR % 2) ? v[(NR+1)/2] : (v[NR/2] + v[NR/2+1]) / 2}'; }
rounds=${ROUNDS:-3}
other=${OTHER:+$(cd "$OTHER" && pwd)}

echo "files: $files, rounds: $rounds, in $(df -T "$work" | awk 'NR==2 {print $2}') ($work)," \
    "load before: $(uptime | sed 's/.*load average: //')"
timed() { /usr/bin/time -f '%e %U %S' -o "$work/time" "$@"; }
cpu() { awk '{printf "%.2f", $2 + $3}' "$work/time"; }
for round in $(seq "$rounds"); do
    rm -rf "$work/ours" "$work/other" "$work/gdcm"
    # Each run starts with nothing left to write back, so none pays for the one before it (gdcmanon
    # leaves its files to the page cache; our runs wait until theirs are on disk).
    sync
    t0=$(now); timed "$cli" deidentify "$work/in" "$work/ours" --profile basic >"$work/ours.txt" 2>/dev/null
    t1=$(now); ours_cpu=$(cpu)
    sync; t1b=$(now)
    timed gdcmanon -c "$work/cert.pem" -e -r --continue -i "$work/in" -o "$work/gdcm" >/dev/null 2>&1; t2=$(now)
    gdcm_cpu=$(cpu)
    sync; t2b=$(now)
    ours=$(rate "$t0" "$t1"); gdcm=$(rate "$t1b" "$t2")
    # The command's first summary line ends with the seconds of the conversion alone.
    convert=$(echo "$files / $(head -1 "$work/ours.txt" | awk '{print $(NF-1)}')" | bc -l | xargs printf '%.0f')
    wall=$(echo "($t1 - $t0) / ($t2 - $t1b)" | bc -l | xargs printf '%.2f')
    line="round $round: ours $ours files/s (conversion alone $convert, CPU $ours_cpu s), gdcmanon $gdcm files/s"
    line="$line (CPU $gdcm_cpu s, until on disk: $(rate "$t1b" "$t2b")), wall time ratio $wall"
    echo "$ours / $gdcm" | bc -l >>"$work/ratios"
    echo "$wall" >>"$work/walls"
    echo "$ours_cpu / $gdcm_cpu" | bc -l >>"$work/cpus"
    echo "$convert / $gdcm" | bc -l >>"$work/convert-ratios"
    if [ -n "$other" ]; then
        t3=$(now)
        LD_LIBRARY_PATH=$other "$other/dravelin-dicom" deidentify "$work/in" "$work/other" --profile basic \
            >/dev/null 2>&1 || true
        t4=$(now)
        line="$line; other build $(rate "$t3" "$t4") files/s"
        echo "$(rate "$t0" "$t1") / $(rate "$t3" "$t4")" | bc -l >>"$work/other-ratios"
    fi
    echo "$line"
done
rm -rf "$work/dumb"
sync; t0=$(now); gdcmanon --dumb --empty 10,10 --empty 10,20 -r --continue -i "$work/in" -o "$work/dumb" >/dev/null 2>&1
t1=$(now)
echo "gdcmanon --dumb (2 tags):  $(rate "$t0" "$t1") files/s (once)"
echo "median ratio ours/gdcmanon basic: $(median <"$work/ratios" | xargs printf '%.2f') (scan + conversion)," \
    "$(median <"$work/convert-ratios" | xargs printf '%.2f') (conversion alone)"
echo "median wall time ours/gdcmanon: $(median <"$work/walls" | xargs printf '%.2f') (goal <= 1.2)," \
    "CPU time ours/gdcmanon: $(median <"$work/cpus" | xargs printf '%.2f')"
[ -n "$other" ] && echo "median ratio ours/other build: $(median <"$work/other-ratios" | xargs printf '%.2f')"
echo "load after: $(uptime | sed 's/.*load average: //')"

"$python" "$here/phi_files.py" write "$table" "$work/phi" 5
"$cli" deidentify "$work/phi" "$work/phi-ours" --profile basic >/dev/null 2>&1 || true
gdcmanon -c "$work/cert.pem" -e -r --continue -i "$work/phi" -o "$work/phi-gdcm" >/dev/null 2>&1 || true
"$python" "$here/phi_files.py" check "$work/phi-ours" >"$work/left-ours.txt"
"$python" "$here/phi_files.py" check "$work/phi-gdcm" >"$work/left-gdcm.txt"
echo "identifying values left in PHI-rich files: ours $(wc -l <"$work/left-ours.txt"), gdcmanon $(wc -l <"$work/left-gdcm.txt")"
echo "attribute                                       ours  gdcmanon"
sort -u "$work/left-ours.txt" "$work/left-gdcm.txt" | while read -r name; do
    o=-; g=-
    grep -qxF "$name" "$work/left-ours.txt" && o=left
    grep -qxF "$name" "$work/left-gdcm.txt" && g=left
    printf '%-46s  %-4s  %s\n' "$name" "$o" "$g"
done
